// The system's UTC clock as the program under test sees it, changed the
// way a run asks: stepped once, and running fast or slow against the
// monotonic clock. Both the program and the stamps of its line read it.
//   DCF_BENCH_UTC_PPM            how much faster it runs (negative: slower)
//   DCF_BENCH_UTC_STEP_MS        how far it steps, once
//   DCF_BENCH_UTC_STEP_AFTER_S   when, counted from the first reading
#include <cstdlib>

#include "platform/platform.h"

// The real clock; the build renames the Linux layer's own function.
UtcReading SystemUtcClock();

static long long Setting(const char* name) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoll(text) : 0;
}

UtcReading ReadUtcClock() {
    static const long long ppm = Setting("DCF_BENCH_UTC_PPM");
    static const long long stepNs = Setting("DCF_BENCH_UTC_STEP_MS") * 1'000'000;
    static const long long stepAfterNs = Setting("DCF_BENCH_UTC_STEP_AFTER_S") * 1'000'000'000;
    static const std::int64_t origin = MonotonicNanoseconds();
    const UtcReading system = SystemUtcClock();
    const std::int64_t elapsed = MonotonicNanoseconds() - origin;
    std::int64_t utc = system.seconds * 1'000'000'000 + system.nanoseconds + elapsed / 1'000 * ppm / 1'000;
    if (stepNs != 0 && elapsed >= stepAfterNs) utc += stepNs;
    return {utc / 1'000'000'000, static_cast<std::int32_t>(utc % 1'000'000'000)};
}
