// quaver: measures the timing factor that dcf77tx asks for, by timing the
// transmitter's own pauses against the UTC clock.
#include <cstdio>
#include <cstdlib>

#include "keying/keying.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // An optional argument sets the length of the measurement in seconds.
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    if (seconds < 2 || seconds > 86400) {
        std::fprintf(stderr, "usage: quaver [seconds, 2 to 86400; default 30]\n");
        return 2;
    }
    PrepareTimers();
    RaisePriority();
    std::printf("Timing %d s of dcf77tx pauses against the UTC clock.\n", seconds);
    const double ratio = MeasurePauseRatio(seconds, stdout);
    ReleaseTimers();
    // A ratio this far from 1 means the clock was set during the run.
    if (!(ratio > 0.5 && ratio < 2)) {
        std::printf("\nThe UTC clock changed during the measurement; run quaver again.\n");
        return 1;
    }
    std::printf("\n\nTiming Fudge Factor: %.1f\n", FactorForPauseRatio(ratio));
    std::printf("Type it at dcf77tx's factor prompt: it is the pause length, in pause units, that lasts 100 ms here.\n");
    return 0;
}
