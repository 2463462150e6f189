// Numeric conversions with defined behaviour for every input.
#pragma once

#include <limits>

namespace kc {

// Round-to-nearest-even narrowing of a double to a float that stays
// defined beyond the float range: such values become infinities or the
// largest float exactly as IEEE conversion gives (a plain static_cast is
// undefined there). NaN stays NaN.
inline float narrow_to_float(double v) {
    constexpr double max = std::numeric_limits<float>::max();
    // Halfway between FLT_MAX and the next power of two: from here on the
    // value rounds to infinity (the tie goes to the even infinity).
    constexpr double overflow = 0x1.ffffffp127;
    if (v >= overflow) return std::numeric_limits<float>::infinity();
    if (v <= -overflow) return -std::numeric_limits<float>::infinity();
    if (v > max) return std::numeric_limits<float>::max();
    if (v < -max) return -std::numeric_limits<float>::max();
    return static_cast<float>(v);
}

}  // namespace kc
