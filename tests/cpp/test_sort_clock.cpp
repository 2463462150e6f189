// The stable sort under consistent and inconsistent comparisons, and the
// calendar arithmetic.
#include <cmath>
#include <random>
#include <string>

#include "check.hpp"
#include "frame/clock.hpp"
#include "frame/sort.hpp"

using namespace kc;

KC_TEST(stable_sort_keeps_ties_in_input_order) {
    std::vector<std::pair<int, int>> v;
    for (int i = 0; i < 100; ++i) v.push_back({(i * 37) % 7, i});
    stable_sort(v, [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < v.size(); ++i) {
        CHECK(v[i - 1].first <= v[i].first);
        if (v[i - 1].first == v[i].first) CHECK(v[i - 1].second < v[i].second);
    }
}

KC_TEST(stable_sort_survives_nan_and_random_comparisons) {
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<double> v;
        for (int i = 0; i < 97; ++i) v.push_back(i % 5 == 0 ? std::nan("") : static_cast<double>(rng() % 10));
        auto sorted = v;
        // NaN compares equal to everything: not a strict weak ordering.
        stable_sort(sorted, [](double a, double b) { return a > b; });
        CHECK_EQ(sorted.size(), v.size());
        // An outright random comparison must still give a permutation.
        std::vector<int> ids(64);
        for (int i = 0; i < 64; ++i) ids[i] = i;
        stable_sort(ids, [&](int, int) { return rng() % 2 == 0; });
        std::vector<bool> seen(64, false);
        for (int id : ids) {
            CHECK(id >= 0 && id < 64);
            if (id >= 0 && id < 64) seen[id] = true;
        }
        for (bool s : seen) CHECK(s);
    }
}

KC_TEST(civil_dates) {
    CHECK_EQ(format_utc_seconds(0), "1970-01-01T00:00:00Z");
    CHECK_EQ(format_utc_seconds(951782400), "2000-02-29T00:00:00Z");
    CHECK_EQ(format_utc_seconds(1700000000), "2023-11-14T22:13:20Z");
    CHECK_EQ(format_utc_seconds(-1), "1969-12-31T23:59:59Z");
    CHECK_EQ(format_utc_seconds(253402300799), "9999-12-31T23:59:59Z");
    CHECK_EQ(format_utc_seconds(-62167219200), "0000-01-01T00:00:00Z");
    CHECK_EQ(format_utc_seconds(-62167219201), "-0001-12-31T23:59:59Z");
    CHECK_EQ(format_utc_seconds(253402300800), "+10000-01-01T00:00:00Z");
    CivilTime far = to_civil(8210298412799);  // the last second of year 262143
    CHECK_EQ(far.year, 262143);
    CHECK_EQ(far.month, 12u);
    CHECK_EQ(far.day, 31u);
    for (std::int64_t s : {0LL, 86399LL, -86401LL, 1700000000LL, 8210298412799LL, -62135596800LL})
        CHECK_EQ(from_civil(to_civil(s)), s);
    CivilTime extreme = to_civil(INT64_MIN);
    CHECK(extreme.month >= 1 && extreme.month <= 12);
    extreme = to_civil(INT64_MAX);
    CHECK(extreme.day >= 1 && extreme.day <= 31);
}
