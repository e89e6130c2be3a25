// A stand-in pause that lasts a set fraction longer than asked, on the
// simulated clock, for testing the calibration.
#include "keying/keying.h"
#include "sim_platform.h"
#include "stretched_pause.h"

double pauseStretch = 1.0;

void PauseMs(std::int32_t ms) {
    if (ms > 0) sim::now += static_cast<std::int64_t>(ms * 1e6 * pauseStretch);
}

void AnchorPauses(std::int64_t) {}

std::int64_t PauseUntil(std::int64_t deadline) {
    if (deadline > sim::now) sim::now = deadline;
    return sim::now;
}

std::int64_t EarlyWakeNanoseconds() { return 0; }
