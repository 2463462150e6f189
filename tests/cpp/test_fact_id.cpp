// Version 7 fact ids and millisecond timestamps.
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
