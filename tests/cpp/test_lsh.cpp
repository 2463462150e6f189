// The LSH hasher's vector kernels and screening pass against plain scalar
// loops; its hyperplanes against the labelled stream.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "streams.hpp"
#include "crypto/keys.hpp"
#include "crypto/lsh.hpp"
#include "crypto/primitives.hpp"

using namespace kc;
using namespace kc::crypto;
using kc::test::pattern;
using kc::test::reference_stream;
using lsh_internal::Kernel;

namespace {

double reference_dot(const LshHasher& h, std::size_t t, std::size_t k, std::span<const double> e) {
    double acc = 0.0;
    for (std::size_t d = 0; d < h.dims(); ++d) acc = acc + h.hyperplane(t, k, d) * e[d];
    return acc;
}

bool same_double(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

double gaussian_of(const std::uint8_t* p) {
    std::uint32_t a = 0, b = 0;
    for (int i = 3; i >= 0; --i) a = a << 8 | p[i];
    for (int i = 7; i >= 4; --i) b = b << 8 | p[i];
    const double u1 = (a + 1.0) / 4294967297.0;
    const double u2 = (b + 1.0) / 4294967297.0;
    return std::sqrt(std::log(u1) * -2.0) * std::cos(u2 * 6.283185307179586);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kSpecial[] = {kNaN,    kInf,     -kInf,   0.0,      -0.0,    4.9e-324, -4.9e-324, 2.2e-308,
                           1e-310,  -1e-300,  1e300,   -1e300,   1.7e308, -1.7e308, 1e-200,   3e150};

// Embeddings of several kinds for a hasher of `dims` components.
std::vector<std::vector<double>> embeddings_for(const LshHasher& h, std::mt19937_64& rng) {
    const std::size_t dims = h.dims();
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kSpecial) - 1);
    std::vector<std::vector<double>> out;
    for (int i = 0; i < 4; ++i) {  // ordinary
        std::vector<double> e(dims);
        for (double& v : e) v = normal(rng) * (i + 1) * 0.37;
        out.push_back(e);
    }
    for (int i = 0; i < 6; ++i) {  // sprinkled with special values
        std::vector<double> e(dims);
        for (double& v : e) v = normal(rng);
        for (std::size_t j = 0; j < std::max<std::size_t>(1, dims / 5); ++j) e[rng() % dims] = kSpecial[pick(rng)];
        out.push_back(e);
    }
    for (double scale : {1e-305, 1e-150, 1e150, 1e305}) {  // whole embedding at extreme magnitudes
        std::vector<double> e(dims);
        for (double& v : e) v = normal(rng) * scale;
        out.push_back(e);
    }
    out.push_back(std::vector<double>(dims, 0.0));
    out.push_back(std::vector<double>(dims, -0.0));
    if (dims >= 2) {
        // Nearly orthogonal to hyperplane (0, 0): the dot is a rounding
        // residue the screening pass cannot decide. And the exact zero of
        // (h1, -h0, 0, …) against a 2-component plane pair.
        std::vector<double> e(dims);
        for (double& v : e) v = normal(rng);
        double hh = 0, he = 0;
        for (std::size_t d = 0; d < dims; ++d) {
            hh += h.hyperplane(0, 0, d) * h.hyperplane(0, 0, d);
            he += h.hyperplane(0, 0, d) * e[d];
        }
        for (std::size_t d = 0; d < dims; ++d) e[d] -= he / hh * h.hyperplane(0, 0, d);
        out.push_back(e);
        std::vector<double> z(dims, 0.0);
        z[0] = h.hyperplane(0, 0, 1);
        z[1] = -h.hyperplane(0, 0, 0);
        out.push_back(z);
        for (double& v : z) v = -v;
        out.push_back(z);
    }
    return out;
}

struct Shape {
    std::size_t dims, tables, bits;
};
const Shape kShapes[] = {{1, 1, 1},  {2, 3, 5},    {17, 2, 40},  {9, 1, 65}, {100, 3, 24},
                          {640, 2, 32}, {33, 1, 8}, {5, 2, 12}, {7, 1, 36}, {11, 1, 7}, {3, 2, 4}};

}  // namespace

