// What an option run sends and when: the frame keyed in each UTC minute
// under --time and --offset, the daily windows, the run limit, and the
// status line of a frame. Time is passed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/options.h"
#include "timecode/station.h"
#include "timecode/zone.h"

struct TransmitSettings {
    bool follow;      // take every second and minute from the UTC clock
    bool verbose;     // one status line per frame on standard output
    Zone zone;        // the time DCF77's frames carry
    Station station;  // the time code
    int verbosity = 0;          // 2: each frame's symbols as well
    double carrierHz = 77500;   // JJY on 60 kHz is named JJY60
    std::int64_t shift = 0;     // s from the UTC minute keyed to the minute whose frame it carries
    std::int32_t offset = 0;    // s added to the time shown, summer time unmoved
    int minutes = 0;            // stop after this many frames; 0: never
    const Window* windows = nullptr;  // send only within these; none: always
    int windowCount = 0;
    bool carrier = false;       // a steady full carrier instead of frames
};

// The UTC minute from which the frame carrying `shown`, as a clock of the
// station (and of `zone` for DCF77) shows it with `offset` added, is keyed:
// the earlier one when the minute occurs twice. False when it never occurs.
bool FrameStartShowing(Station station, Zone zone, std::int32_t offset, const ClockMinute& shown,
                       std::int64_t* frameStart);

std::string FormatClockMinute(const ClockMinute& m);

// The symbols of the frame keyed from UTC minute `frameStart`.
void BuildKeyedFrame(const TransmitSettings& settings, std::int64_t frameStart, std::uint8_t* frame);

// Whether the frame keyed from UTC minute `frameStart` lies in a window.
bool MinuteIsSent(const TransmitSettings& settings, std::int64_t frameStart);

// The first UTC minute from `from` on whose frame is sent; -1 when none
// within two days.
std::int64_t NextSentMinute(const TransmitSettings& settings, std::int64_t from);

// "2010-03-28 00:59:00 UTC  DCF77  clocks show Sun 2010-03-28 03:00 CEST
// at 01:00 UTC": the frame's start, the minute clocks show once it has
// ended, and when; with -vv a second line of the frame's symbols.
void FormatStatusLine(char* line, std::size_t size, const TransmitSettings& settings, std::int64_t frameStart,
                      const std::uint8_t* frame);
constexpr std::size_t kStatusLineSize = 512;

// One line per second of the frame: its symbol and the reduced parts of
// the second as keyed, in pause units.
void FormatFrameSeconds(std::string* text, const TransmitSettings& settings, const std::uint8_t* frame);
