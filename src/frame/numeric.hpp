// Numeric conversions with defined behaviour for every input.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

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

// The values as consecutive little-endian IEEE 754 binary32, in order.
inline std::vector<std::uint8_t> pack_f32_le(std::span<const float> values) {
    std::vector<std::uint8_t> out(values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(values[i]);
        for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<std::uint8_t>(bits >> (8 * k));
    }
    return out;
}

// The inverse of pack_f32_le; 1 to 3 trailing bytes are ignored.
inline std::vector<float> unpack_f32_le(std::span<const std::uint8_t> bytes) {
    std::vector<float> out(bytes.size() / 4);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint8_t* p = bytes.data() + 4 * i;
        const std::uint32_t bits = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        out[i] = std::bit_cast<float>(bits);
    }
    return out;
}

}  // namespace kc
