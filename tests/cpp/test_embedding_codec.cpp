// Half-precision conversion: the software rule against the processor's
// F16C instructions over every binary32 bit pattern, exact widening, and
// the plain shortest formatting of values in messages.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "check.hpp"
#include "crypto/embedding_codec.hpp"

using namespace kc::crypto;

KC_TEST(f16_software_rule_literals) {
    struct {
        std::uint32_t f32_bits;
        std::uint16_t f16;
    } cases[] = {
        {0x00000000, 0x0000}, {0x80000000, 0x8000},  // signed zeros kept
        {0x3F800000, 0x3C00},                        // 1
        {0x477FE000, 0x7BFF},                        // 65504
        {0x477FEFFF, 0x7BFF},                        // just below the tie with 65520
        {0x477FF000, 0x7C00},                        // 65520 ties to even: inf
        {0x7F800000, 0x7C00}, {0xFF800000, 0xFC00},  // infinities
        {0x3F801000, 0x3C00},                        // 1 + 2^-11: tie, stays even
        {0x3F803000, 0x3C02},                        // 1 + 3 * 2^-11: tie, rounds up to even
        {0x3F801001, 0x3C01},                        // just above the tie
        {0x38800000, 0x0400},                        // 2^-14, smallest normal
        {0x387FC000, 0x03FF},                        // largest subnormal
        {0x33800000, 0x0001},                        // 2^-24, smallest subnormal
        {0x33000000, 0x0000},                        // 2^-25: tie, rounds to even zero
        {0x33000001, 0x0001},                        // above the tie
        {0x33C00000, 0x0002},                        // 3 * 2^-25: tie, rounds to even 2
        {0xB3C00000, 0x8002},
        {0x00000001, 0x0000},                        // binary32 subnormal
        {0x7FC00000, 0x7E00},                        // quiet NaN
        {0x7F800001, 0x7E00},                        // signalling NaN is quietened
        {0xFFFFFFFF, 0xFFFF},
    };
    for (const auto& c : cases) CHECK_EQ(f32_to_f16_software(std::bit_cast<float>(c.f32_bits)), c.f16);
}

KC_TEST(f16_hardware_path_equals_software_rule_for_every_f32) {
    if (!has_f16c()) {
        std::printf("     (no F16C on this processor: hardware path not compared)\n");
        return;
    }
    // All 2^32 bit patterns in blocks, through the block conversion the
    // codec uses (8 at a time plus a scalar tail).
    constexpr std::size_t kBlock = 1 << 16;
    std::vector<float> in(kBlock + 3);
    std::vector<std::uint16_t> out(kBlock + 3);
    std::uint64_t mismatches = 0;
    std::uint32_t first_bad = 0;
    for (std::uint64_t base = 0; base < (1ull << 32); base += kBlock) {
        for (std::size_t i = 0; i < kBlock; ++i) in[i] = std::bit_cast<float>(static_cast<std::uint32_t>(base + i));
        // A few patterns repeated at the end exercise the scalar tail.
        for (std::size_t i = 0; i < 3; ++i) in[kBlock + i] = in[i * 7919];
        f32_to_f16(in, out.data());
        for (std::size_t i = 0; i < in.size(); ++i) {
            if (out[i] != f32_to_f16_software(in[i])) {
                if (mismatches++ == 0) first_bad = std::bit_cast<std::uint32_t>(in[i]);
            }
        }
    }
    if (mismatches) std::printf("     first mismatch at f32 bits 0x%08x\n", first_bad);
    CHECK_EQ(mismatches, 0ull);
    CHECK_EQ(f32_to_f16_hardware(65504.5f), f32_to_f16_software(65504.5f));
}

KC_TEST(f16_widening_is_exact_and_inverts_the_narrowing) {
    for (std::uint32_t h = 0; h < 0x10000; ++h) {
        auto half = static_cast<std::uint16_t>(h);
        float f = f16_to_f32(half);
        bool nan = (h & 0x7C00) == 0x7C00 && (h & 0x3FF) != 0;
        CHECK_EQ(std::isnan(f), nan);
        if (nan) {
            // Payload and sign kept bit for bit.
            CHECK_EQ(std::bit_cast<std::uint32_t>(f), ((h & 0x8000u) << 16) | 0x7F800000u | ((h & 0x3FFu) << 13));
            continue;
        }
        CHECK_EQ(f32_to_f16_software(f), half);
        // The value itself: sign × 2^(e-15) × 1.m, or × 2^-14 × 0.m.
        int e = static_cast<int>((h >> 10) & 0x1F);
        double m = static_cast<double>(h & 0x3FF) / 1024.0;
        double expect = e == 0x1F ? INFINITY : e == 0 ? std::ldexp(m, -14) : std::ldexp(1.0 + m, e - 15);
        if (h & 0x8000) expect = -expect;
        CHECK(static_cast<double>(f) == expect && std::signbit(f) == std::signbit(expect));
    }
}

KC_TEST(plain_shortest_float_formatting) {
    struct {
        float value;
        const char* text;
    } cases[] = {
        {70000.0f, "70000"},
        {65504.0f, "65504"},
        {65504.5f, "65504.5"},
        {0.1f, "0.1"},
        {1e-7f, "0.0000001"},
        {-2.5f, "-2.5"},
        {0.0f, "0"},
        {-0.0f, "-0"},
        {1e30f, "1000000000000000000000000000000"},
        {123456.789f, "123456.79"},
        {3.4028235e38f, "340282350000000000000000000000000000000"},
        {1.0f / 3.0f, "0.33333334"},
        {std::bit_cast<float>(0x00000001u), "0.000000000000000000000000000000000000000000001"},
        {NAN, "NaN"},
        {-NAN, "NaN"},
        {INFINITY, "inf"},
        {-INFINITY, "-inf"},
    };
    for (const auto& c : cases) CHECK_EQ(format_f32_plain(c.value), c.text);
}
