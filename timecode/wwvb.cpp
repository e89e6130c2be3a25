// WWVB's amplitude code: the frame keyed during a UTC minute carries that
// minute, with the day of the year and the US daylight-saving state.
#include <initializer_list>

#include "timecode/civil.h"
#include "timecode/station.h"
#include "timecode/timecode.h"

// Seconds that carry one BCD bit of a field, most significant first; a
// second outside these and the markers is always 0.
struct Field {
    int first;
    int count;
    int weights[5];
};

static void PutField(std::uint8_t* frame, const Field& f, int value) {
    for (int i = 0; i < f.count; ++i) frame[f.first + i] = static_cast<std::uint8_t>(GetBit(value, f.weights[i]));
}

// The BCD fields and markers shared with JJY's first 36 seconds: minute,
// hour and day of the year.
void PutMinuteHourDay(std::uint8_t* frame, const std::tm& t) {
    static const Field kMinuteTens = {1, 3, {40, 20, 10}};
    static const Field kMinuteUnits = {5, 4, {8, 4, 2, 1}};
    static const Field kHourTens = {12, 2, {20, 10}};
    static const Field kHourUnits = {15, 4, {8, 4, 2, 1}};
    static const Field kDayTens = {25, 4, {80, 40, 20, 10}};
    static const Field kDayUnits = {30, 4, {8, 4, 2, 1}};
    for (int second = 0; second < 60; ++second) frame[second] = kShortPulse;
    for (int marker : {0, 9, 19, 29, 39, 49, 59}) frame[marker] = kMinuteMark;
    PutField(frame, kMinuteTens, t.tm_min);
    PutField(frame, kMinuteUnits, t.tm_min);
    PutField(frame, kHourTens, t.tm_hour);
    PutField(frame, kHourUnits, t.tm_hour);
    const int day = t.tm_yday + 1;
    frame[22] = (day / 100 & 2) != 0;  // hundreds of days: 200, 100
    frame[23] = (day / 100 & 1) != 0;
    PutField(frame, kDayTens, day % 100);
    PutField(frame, kDayUnits, day % 100);
}

void WWVB(std::uint8_t* frame, std::int64_t carried, std::int32_t shown) {
    static const Field kYearTens = {45, 4, {80, 40, 20, 10}};
    static const Field kYearUnits = {50, 4, {8, 4, 2, 1}};
    const std::tm t = BreakDownSeconds(carried + shown);
    PutMinuteHourDay(frame, t);
    // DUT1 +0.0 s: the positive sign 101 and magnitude 0000.
    frame[36] = 1;
    frame[38] = 1;
    const int year = (t.tm_year + 1900) % 100;
    PutField(frame, kYearTens, year);
    PutField(frame, kYearUnits, year);
    frame[55] = static_cast<std::uint8_t>(LEAP_YEAR(t.tm_year + 1900));
    // 57 and 58: daylight saving at the end and at the start of the UTC day.
    const std::int64_t day = FloorDiv(carried, kSecondsPerDay);
    frame[57] = UsDaylightTimeAtStartOf(day + 1);
    frame[58] = UsDaylightTimeAtStartOf(day);
}
