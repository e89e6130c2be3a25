// Reads QEMU's trace of an emulated PC's UART register writes and checks
// and decodes what the serial driver did to COM2's modem-control lines.
//
//   decode_trace check TRACE YEAR MONTH DAY HOUR MINUTE WEEKDAY
//       checks the line settings, the order of DTR and RTS, the pulse
//       widths, and that the first whole frame decodes to the given minute
//       and every later one to the minute after it; exit status 0 if so.
//   decode_trace service TRACE KILLED
//       for the service under systemd, which the guest kills at UTC second
//       KILLED and systemd starts again: every whole frame decodes to the
//       UTC minute after the one it starts in, at least one comes before
//       the kill, and one starts within two minutes after it.
//   decode_trace live TRACE
//       follows the trace as it grows and prints each minute once keyed.
//
// The trace holds both UARTs' writes without saying whose: the guest
// prints a marker on its console (COM1) just before the transmitter
// starts, and only what follows the marker is read. After it, COM1 only
// sends text, so every modem-control or parameter change is COM2's.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "decoder.h"

static const char kMarker[] = "DCF77TX-START";

struct Trace {
    std::vector<std::string> parameters;  // serial_update_parameters after the marker
    std::vector<std::pair<std::int64_t, int>> modemControl;  // time in ns, MCR value
    bool markerSeen = false;
};

// Lines look like "1234@1796618562.421270:serial_write write addr 0x04 val 0x0b".
static Trace ReadTrace(const std::string& path) {
    Trace trace;
    std::ifstream in(path);
    std::string line, sent;
    while (std::getline(in, line)) {
        long long seconds = 0, micros = 0;
        const std::size_t at = line.find('@');
        if (at == std::string::npos || std::sscanf(line.c_str() + at + 1, "%lld.%lld", &seconds, &micros) != 2)
            continue;
        const std::int64_t time = seconds * 1'000'000'000 + micros * 1'000;
        unsigned addr = 0, value = 0;
        const std::size_t write = line.find("serial_write write addr ");
        if (write != std::string::npos && std::sscanf(line.c_str() + write, "serial_write write addr %x val %x", &addr,
                                                      &value) == 2) {
            if (!trace.markerSeen) {
                if (addr == 0) {
                    sent += static_cast<char>(value);
                    if (sent.size() > 64) sent.erase(0, sent.size() - 64);
                    trace.markerSeen = sent.find(kMarker) != std::string::npos;
                }
            } else if (addr == 4) {
                trace.modemControl.push_back({time, static_cast<int>(value)});
            }
            continue;
        }
        const std::size_t update = line.find("serial_update_parameters ");
        if (update != std::string::npos && trace.markerSeen) trace.parameters.push_back(line.substr(update + 25));
    }
    return trace;
}

// The DTR edges of the keying, from the modem-control register values.
static std::vector<Edge> DtrEdges(const Trace& trace) {
    std::vector<Edge> edges;
    for (const auto& [time, value] : trace.modemControl) edges.push_back({time, (value & 1) != 0});
    return edges;
}