KC_TEST(hyperplanes_follow_the_stream_in_every_layout) {
    for (const Shape& s : kShapes) {
        Bytes seed = pattern(20, static_cast<unsigned>(s.dims));
        auto h = with_params(seed, s.dims, s.tables, s.bits);
        CHECK(h.has_value());
        if (!h) continue;
        CHECK_EQ(h->dims(), s.dims);
        CHECK_EQ(h->n_tables(), s.tables);
        CHECK_EQ(h->n_bits(), s.bits);
        for (std::size_t t = 0; t < s.tables; ++t) {
            Bytes stream = reference_stream(seed, cat("lsh_table_", t), s.bits * s.dims * 8);
            bool all = true;
            for (std::size_t j = 0; j < s.bits * s.dims; ++j)
                all = all && same_double(h->hyperplane(t, j / s.dims, j % s.dims), gaussian_of(stream.data() + 8 * j));
            CHECK(all);
        }
    }
}

KC_TEST(every_kernel_gives_the_scalar_dot_bit_for_bit) {
    std::mt19937_64 rng(20240611);
    for (const Shape& s : kShapes) {
        auto h = with_params(pattern(32, 11), s.dims, s.tables, s.bits);
        CHECK(h.has_value());
        if (!h) continue;
        for (const auto& e : embeddings_for(*h, rng)) {
            std::vector<double> want;
            std::vector<std::string> want_bits;
            for (std::size_t t = 0; t < s.tables; ++t) {
                std::string bits;
                for (std::size_t k = 0; k < s.bits; ++k) {
                    double dot = reference_dot(*h, t, k, e);
                    want.push_back(dot);
                    bits.push_back(dot >= 0.0 ? '1' : '0');
                }
                want_bits.push_back(bits);
            }
            for (Kernel kernel : lsh_internal::available_kernels()) {
                auto dots = lsh_internal::dot_products(*h, e, kernel);
                CHECK(dots.has_value());
                if (!dots) continue;
                CHECK_EQ(dots->size(), want.size());
                bool same = dots->size() == want.size();
                for (std::size_t i = 0; same && i < want.size(); ++i) same = same_double((*dots)[i], want[i]);
                CHECK(same);
                for (bool screen : {false, true}) {
                    auto bits = lsh_internal::bit_texts(*h, e, kernel, screen);
                    CHECK(bits.has_value() && *bits == want_bits);
                }
            }
        }
    }
}

KC_TEST(bucket_hashes_of_32_bit_embeddings_are_those_of_the_widened_values) {
    std::mt19937_64 rng(5);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    auto h = with_params(pattern(32, 1), 64, 4, 32);
    CHECK(h.has_value());
    if (!h) return;
    for (int round = 0; round < 20; ++round) {
        std::vector<float> f(64);
        for (float& v : f) v = normal(rng);
        if (round % 4 == 1) f[round % 64] = std::numeric_limits<float>::quiet_NaN();
        if (round % 4 == 2) f[3] = -std::numeric_limits<float>::infinity();
        if (round % 4 == 3) f[7] = std::numeric_limits<float>::denorm_min();
        std::vector<double> wide(f.begin(), f.end());
        auto narrow_hashes = hash(*h, std::span<const float>(f));
        auto wide_hashes = hash(*h, std::span<const double>(wide));
        CHECK(narrow_hashes.has_value() && wide_hashes.has_value() && *narrow_hashes == *wide_hashes);
    }
    auto bad = hash(*h, std::span<const float>(std::vector<float>(63)));
    CHECK(!bad.has_value() && bad.error().message == "embedding dimension mismatch: expected 64, got 63");
}

KC_TEST(bucket_identifiers_are_hashed_per_table) {
    auto h = with_params(pattern(16, 0), 3, 12, 5);
    CHECK(h.has_value());
    if (!h) return;
    std::vector<double> e = {0.25, -1.5, 3.0};
    auto hashes = hash(*h, e);
    auto bits = lsh_internal::bit_texts(*h, e, Kernel::Portable, false);
    CHECK(hashes.has_value() && bits.has_value());
    if (!hashes || !bits) return;
    CHECK_EQ(hashes->size(), 12u);
    for (std::size_t t = 0; t < 12; ++t) CHECK_EQ((*hashes)[t], sha256_hex(as_bytes(cat("lsh_t", t, "_", (*bits)[t]))));
}

