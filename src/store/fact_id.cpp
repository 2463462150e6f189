#include "store/fact_id.hpp"

#include "frame/text.hpp"

namespace kc::store {

std::string uuid_v7(const UtcTime& now, std::span<const std::uint8_t, 10> random) {
    std::int64_t ms = now.seconds < 0 ? 0 : now.seconds * 1000 + now.nanos / 1'000'000;
    std::uint64_t stamp = static_cast<std::uint64_t>(ms) & 0xFFFFFFFFFFFFull;
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
    unsigned ms = now.nanos / 1'000'000;
    base.push_back('.');
    base.push_back(static_cast<char>('0' + ms / 100));
    base.push_back(static_cast<char>('0' + ms / 10 % 10));
    base.push_back(static_cast<char>('0' + ms % 10));
    base.push_back('Z');
    return base;
}

}  // namespace kc::store
