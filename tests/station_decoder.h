// An independent receiver for MSF, WWVB and JJY, written from the
// stations' descriptions: turns the keying line's edges into one symbol per
// second and whole frames into the fields they carry.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "decoder.h"

// Symbols by the UTC second they start in: '0' and '1'; 'M' a marker; for
// MSF 'S' (A 0, B 1) and 'B' (A 1, B 1); 'C' any other carrier (JJY Morse).
std::map<std::int64_t, char> ReadSeconds(const std::string& station, const std::vector<Edge>& edges);

struct StationFrame {
    std::int64_t start;  // UTC second of the frame's second 0
    std::string error;   // empty when every check passed
    int year, month, day, dayOfYear, weekDay, hour, minute;  // weekDay 0 = Sunday
    int summer, warning;  // MSF 58B and 53B; WWVB 58 and 57
    int leapYear;         // WWVB 55
    bool callSign;        // JJY: seconds 40-48 keyed "JJY JJY" in Morse
};

// Every whole frame in `seconds`, in order.
std::vector<StationFrame> DecodeStationFrames(const std::string& station, const std::map<std::int64_t, char>& seconds,
                                              const std::vector<Edge>& edges);
