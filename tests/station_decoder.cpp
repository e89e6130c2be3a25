#include "station_decoder.h"

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSecond = 1'000'000'000;

// Intervals [start, end) in which the line was asserted (carrier reduced).
static std::vector<std::pair<std::int64_t, std::int64_t>> Asserted(const std::vector<Edge>& edges) {
    std::vector<std::pair<std::int64_t, std::int64_t>> intervals;
    for (const Pulse& p : PulsesFromEdges(edges)) intervals.push_back({p.onset, p.onset + p.width});
    return intervals;
}

static bool Near(std::int64_t ns, int ms) { return ns > (ms - 30) * kMs && ns < (ms + 30) * kMs; }

std::map<std::int64_t, char> ReadSeconds(const std::string& station, const std::vector<Edge>& edges) {
    std::map<std::int64_t, char> seconds;
    const auto intervals = Asserted(edges);
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        // JJY's seconds begin with full carrier: read the gap before the
        // next reduction; the others begin with the reduction itself.
        const std::int64_t start = station == "jjy" ? intervals[i].second : intervals[i].first;
        if (station == "jjy" && i + 1 == intervals.size()) break;
        const std::int64_t length = station == "jjy" ? intervals[i + 1].first - start : intervals[i].second - start;
        const std::int64_t second = (start + kSecond / 2) / kSecond;
        if (std::llabs(start - second * kSecond) > kMs) continue;  // not on a second
        char symbol = 'C';
        if (station == "msf") {
            const bool splitB = i + 1 < intervals.size() && Near(intervals[i + 1].first - start, 200);
            symbol = Near(length, 500)   ? 'M'
                     : Near(length, 300) ? 'B'
                     : Near(length, 200) ? '1'
                     : Near(length, 100) ? (splitB ? 'S' : '0')
                                         : 'C';
        } else if (station == "wwvb") {
            symbol = Near(length, 800) ? 'M' : Near(length, 500) ? '1' : Near(length, 200) ? '0' : 'C';
        } else {
            symbol = Near(length, 200) ? 'M' : Near(length, 500) ? '1' : Near(length, 800) ? '0' : 'C';
        }
        seconds[second] = symbol;
    }
    return seconds;
}

// Sum of weights over the seconds whose bit is set.
static int Weighted(const std::string& bits, int first, std::initializer_list<int> weights) {
    int value = 0, i = first;
    for (int w : weights) value += bits[i++] == '1' ? w : 0;
    return value;
}

static int Ones(const std::string& bits, int from, int to) {
    int ones = 0;
    for (int i = from; i <= to; ++i) ones += bits[i] == '1';
    return ones;
}

// The Morse of JJY's seconds 40-48, from the full-carrier periods there.
static std::string Morse(std::int64_t start, const std::vector<Edge>& edges) {
    const auto intervals = Asserted(edges);
    std::string morse;
    // The first element starts on second 40: allow it the same millisecond
    // as every other second's edge.
    const std::int64_t from = start + 40 * kSecond - kMs, to = start + 49 * kSecond + kMs;
    for (std::size_t i = 0; i + 1 < intervals.size(); ++i) {
        const std::int64_t on = intervals[i].second, off = intervals[i + 1].first;
        if (on < from || off > to) continue;
        if (!morse.empty()) {
            const std::int64_t gap = on - intervals[i].first;
            morse += gap > 500 * kMs ? " / " : gap > 200 * kMs ? " " : "";
        }
        morse += off - on > 200 * kMs ? '-' : '.';
    }
    return morse;
}

static StationFrame Decode(const std::string& station, std::int64_t start, const std::string& s,
                           const std::vector<Edge>& edges) {
    StationFrame f{start, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, false};
    if (station == "msf") {
        std::string a, b;
        for (char c : s) {
            a += c == '1' || c == 'B' ? '1' : c == 'M' ? 'M' : '0';
            b += c == 'S' || c == 'B' ? '1' : '0';
        }
        if (a.substr(52, 8) != "01111110") f.error = "no minute identifier";
        if ((Ones(a, 17, 24) + (b[54] == '1')) % 2 != 1 || (Ones(a, 25, 35) + (b[55] == '1')) % 2 != 1 ||
            (Ones(a, 36, 38) + (b[56] == '1')) % 2 != 1 || (Ones(a, 39, 51) + (b[57] == '1')) % 2 != 1)
            f.error = "parity";
        f.year = Weighted(a, 17, {80, 40, 20, 10, 8, 4, 2, 1});
        f.month = Weighted(a, 25, {10, 8, 4, 2, 1});
        f.day = Weighted(a, 30, {20, 10, 8, 4, 2, 1});
        f.weekDay = Weighted(a, 36, {4, 2, 1});
        f.hour = Weighted(a, 39, {20, 10, 8, 4, 2, 1});
        f.minute = Weighted(a, 45, {40, 20, 10, 8, 4, 2, 1});
        f.warning = b[53] == '1';
        f.summer = b[58] == '1';
        return f;
    }
    for (int marker : {0, 9, 19, 29, 39, 49, 59})
        if (s[marker] != 'M') f.error = "marker missing at " + std::to_string(marker);
    f.minute = Weighted(s, 1, {40, 20, 10, 0, 8, 4, 2, 1});
    f.hour = Weighted(s, 12, {20, 10, 0, 8, 4, 2, 1});
    f.dayOfYear = Weighted(s, 22, {200, 100, 0, 80, 40, 20, 10, 0, 8, 4, 2, 1});
    if (station == "wwvb") {
        if (s.substr(36, 3) != "101" || s.substr(40, 4) != "0000") f.error = "DUT1 not +0.0";
        f.year = Weighted(s, 45, {80, 40, 20, 10, 0, 8, 4, 2, 1});
        f.leapYear = s[55] == '1';
        f.warning = s[57] == '1';
        f.summer = s[58] == '1';
        return f;
    }
    if (Ones(s, 12, 18) % 2 != (s[36] == '1') || Ones(s, 1, 8) % 2 != (s[37] == '1')) f.error = "parity";
    f.callSign = f.minute == 15 || f.minute == 45;
    if (f.callSign) {
        if (Morse(start * kSecond, edges) != ".--- .--- -.-- / .--- .--- -.--") f.error = "no call sign";
        if (s.substr(50, 9) != "000000000") f.error = "service notice not 0";
        return f;
    }
    f.year = Weighted(s, 41, {80, 40, 20, 10, 8, 4, 2, 1});
    f.weekDay = Weighted(s, 50, {4, 2, 1});
    return f;
}

std::vector<StationFrame> DecodeStationFrames(const std::string& station, const std::map<std::int64_t, char>& seconds,
                                              const std::vector<Edge>& edges) {
    std::vector<StationFrame> frames;
    for (const auto& [second, symbol] : seconds) {
        // MSF's minute starts with its 500 ms marker, the others' with the
        // second of two markers in a row.
        const auto before = seconds.find(second - 1);
        const bool starts = station == "msf" ? symbol == 'M'
                                             : symbol == 'M' && before != seconds.end() && before->second == 'M';
        if (!starts) continue;
        std::string s;
        for (std::int64_t t = second; t < second + 60; ++t) {
            const auto found = seconds.find(t);
            s += found != seconds.end() ? found->second : 'C';
        }
        if (seconds.rbegin()->first < second + 59) break;  // not whole
        frames.push_back(Decode(station, second, s, edges));
    }
    return frames;
}
