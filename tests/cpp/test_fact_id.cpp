// Version 7 fact ids and millisecond timestamps.
#include <climits>

#include "check.hpp"
#include "store/fact_id.hpp"

using namespace kc;

KC_TEST(uuid_v7_layout) {
    // RFC 9562's example instant: 2022-02-22T19:22:22.000Z = 0x017F22E279B0 ms.
    UtcTime t{1645557742, 0};
    std::array<std::uint8_t, 10> r = {0xFC, 0xC3, 0x98, 0xC4, 0xDC, 0x0C, 0x0C, 0x07, 0x39, 0x8F};
    CHECK_EQ(store::uuid_v7(t, r), "017f22e2-79b0-7cc3-98c4-dc0c0c07398f");
    std::array<std::uint8_t, 10> ones;
    ones.fill(0xFF);
    std::string id = store::uuid_v7(UtcTime{0, 999'999'999}, ones);
    CHECK_EQ(id, "00000000-03e7-7fff-bfff-ffffffffffff");
}

KC_TEST(timestamp_has_three_fraction_digits) {
    CHECK_EQ(store::format_timestamp_millis(UtcTime{1735787045, 678'900'000}), "2025-01-02T03:04:05.678Z");
    CHECK_EQ(store::format_timestamp_millis(UtcTime{1735787045, 0}), "2025-01-02T03:04:05.000Z");
    CHECK_EQ(store::format_timestamp_millis(UtcTime{0, 5'000'000}), "1970-01-01T00:00:00.005Z");
}

KC_TEST(fact_ids_and_timestamps_at_the_ends_of_the_clock_range) {
    std::array<std::uint8_t, 10> zeros{};
    // The 48-bit millisecond field keeps the low bits of the count; seconds
    // near the int64 limit must not overflow on the way.
    // (2^63 - 1) * 1000 mod 2^48 = 0xfffffffffc18.
    CHECK_EQ(store::uuid_v7(UtcTime{INT64_MAX, 0}, zeros), "ffffffff-fc18-7000-8000-000000000000");
    CHECK_EQ(store::uuid_v7(UtcTime{INT64_MIN, 0}, zeros), "00000000-0000-7000-8000-000000000000");
    // Nanoseconds beyond a second are read as the last millisecond of it.
    CHECK_EQ(store::format_timestamp_millis(UtcTime{0, 4'000'000'000u}), "1970-01-01T00:00:00.999Z");
    CHECK_EQ(store::uuid_v7(UtcTime{0, 4'000'000'000u}, zeros), "00000000-03e7-7000-8000-000000000000");
}