KC_TEST(construction_refuses_sizes_beyond_the_limit) {
    Bytes seed = pattern(32, 0);
    auto over = with_params(seed, kLshMaxValues / 2 + 1, 1, 2);
    CHECK(!over.has_value() && over.error().kind == ErrorKind::Lsh);
    if (!over) {
        CHECK_EQ(over.error().message,
                 "too many hyperplane values: n_tables * n_bits * dims must be at most 67108864, got 1 * 2 * 33554433");
    }
    // Products that wrap around 64 bits are refused too, not reduced.
    auto wrap = with_params(seed, std::uint64_t{1} << 32, std::uint64_t{1} << 32, 1);
    CHECK(!wrap.has_value() && wrap.error().kind == ErrorKind::Lsh);
    auto wrap3 = with_params(seed, ~std::uint64_t{0}, ~std::uint64_t{0}, ~std::uint64_t{0});
    CHECK(!wrap3.has_value() && wrap3.error().kind == ErrorKind::Lsh);
}

// The embedding that pushes the single-precision pass furthest from the
// exact dot of one hyperplane: along the rounding errors of its values
// (which maximises their effect for a given norm), made orthogonal to the
// hyperplane and then nudged so that the exact dot has the sign opposite to
// the screened one. A screening margin narrower than the worst case decides
// such a bit wrongly; at extreme but admissible magnitudes too.
KC_TEST(screening_never_decides_against_the_exact_sign) {
    const Shape shapes[] = {{640, 2, 32}, {64, 2, 8}, {7, 1, 5}, {300, 1, 36}};
    for (const Shape& s : shapes) {
        auto h = with_params(pattern(32, 23), s.dims, s.tables, s.bits);
        CHECK(h.has_value());
        if (!h) continue;
        double sharpest = 0.0;
        for (std::size_t t = 0; t < s.tables; ++t) {
            for (std::size_t k = 0; k < s.bits; ++k) {
                std::vector<double> plane(s.dims), e(s.dims);
                double hh = 0.0, dh = 0.0;
                for (std::size_t d = 0; d < s.dims; ++d) {
                    plane[d] = h->hyperplane(t, k, d);
                    e[d] = static_cast<double>(static_cast<float>(plane[d])) - plane[d];
                    hh += plane[d] * plane[d];
                    dh += e[d] * plane[d];
                }
                for (std::size_t d = 0; d < s.dims; ++d) e[d] -= dh / hh * plane[d];
                double screened = 0.0, ee = 0.0;
                for (std::size_t d = 0; d < s.dims; ++d) {
                    screened += static_cast<double>(static_cast<float>(plane[d])) * e[d];
                    ee += e[d] * e[d];
                }
                const double nudge = -std::copysign(0.01 * std::fabs(screened), screened);
                for (std::size_t d = 0; d < s.dims; ++d) e[d] += nudge / hh * plane[d];
                sharpest = std::max(sharpest, std::fabs(screened) / std::sqrt(hh * ee));
                for (double scale : {1.0, 0x1p-360, 0x1p380}) {
                    std::vector<double> scaled(e);
                    for (double& v : scaled) v *= scale;
                    std::vector<std::string> want;
                    for (std::size_t tt = 0; tt < s.tables; ++tt) {
                        std::string bits;
                        for (std::size_t kk = 0; kk < s.bits; ++kk)
                            bits.push_back(reference_dot(*h, tt, kk, scaled) >= 0.0 ? '1' : '0');
                        want.push_back(bits);
                    }
                    // The constructed bit really has the sign the screened
                    // dot does not.
                    CHECK((reference_dot(*h, t, k, scaled) >= 0.0) != (screened * scale >= 0.0));
                    for (Kernel kernel : lsh_internal::available_kernels()) {
                        auto bits = lsh_internal::bit_texts(*h, scaled, kernel, true);
                        CHECK(bits.has_value() && *bits == want);
                    }
                }
            }
        }
        // The construction reaches the size of the single-precision error
        // the margin has to cover (2^-24 of |h| |e| at most).
        CHECK(sharpest > 0x1p-26);
    }
}
