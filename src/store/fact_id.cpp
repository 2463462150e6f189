#include "store/fact_id.hpp"

#include <algorithm>

#include "frame/text.hpp"

namespace kc::store {
namespace {

// Milliseconds of the second; nanoseconds beyond a second read as its last
// millisecond.
unsigned millis_of(const UtcTime& t) { return std::min<std::uint32_t>(t.nanos, 999'999'999) / 1'000'000; }

}  // namespace

std::string uuid_v7(const UtcTime& now, std::span<const std::uint8_t, 10> random) {
    // Unsigned arithmetic wraps modulo 2^64, a multiple of the 2^48 the
    // field keeps, so far-future times keep their low bits without overflow.
    const std::uint64_t ms =
        now.seconds < 0 ? 0 : static_cast<std::uint64_t>(now.seconds) * 1000 + millis_of(now);
    const std::uint64_t stamp = ms & 0xFFFFFFFFFFFFull;
    std::array<std::uint8_t, 16> b{};
    for (int i = 0; i < 6; ++i) b[i] = static_cast<std::uint8_t>(stamp >> (40 - 8 * i));
    b[6] = static_cast<std::uint8_t>(0x70 | (random[0] & 0x0F));
    b[7] = random[1];
    b[8] = static_cast<std::uint8_t>(0x80 | (random[2] & 0x3F));
    for (int i = 9; i < 16; ++i) b[i] = random[static_cast<std::size_t>(i - 6)];
    std::string hex = to_hex(b);
    return cat(std::string_view(hex).substr(0, 8), "-", std::string_view(hex).substr(8, 4), "-",
               std::string_view(hex).substr(12, 4), "-", std::string_view(hex).substr(16, 4), "-",
               std::string_view(hex).substr(20));
}

std::string format_timestamp_millis(const UtcTime& now) {
    std::string base = format_utc_seconds(now.seconds);  // ends in "Z"
    base.pop_back();
    const unsigned ms = millis_of(now);
    base.push_back('.');
    base.push_back(static_cast<char>('0' + ms / 100));
    base.push_back(static_cast<char>('0' + ms / 10 % 10));
    base.push_back(static_cast<char>('0' + ms % 10));
    base.push_back('Z');
    return base;
}

}  // namespace kc::store
