// JJY: the frame keyed during a minute carries that minute in Japan
// Standard Time (UTC+9), which has no summer time; minutes 15 and 45 carry
// the call sign in Morse instead of the year, weekday and leap seconds.
#include "timecode/civil.h"
#include "timecode/station.h"
#include "timecode/timecode.h"

// 1 when frame[from .. to] holds an odd number of ones: PA1 and PA2 make
// their fields even.
static std::uint8_t EvenParity(const std::uint8_t* frame, int from, int to) {
    int ones = 0;
    for (int i = from; i <= to; ++i) ones += frame[i] == kLongPulse;
    return static_cast<std::uint8_t>(ones % 2);
}

void JJY(std::uint8_t* frame, std::int64_t carried, std::int32_t shown) {
    static const int kYear[] = {80, 40, 20, 10, 8, 4, 2, 1};
    static const int kWeekDay[] = {4, 2, 1};
    const std::tm jst = BreakDownSeconds(carried + 9 * 3600 + shown);
    PutMinuteHourDay(frame, jst);
    frame[36] = EvenParity(frame, 12, 18);  // PA1, hour
    frame[37] = EvenParity(frame, 1, 8);    // PA2, minute
    // 38 SU1 and 40 SU2 spare, 53 LS1 and 54 LS2 no leap second: all 0.
    if (jst.tm_min == 15 || jst.tm_min == 45) {
        // The call sign in 40-48; 50-55, the notice of a service
        // interruption, all 0: none planned.
        for (int second = 40; second <= 48; ++second) frame[second] = kMorse;
        return;
    }
    const int year = (jst.tm_year + 1900) % 100;
    for (int i = 0; i < 8; ++i) frame[41 + i] = static_cast<std::uint8_t>(GetBit(year, kYear[i]));
    for (int i = 0; i < 3; ++i) frame[50 + i] = static_cast<std::uint8_t>(GetBit(jst.tm_wday, kWeekDay[i]));
}
