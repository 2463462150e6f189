// Fact identifiers and creation timestamps of prepared facts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "frame/clock.hpp"

namespace kc::store {

// RFC 9562 version 7 UUID, lower-case and hyphenated: 48 bits of Unix
// milliseconds (big-endian), the version nibble 7, then 74 random bits
// taken from `random` (the variant bits 10 are set over them). Times before
// the epoch clamp to 0; past the 48-bit range the count keeps its low bits.
// Nanoseconds beyond a second count as its last millisecond (here and in
// format_timestamp_millis).
std::string uuid_v7(const UtcTime& now, std::span<const std::uint8_t, 10> random);

// RFC 3339 with exactly three fraction digits and "Z":
// 2025-01-02T03:04:05.678Z.
std::string format_timestamp_millis(const UtcTime& now);

}  // namespace kc::store
