// The carrier of one second for every station and symbol: where within the
// second the keying line is asserted (carrier reduced) or negated (full).
#include "keying.h"

namespace {
// Morse for the JJY call sign, "JJY JJY", in units of kMorseUnitMs: the
// carrier is on (full) for a dot (1) or a dash (3), off between them (1),
// between letters (3) and between the words (7).
constexpr int kMorseUnitMs = 90;
constexpr int kMorseFirstSecond = 40;
const char kCallSign[] = ".--- .--- -.--   .--- .--- -.--";
}  // namespace

// Ends of the carrier's on (full) periods in the call sign, in ms from the
// start of second 40, each after the start of the same period.
static int MorseOnPeriods(int* starts, int* ends) {
    int count = 0, at = 0;
    for (const char* c = kCallSign; *c; ++c) {
        if (*c == ' ') {
            // A letter's last element was followed by one unit already.
            at += 2 * kMorseUnitMs;
            continue;
        }
        const int length = (*c == '.' ? 1 : 3) * kMorseUnitMs;
        starts[count] = at;
        ends[count++] = at + length;
        at += length + kMorseUnitMs;
    }
    return count;
}

static void Add(SecondPattern& p, bool asserted, int end) {
    // An empty period adds nothing; one that continues the previous one
    // only moves its end.
    if (end <= (p.count > 0 ? p.end[p.count - 1] : 0)) return;
    if (p.count > 0 && p.asserted[p.count - 1] == asserted) {
        p.end[p.count - 1] = end;
        return;
    }
    p.asserted[p.count] = asserted;
    p.end[p.count++] = end;
}

// The part of the call sign that falls into second `position`.
static SecondPattern MorseSecond(int position) {
    static int starts[32], ends[32];
    static const int periods = MorseOnPeriods(starts, ends);
    const int from = (position - kMorseFirstSecond) * 1000;
    SecondPattern p{};
    int at = 0;  // ms into this second
    for (int i = 0; i < periods; ++i) {
        const int start = starts[i] - from, end = ends[i] - from;
        if (end <= 0 || start >= 1000) continue;
        if (start > at) Add(p, true, start);
        at = end < 1000 ? end : 1000;
        Add(p, false, at);
    }
    if (at < 1000) Add(p, true, 1000);
    return p;
}

// A second that starts in one state for `first` ms and ends in the other.
static SecondPattern TwoPeriods(bool firstAsserted, int first) {
    SecondPattern p{};
    Add(p, firstAsserted, first);
    Add(p, !firstAsserted, 1000);
    return p;
}

SecondPattern PatternOf(Station station, std::uint8_t symbol, int position) {
    switch (station) {
    case STATION_DCF77:
        // Reduced for 100 or 200 ms; the minute mark not at all.
        if (symbol == kMinuteMark) return TwoPeriods(false, 1000);
        return TwoPeriods(true, symbol == kLongPulse ? 200 : 100);
    case STATION_MSF:
        // Off for 100 ms, for bits A and B 100 ms more each; a B alone
        // brings the carrier back between them; the minute marker 500 ms.
        if (symbol == kMsfSplit) {
            SecondPattern p{};
            Add(p, true, 100);
            Add(p, false, 200);
            Add(p, true, 300);
            Add(p, false, 1000);
            return p;
        }
        return TwoPeriods(true, symbol == kMinuteMark ? 500 : symbol == kMsfBoth ? 300
                                                            : symbol == kLongPulse ? 200 : 100);
    case STATION_WWVB:
        return TwoPeriods(true, symbol == kMinuteMark ? 800 : symbol == kLongPulse ? 500 : 200);
    case STATION_JJY:
        // The opposite polarity: full carrier first, longest for a 0.
        if (symbol == kMorse) return MorseSecond(position);
        return TwoPeriods(false, symbol == kMinuteMark ? 200 : symbol == kLongPulse ? 500 : 800);
    }
    return TwoPeriods(false, 1000);
}

int StationLengths(Station station, std::int32_t* lengths) {
    static const std::int32_t kDcf77[] = {100, 200, 1000};
    static const std::int32_t kMsf[] = {100, 200, 300, 500, 1000};
    static const std::int32_t kWwvbJjy[] = {200, 500, 800, 1000};
    const std::int32_t* from = station == STATION_DCF77 ? kDcf77 : station == STATION_MSF ? kMsf : kWwvbJjy;
    const int count = station == STATION_DCF77 ? 3 : station == STATION_MSF ? 5 : 4;
    for (int i = 0; i < count; ++i) lengths[i] = ScaledDuration(from[i]);
    return count;
}