static const char* const kDays[] = {"", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

static void PrintMinute(const DecodedMinute& m, const std::vector<Pulse>& pulses) {
    if (!m.valid) {
        std::printf("frame starting at %.3f s: not decodable (%s)\n", m.start / 1e9, m.error.c_str());
        return;
    }
    double low[2] = {1e9, 1e9}, high[2] = {0, 0};
    int count[2] = {0, 0};
    for (const Pulse& p : pulses)
        if (p.onset >= m.start && p.onset < m.start + 59'500'000'000) {
            const int bit = p.width > 150'000'000 ? 1 : 0;
            const double ms = p.width / 1e6;
            low[bit] = std::min(low[bit], ms);
            high[bit] = std::max(high[bit], ms);
            ++count[bit];
        }
    std::printf("20%02d-%02d-%02d %02d:%02d %s   0: %2d pulses of %.0f..%.0f ms   1: %2d pulses of %.0f..%.0f ms\n",
                m.year, m.month, m.day, m.hour, m.minute, kDays[m.weekday], count[0], low[0], high[0], count[1],
                low[1], high[1]);
    std::fflush(stdout);
}

static int Fail(const std::string& why) {
    std::printf("FAIL: %s\n", why.c_str());
    return 1;
}

// The DTR/RTS states the register went through, each change once: bit 0
// DTR, bit 1 RTS.
static std::vector<int> LineStates(const Trace& trace) {
    std::vector<int> states;
    for (const auto& [time, value] : trace.modemControl)
        if (states.empty() || states.back() != (value & 3)) states.push_back(value & 3);
    return states;
}

// Asserting: 0 -> DTR -> DTR+RTS; negating: DTR+RTS -> RTS -> 0.
static bool DtrFirst(int from, int to) {
    return (from == 0 && to == 1) || (from == 1 && to == 3) || (from == 3 && to == 2) || (from == 2 && to == 0);
}

// About 100 or 200 ms, never in between.
static bool IsCodePulse(double ms) { return (ms >= 60 && ms <= 140) || (ms >= 160 && ms <= 260); }

static int Check(const std::string& path, const int expected[6]) {
    const Trace trace = ReadTrace(path);
    if (!trace.markerSeen) return Fail("the start marker is not in the trace");
    // Line settings: every change after the start is 9600 8N1.
    if (trace.parameters.empty()) return Fail("no line settings were written");
    for (const std::string& p : trace.parameters)
        if (p != "baudrate=9600 parity='N' data=8 stop=1") return Fail("line settings " + p);
    std::printf("line settings: %s (%zu writes)\n", trace.parameters.back().c_str(), trace.parameters.size());

    // DTR and RTS: the open asserts both at once; from then on each write
    // moves one line, DTR first, until the process ends and the close
    // (hang-up on close) may drop both together.
    const std::vector<int> states = LineStates(trace);
    std::size_t first = 0;
    while (first < states.size() && states[first] != 3) ++first;
    if (first == states.size()) return Fail("DTR and RTS were never both asserted after the open");
    for (std::size_t i = first + 1; i < states.size(); ++i) {
        const int from = states[i - 1], to = states[i];
        const bool closing = i + 1 == states.size() && to == 0;
        // Option runs let go of both lines together right after the open.
        const bool released = i == first + 1 && to == 0;
        if (!DtrFirst(from, to) && !closing && !released)
            return Fail("modem lines went from " + std::to_string(from) + " to " + std::to_string(to) +
                        " (bit 0 DTR, bit 1 RTS)");
    }
    std::printf("DTR and RTS: asserted after the open; %zu changes, DTR first every time\n", states.size() - first - 1);

    const std::vector<Pulse> pulses = PulsesFromEdges(DtrEdges(trace));
    int zeros = 0, ones = 0;
    for (std::size_t i = 1; i < pulses.size(); ++i) {  // the first began at the open
        const double ms = pulses[i].width / 1e6;
        if (IsCodePulse(ms)) ++(ms < 150 ? zeros : ones);
        else if (i + 1 < pulses.size()) return Fail("a pulse of " + std::to_string(ms) + " ms");
    }
    std::printf("pulses: %d of about 100 ms, %d of about 200 ms\n", zeros, ones);

    std::vector<DecodedMinute> minutes = DecodeMinutes(pulses, false);
    // Where the open's brief pulse stands alone before the first minute
    // (option runs let go of the lines at once), it is no frame.
    if (!minutes.empty() && !minutes.front().valid && pulses.size() > 1 && minutes.front().start < pulses[1].onset)
        minutes.erase(minutes.begin());
    if (minutes.empty()) return Fail("no whole frame");
    int y = expected[0], mo = expected[1], d = expected[2], h = expected[3], mi = expected[4], wd = expected[5];
    for (const DecodedMinute& m : minutes) {
        PrintMinute(m, pulses);
        if (!m.valid) return Fail("frame not decodable: " + m.error);
        if (m.year != y % 100 || m.month != mo || m.day != d || m.hour != h || m.minute != mi || m.weekday != wd)
            return Fail("frame decodes to another minute than expected");
        if (m.bits.size() != 59) return Fail("frame without a silent second 59");
        // The next frame carries the next minute; these runs never cross a day.
        ++mi;
    }
    std::printf("PASS: %zu frame(s) decoded\n", minutes.size());
    return 0;
}

// DCF77's weekday: Monday 1 to Sunday 7.
static int Weekday(const std::tm& t) { return t.tm_wday == 0 ? 7 : t.tm_wday; }

static int CheckService(const std::string& path, std::int64_t killed) {
    constexpr std::int64_t kSecond = 1'000'000'000;
    const Trace trace = ReadTrace(path);
    if (!trace.markerSeen) return Fail("the start marker is not in the trace");
    // Each open asserts both lines at once (0 -> 3) and each close, at the
    // kill too, drops what is left; in between DTR moves first every time.
    const std::vector<int> states = LineStates(trace);
    int opens = !states.empty() && states[0] == 3 ? 1 : 0;
    for (std::size_t i = 1; i < states.size(); ++i) {
        const int from = states[i - 1], to = states[i];
        if (from == 0 && to == 3) ++opens;
        else if (!DtrFirst(from, to) && to != 0)
            return Fail("modem lines went from " + std::to_string(from) + " to " + std::to_string(to));
    }
    std::printf("DTR and RTS: %d opens; DTR first on every other change\n", opens);
    if (opens != 2) return Fail("expected the start and one restart");

    const std::vector<Pulse> pulses = PulsesFromEdges(DtrEdges(trace));
    const std::vector<DecodedMinute> minutes = DecodeMinutes(pulses, false);
    int before = 0;
    std::int64_t firstAfter = 0;
    for (const DecodedMinute& m : minutes) {
        PrintMinute(m, pulses);
        // The frame under way when the process was killed ends there, and
        // the restart's open raises the lines for a moment before it lets
        // go of them: both stand alone before the next whole frame.
        if (!m.valid && m.start + 60 * kSecond > killed * kSecond && m.start < (killed + 30) * kSecond) {
            std::printf("  cut by the kill, or the restart's open\n");
            continue;
        }
        if (!m.valid) return Fail("frame not decodable: " + m.error);
        if (m.bits.size() != 59) return Fail("frame without a silent second 59");
        for (const Pulse& p : pulses)
            if (p.onset >= m.start && p.onset < m.start + 59 * kSecond && !IsCodePulse(p.width / 1e6))
                return Fail("a pulse of " + std::to_string(p.width / 1e6) + " ms");
        // The guest's clock is the host's to within a second or two.
        const std::int64_t minute = (m.start + 30 * kSecond) / (60 * kSecond) * 60;
        const std::time_t carried = static_cast<std::time_t>(minute + 60);
        const std::tm t = *std::gmtime(&carried);
        std::printf("  starts %+.3f s from the host's minute\n", (m.start - minute * kSecond) / 1e9);
        if (m.year != t.tm_year % 100 || m.month != t.tm_mon + 1 || m.day != t.tm_mday || m.hour != t.tm_hour ||
            m.minute != t.tm_min || m.weekday != Weekday(t))
            return Fail("frame does not carry the UTC minute after its start");
        if (m.start + 60 * kSecond <= killed * kSecond) ++before;
        else if (m.start > killed * kSecond && firstAfter == 0) firstAfter = m.start;
    }
    if (before == 0) return Fail("no whole frame before the kill");
    if (firstAfter == 0) return Fail("no whole frame after the kill");
    const double resumed = (firstAfter - killed * kSecond) / 1e9;
    std::printf("killed at %lld; the next whole frame started %.1f s later\n", static_cast<long long>(killed), resumed);
    // Restarted within seconds, the port opened and its lines let go at
    // once: the next minute is a whole frame.
    if (resumed > 60) return Fail("frames resumed more than a minute after the kill");
    std::printf("PASS: %zu frame(s) decoded, %d before the kill\n", minutes.size(), before);
    return 0;
}

static int Live(const std::string& path) {
    std::size_t printed = 0;
    for (;;) {
        const Trace trace = ReadTrace(path);
        const std::vector<Pulse> pulses = PulsesFromEdges(DtrEdges(trace));
        const std::vector<DecodedMinute> minutes = DecodeMinutes(pulses, false);
        for (; printed < minutes.size(); ++printed) PrintMinute(minutes[printed], pulses);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

int main(int argc, char** argv) {
    if (argc == 9 && std::strcmp(argv[1], "check") == 0) {
        int expected[6];
        for (int i = 0; i < 6; ++i) expected[i] = std::atoi(argv[3 + i]);
        return Check(argv[2], expected);
    }
    if (argc == 4 && std::strcmp(argv[1], "service") == 0) return CheckService(argv[2], std::atoll(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "live") == 0) return Live(argv[2]);
    std::fprintf(stderr, "usage: decode_trace check TRACE YEAR MONTH DAY HOUR MINUTE WEEKDAY\n"
                         "       decode_trace service TRACE KILLED\n"
                         "       decode_trace live TRACE\n");
    return 2;
}
