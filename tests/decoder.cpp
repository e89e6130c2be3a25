#include "decoder.h"

std::vector<Pulse> PulsesFromEdges(const std::vector<Edge>& edges) {
    std::vector<Pulse> pulses;
    bool asserted = false;
    std::int64_t onset = 0;
    for (const Edge& e : edges) {
        if (e.asserted && !asserted) onset = e.time;
        if (!e.asserted && asserted) pulses.push_back({onset, e.time - onset});
        asserted = e.asserted;
    }
    return pulses;
}

// A reduction of about 100 ms is a 0, of about 200 ms a 1.
static int Bit(const Pulse& p) { return p.width > 150'000'000 ? 1 : 0; }

// Adds up bits[first ..] with the given weights.
static int Bcd(const std::vector<int>& bits, int first, std::initializer_list<int> weights) {
    int value = 0, i = first;
    for (int w : weights) value += bits[i++] * w;
    return value;
}

static bool EvenParity(const std::vector<int>& bits, int first, int last) {
    int ones = 0;
    for (int i = first; i <= last; ++i) ones += bits[i];
    return ones % 2 == 0;
}

static DecodedMinute Decode(std::vector<int> bits, std::int64_t start) {
    DecodedMinute m{start, false, "", 0, 0, 0, 0, 0, 0, bits};
    if (bits.size() != 59) {
        m.error = "frame of " + std::to_string(bits.size()) + " pulses";
        return m;
    }
    if (bits[0] != 0) m.error = "bit 0 is not 0";
    else if (bits[20] != 1) m.error = "bit 20 is not 1";
    else if (!EvenParity(bits, 21, 28)) m.error = "minute parity";
    else if (!EvenParity(bits, 29, 35)) m.error = "hour parity";
    else if (!EvenParity(bits, 36, 58)) m.error = "date parity";
    else if (bits[17] == 1 && bits[18] == 1) m.error = "summer and standard time both set";
    if (!m.error.empty()) return m;
    const int digits[][2] = {{Bcd(bits, 21, {1, 2, 4, 8}), Bcd(bits, 25, {1, 2, 4})},
                             {Bcd(bits, 29, {1, 2, 4, 8}), Bcd(bits, 33, {1, 2})},
                             {Bcd(bits, 36, {1, 2, 4, 8}), Bcd(bits, 40, {1, 2})},
                             {Bcd(bits, 45, {1, 2, 4, 8}), Bcd(bits, 49, {1})},
                             {Bcd(bits, 50, {1, 2, 4, 8}), Bcd(bits, 54, {1, 2, 4, 8})}};
    for (const auto& d : digits)
        if (d[0] > 9 || d[1] > 9) {
            m.error = "not a BCD digit";
            return m;
        }
    m.minute = digits[0][0] + 10 * digits[0][1];
    m.hour = digits[1][0] + 10 * digits[1][1];
    m.day = digits[2][0] + 10 * digits[2][1];
    m.weekday = Bcd(bits, 42, {1, 2, 4});
    m.month = digits[3][0] + 10 * digits[3][1];
    m.year = digits[4][0] + 10 * digits[4][1];
    if (m.minute > 59 || m.hour > 23 || m.day < 1 || m.day > 31 || m.weekday < 1 || m.month < 1 ||
        m.month > 12) {
        m.error = "field out of range";
        return m;
    }
    m.announce = bits[16];
    m.summer = bits[17];
    m.standard = bits[18];
    m.valid = true;
    return m;
}

std::vector<DecodedMinute> DecodeMinutes(const std::vector<Pulse>& pulses, bool firstPulseStartsMinute) {
    std::vector<DecodedMinute> minutes;
    bool inFrame = false;
    std::vector<int> bits;
    std::int64_t start = 0;
    const Pulse* previous = nullptr;  // the last pulse of the code seen
    for (std::size_t i = 0; i < pulses.size(); ++i) {
        // A reduction of half a second or more is no pulse of the code (the
        // line held since it was opened, say): it breaks the framing.
        if (pulses[i].width >= 500'000'000) {
            inFrame = false;
            previous = nullptr;
            continue;
        }
        // More than 1.5 s between onsets: the second before this one had no
        // pulse, so this pulse is second 0 of a new minute.
        const bool newMinute = i == 0 ? firstPulseStartsMinute
                                      : previous != nullptr && pulses[i].onset - previous->onset > 1'500'000'000;
        if (newMinute) {
            if (inFrame) minutes.push_back(Decode(bits, start));
            inFrame = true;
            bits.clear();
            start = pulses[i].onset;
        }
        if (inFrame) bits.push_back(Bit(pulses[i]));
        previous = &pulses[i];
    }
    if (inFrame && bits.size() == 59) minutes.push_back(Decode(bits, start));
    return minutes;
}
