// MSF: each second carries two bits, A and B; the frame keyed during one
// minute carries the next minute in UK civil time (GMT or BST).
#include "timecode/civil.h"
#include "timecode/station.h"
#include "timecode/timecode.h"

// Writes the A bits of `value` from `first` on, most significant weight
// first, as MSF orders them.
static int PutA(int* a, int first, int value, const int* weights, int count) {
    for (int i = 0; i < count; ++i) a[first + i] = GetBit(value, weights[i]);
    return first + count;
}

// 1 when a[from .. to] holds an even number of ones: the parity bits are
// odd over the bits they cover and themselves.
static int OddParity(const int* a, int from, int to) {
    int ones = 0;
    for (int i = from; i <= to; ++i) ones += a[i];
    return ones % 2 == 0;
}

void MSF(std::uint8_t* frame, std::int64_t carried, std::int32_t shown) {
    static const int kYear[] = {80, 40, 20, 10, 8, 4, 2, 1};
    static const int kMonth[] = {10, 8, 4, 2, 1};
    static const int kDay[] = {20, 10, 8, 4, 2, 1};
    static const int kWeekDay[] = {4, 2, 1};
    static const int kHour[] = {20, 10, 8, 4, 2, 1};
    static const int kMinute[] = {40, 20, 10, 8, 4, 2, 1};
    const std::int32_t offset = UkOffsetAt(carried);
    const std::tm local = BreakDownSeconds(carried + offset + shown);

    int a[60] = {};
    int b[60] = {};  // 1B-16B: DUT1, sent as 0
    int next = PutA(a, 17, (local.tm_year + 1900) % 100, kYear, 8);
    next = PutA(a, next, local.tm_mon + 1, kMonth, 5);
    next = PutA(a, next, local.tm_mday, kDay, 6);
    next = PutA(a, next, local.tm_wday, kWeekDay, 3);  // 0 = Sunday
    next = PutA(a, next, local.tm_hour, kHour, 6);
    PutA(a, next, local.tm_min, kMinute, 7);
    // 52A-59A read 01111110, the minute identifier.
    for (int second = 53; second <= 58; ++second) a[second] = 1;
    // 53B: the offset changes within the hour after the carried minute
    // starts, or did at its start (61 frames).
    b[53] = UkOffsetAt(carried - 1) != UkOffsetAt(carried + 3600);
    b[54] = OddParity(a, 17, 24);
    b[55] = OddParity(a, 25, 35);
    b[56] = OddParity(a, 36, 38);
    b[57] = OddParity(a, 39, 51);
    b[58] = offset != 0;  // BST in force

    frame[0] = kMinuteMark;
    for (int second = 1; second < 60; ++second) {
        if (a[second] == 0) frame[second] = b[second] != 0 ? kMsfSplit : kShortPulse;
        else frame[second] = b[second] != 0 ? kMsfBoth : kLongPulse;
    }
}
