#include <cassert>
#include <cmath>
#include <limits>

#include "keying.h"

std::int32_t ms100, ms200, ms800, ms900, ms1000;

namespace keying {
double round(double x) {
    const double f = std::floor(x);
    return x - f >= 0.5 ? f + 1 : f;  // unordered (not a number): f
}
}  // namespace keying

#if !defined(__SIZEOF_INT128__)
#error "the duration arithmetic needs a 128-bit integer type"
#endif

__extension__ typedef unsigned __int128 Wide;
__extension__ typedef __int128 SignedWide;

// Fixed point for the software evaluation: a value is an integer / 2^80.
constexpr int kFractionBits = 80;

static int BitWidth(Wide v) {
    int width = 0;
    for (; v != 0; v >>= 1) ++width;
    return width;
}

// Rounds the magnitude `v` to `bits` significant bits, to nearest with ties
// to even; `sticky` says that nonzero bits lie below v's last bit.
static Wide RoundSignificand(Wide v, bool sticky, int bits) {
    const int width = BitWidth(v);
    if (width <= bits) {
        assert(!sticky);  // callers keep enough fraction bits for this
        return v;
    }
    const int drop = width - bits;
    const Wide kept = v >> drop;
    const Wide rest = v & ((Wide{1} << drop) - 1);
    const Wide half = Wide{1} << (drop - 1);
    const bool up = rest > half || (rest == half && (sticky || (kept & 1) != 0));
    return (kept + (up ? 1 : 0)) << drop;
}

double ExtendedScaledInSoftware(double factor, std::int32_t constant, std::int32_t minus) {
    const double magnitude = std::fabs(factor);
    // Outside this range (and for not-a-number) every duration is zero or
    // far beyond 32 bits, however precisely it is evaluated.
    if (!(magnitude >= 0x1p-10 && magnitude < 0x1p33) || constant < 100 || constant > 1000)
        return factor * constant / 100 - minus;

    int exponent = 0;
    const double mantissa = std::frexp(magnitude, &exponent);  // magnitude = mantissa * 2^exponent
    const Wide significand = static_cast<Wide>(std::ldexp(mantissa, 53));
    const int shift = exponent - 53 + kFractionBits;  // 18 .. 60 in the range above
    // F * constant is exact in 63 bits; the quotient keeps at least seven
    // fraction bits below its 64-bit significand, plus a sticky remainder.
    const Wide numerator = (significand * static_cast<Wide>(constant)) << shift;
    const Wide quotient = RoundSignificand(numerator / 100, numerator % 100 != 0, 64);

    SignedWide value = factor < 0 ? -static_cast<SignedWide>(quotient) : static_cast<SignedWide>(quotient);
    value -= static_cast<SignedWide>(minus) * (SignedWide{1} << kFractionBits);
    const bool negative = value < 0;
    const Wide difference = static_cast<Wide>(negative ? -value : value);
    const Wide nearest = RoundSignificand(RoundSignificand(difference, false, 64), false, 53);
    const double result = std::ldexp(static_cast<double>(nearest), -kFractionBits);
    return negative ? -result : result;
}

double ExtendedScaled(double factor, std::int32_t constant, std::int32_t minus) {
    if constexpr (std::numeric_limits<long double>::digits == 64) {
        const long double scaled = static_cast<long double>(factor) * constant / 100 - minus;
        return static_cast<double>(scaled);
    } else {
        return ExtendedScaledInSoftware(factor, constant, minus);
    }
}

// Stores a whole number as a duration: beyond the 32-bit range it
// saturates, and not-a-number gives 0.
static std::int32_t ToDuration(double whole) {
    if (std::isnan(whole)) return 0;
    if (whole >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (whole <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(whole);
}

std::int32_t ScaledDuration(std::int32_t nominal) { return ScaledDurationFor(Fudge, nominal); }

std::int32_t ScaledDurationFor(double factor, std::int32_t nominal) {
    return ToDuration(keying::round(ExtendedScaled(factor, nominal, 0)));
}

void DeriveDurations() {
    // The rests are taken from the rounded pulses so that every second of a
    // frame lasts exactly ms1000.
    ms100 = ToDuration(keying::round(ExtendedScaled(Fudge, 100, 0)));
    ms200 = ToDuration(keying::round(ExtendedScaled(Fudge, 200, 0)));
    ms800 = ToDuration(keying::round(ExtendedScaled(Fudge, 1000, ms200)));
    ms900 = ToDuration(keying::round(ExtendedScaled(Fudge, 1000, ms100)));
    ms1000 = ToDuration(keying::round(ExtendedScaled(Fudge, 1000, 0)));
}
