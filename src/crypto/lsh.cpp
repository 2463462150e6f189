#include "crypto/lsh.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <type_traits>

#include "crypto/primitives.hpp"
#include "crypto/sha256_lanes.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#define KC_LSH_X86 1
#endif

namespace kc::crypto {

struct LshAccess {
    static auto& planes(LshHasher& h) { return h.planes_; }
    static auto& screen(LshHasher& h) { return h.screen_; }
    static auto& norms(LshHasher& h) { return h.norms_; }
    static const auto& planes(const LshHasher& h) { return h.planes_; }
    static const auto& screen(const LshHasher& h) { return h.screen_; }
    static const auto& norms(const LshHasher& h) { return h.norms_; }
    static void set_shape(LshHasher& h, std::size_t dims, std::size_t n_tables, std::size_t n_bits) {
        h.dims_ = dims;
        h.n_tables_ = n_tables;
        h.n_bits_ = n_bits;
    }
    static bool screenable(const LshHasher& h) { return h.screenable_; }
    static void set_screenable(LshHasher& h, bool v) { h.screenable_ = v; }
};

namespace {

using lsh_internal::Kernel;

// Bits per storage group: four 8-double AVX-512 registers, or eight AVX2 ones.
constexpr std::size_t kGroup = 32;

// Groups hold 32 bits each, the last one the rest.
std::size_t group_width(std::size_t n_bits, std::size_t group) { return std::min(kGroup, n_bits - group * kGroup); }

// Position of bit k, component d inside one table's block.
std::size_t slot(std::size_t dims, std::size_t n_bits, std::size_t k, std::size_t d) {
    const std::size_t group = k / kGroup;
    return group * kGroup * dims + d * group_width(n_bits, group) + k % kGroup;
}

// ---- dot products ----------------------------------------------------------
// Every kernel computes, for each lane of a group, acc = 0.0 then
// acc = acc + plane[d] * e[d] for d = 0, 1, …, each product and each sum
// rounded to double (no fused multiply-add: the build disables contraction
// and no kernel is compiled for the FMA extension). Lanes are independent,
// so the width of the vector unit never changes a result.

template <class P, class E>
void dots_portable(const P* planes, const E* e, std::size_t dims, std::size_t width, double* out) {
    double acc[kGroup] = {};
    for (std::size_t d = 0; d < dims; ++d) {
        const double x = static_cast<double>(e[d]);
        const P* row = planes + d * width;
        for (std::size_t lane = 0; lane < width; ++lane) acc[lane] += static_cast<double>(row[lane]) * x;
    }
    std::memcpy(out, acc, width * sizeof(double));
}

#ifdef KC_LSH_X86

// GCC 12's _mm512_cvtps_pd starts from an "undefined" register it then
// reports as maybe uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
template <int A, class P, class E>
__attribute__((target("avx512f"))) void dots_avx512(const P* planes, const E* e, std::size_t dims, double* out) {
    __m512d acc[A];
    for (int a = 0; a < A; ++a) acc[a] = _mm512_setzero_pd();
    for (std::size_t d = 0; d < dims; ++d) {
        const __m512d x = _mm512_set1_pd(static_cast<double>(e[d]));
        const P* row = planes + d * (8 * A);
        for (int a = 0; a < A; ++a) {
            __m512d h;
            if constexpr (std::is_same_v<P, float>) {
                h = _mm512_cvtps_pd(_mm256_loadu_ps(row + 8 * a));
            } else {
                h = _mm512_loadu_pd(row + 8 * a);
            }
            acc[a] = _mm512_add_pd(acc[a], _mm512_mul_pd(h, x));
        }
    }
    for (int a = 0; a < A; ++a) _mm512_storeu_pd(out + 8 * a, acc[a]);
}
#pragma GCC diagnostic pop

template <int A, class P, class E>
__attribute__((target("avx2"))) void dots_avx2(const P* planes, const E* e, std::size_t dims, double* out) {
    __m256d acc[A];
    for (int a = 0; a < A; ++a) acc[a] = _mm256_setzero_pd();
    for (std::size_t d = 0; d < dims; ++d) {
        const __m256d x = _mm256_set1_pd(static_cast<double>(e[d]));
        const P* row = planes + d * (4 * A);
        for (int a = 0; a < A; ++a) {
            __m256d h;
            if constexpr (std::is_same_v<P, float>) {
                h = _mm256_cvtps_pd(_mm_loadu_ps(row + 4 * a));
            } else {
                h = _mm256_loadu_pd(row + 4 * a);
            }
            acc[a] = _mm256_add_pd(acc[a], _mm256_mul_pd(h, x));
        }
    }
    for (int a = 0; a < A; ++a) _mm256_storeu_pd(out + 4 * a, acc[a]);
}

#endif

// The dots of one group of `width` (1 … 32) lanes: AVX-512 for multiples
// of 8, AVX2 (which every AVX-512 processor has) for multiples of 4, the
// portable loop otherwise.
template <class P, class E>
void group_dots(Kernel kernel, const P* planes, const E* e, std::size_t dims, std::size_t width, double* out) {
#ifdef KC_LSH_X86
    if (kernel == Kernel::Avx512 && width % 8 == 0) {
        switch (width) {
            case 8: return dots_avx512<1>(planes, e, dims, out);
            case 16: return dots_avx512<2>(planes, e, dims, out);
            case 24: return dots_avx512<3>(planes, e, dims, out);
            case 32: return dots_avx512<4>(planes, e, dims, out);
        }
    }
    if (kernel != Kernel::Portable && width % 4 == 0) {
        switch (width) {
            case 4: return dots_avx2<1>(planes, e, dims, out);
            case 8: return dots_avx2<2>(planes, e, dims, out);
            case 12: return dots_avx2<3>(planes, e, dims, out);
            case 16: return dots_avx2<4>(planes, e, dims, out);
            case 20: return dots_avx2<5>(planes, e, dims, out);
            case 24: return dots_avx2<6>(planes, e, dims, out);
            case 28: return dots_avx2<7>(planes, e, dims, out);
            case 32: return dots_avx2<8>(planes, e, dims, out);
        }
    }
#endif
    dots_portable(planes, e, dims, width, out);
}

Kernel best_kernel() {
    static const Kernel best = [] {
        std::vector<Kernel> k = lsh_internal::available_kernels();
        return k.back();
    }();
    return best;
}

// ---- screening ----------------------------------------------------------------
// A first pass with the hyperplanes rounded to single precision (half the
// memory traffic) decides almost every bit; a group with any bit it cannot
// decide is recomputed exactly. With S the exact dot, A the screened one,
// M = sum |h_i e_i| and u = 2^-53: |S - D| <= n u' M for the real dot D
// (u' = u / (1 - n u)), the rounding of h to single precision moves D by at
// most 2^-24 M, and A is within n u' (1 + 2^-24) M of its own real dot, so
// |S - A| <= (2^-24 + 2 n u' (1 + 2^-24)) M <= (2^-24 + 2 n u') M (1 + 2^-23),
// and M <= |h| |e| (Cauchy–Schwarz). The coefficient below is larger than
// that with room for the rounding of the computed norms, so |A| above the
// margin fixes the sign of S, and S is not zero. The bound assumes no
// product overflows or underflows: every hyperplane value lies in
// [2^-100, 8] (checked at construction) and every embedding value is zero or
// in [2^-400, 2^400]; other embeddings (NaN, infinities, extreme values)
// take the exact path throughout.

// Hashers with at least this many values build their tables on two threads.
constexpr std::uint64_t kParallelValues = 1 << 16;

constexpr std::size_t kScreenMaxDims = std::size_t{1} << 20;

double screen_coefficient(std::size_t dims) {
    return 0x1p-24 * 1.001 + 4.0 * static_cast<double>(dims) * 0x1p-53;
}

// The embedding's Euclidean norm, or a negative value when the embedding is
// outside the screened range.
template <class E>
double screen_norm(std::span<const E> e) {
    double sum = 0.0;
    for (E v : e) {
        const double a = std::fabs(static_cast<double>(v));
        if (!(a <= 0x1p400)) return -1.0;  // also NaN
        if (a != 0.0 && a < 0x1p-400) return -1.0;
        sum += a * a;
    }
    return std::sqrt(sum);
}

std::uint32_t load_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The first Box–Muller output of two uniform 32-bit integers.
double gaussian(std::uint32_t a, std::uint32_t b) {
    const double u1 = (static_cast<double>(a) + 1.0) / 4294967297.0;
    const double u2 = (static_cast<double>(b) + 1.0) / 4294967297.0;
    return std::sqrt(std::log(u1) * -2.0) * std::cos(u2 * 6.283185307179586);
}

// Calls sink(t, bits) for each table in order with the table's bit text.
template <class E, class Sink>
Result<Unit> table_bits(const LshHasher& h, std::span<const E> e, Kernel kernel, bool screen, Sink&& sink) {
    if (e.size() != h.dims())
        return fail(Error::lsh(cat("embedding dimension mismatch: expected ", h.dims(), ", got ", e.size())));
    const std::size_t dims = h.dims();
    const std::size_t n_bits = h.n_bits();
    const std::size_t table_size = n_bits * dims;
    const auto& planes = LshAccess::planes(h);
    const auto& screened = LshAccess::screen(h);
    const auto& norms = LshAccess::norms(h);
    double margin_scale = -1.0;
    if (screen && LshAccess::screenable(h) && dims <= kScreenMaxDims) {
        const double norm = screen_norm(e);
        if (norm >= 0.0) margin_scale = screen_coefficient(dims) * norm;
    }
    std::string bits(h.n_bits(), '0');
    double dots[kGroup];
    for (std::size_t t = 0; t < h.n_tables(); ++t) {
        for (std::size_t g = 0; g * kGroup < h.n_bits(); ++g) {
            const std::size_t width = group_width(n_bits, g);
            const std::size_t first = g * kGroup;
            const std::size_t offset = t * table_size + first * dims;
            bool decided = false;
            if (margin_scale > 0.0) {
                group_dots(kernel, screened.data() + offset, e.data(), dims, width, dots);
                decided = true;
                for (std::size_t lane = 0; lane < width && decided; ++lane) {
                    const double margin = margin_scale * norms[t * h.n_bits() + first + lane];
                    if (dots[lane] > margin) {
                        bits[first + lane] = '1';
                    } else if (dots[lane] < -margin) {
                        bits[first + lane] = '0';
                    } else {
                        decided = false;
                    }
                }
            }
            if (!decided) {
                group_dots(kernel, planes.data() + offset, e.data(), dims, width, dots);
                // NaN compares false: '0'; -0.0 >= 0.0: '1'.
                for (std::size_t lane = 0; lane < width; ++lane) bits[first + lane] = dots[lane] >= 0.0 ? '1' : '0';
            }
        }
        sink(t, std::string_view(bits));
    }
    return Unit{};
}

template <class E>
Result<std::vector<std::string>> hash_impl(const LshHasher& h, std::span<const E> e) {
    std::vector<std::string> out;
    out.reserve(h.n_tables());
    std::string identifier;
    auto r = table_bits(h, e, best_kernel(), true, [&](std::size_t t, std::string_view bits) {
        identifier.clear();
        identifier.append("lsh_t");
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, t).ptr;
        identifier.append(digits, end);
        identifier.push_back('_');
        identifier.append(bits);
        out.push_back(to_hex(sha256_oneshot(as_bytes(identifier))));
    });
    if (!r) return fail(r.error());
    return out;
}

}  // namespace

double LshHasher::hyperplane(std::size_t t, std::size_t k, std::size_t d) const noexcept {
    return planes_[t * n_bits_ * dims_ + slot(dims_, n_bits_, k, d)];
}

Result<LshHasher> with_params(ByteView seed, std::uint64_t dims, std::uint64_t n_tables, std::uint64_t n_bits) {
    if (seed.size() < 16) return fail(Error::lsh(cat("seed too short: expected >= 16 bytes, got ", seed.size())));
    if (dims == 0) return fail(Error::lsh(cat("dims must be positive, got ", dims)));
    if (n_tables == 0) return fail(Error::lsh(cat("n_tables must be positive, got ", n_tables)));
    if (n_bits == 0) return fail(Error::lsh(cat("n_bits must be positive, got ", n_bits)));
    std::uint64_t per_table = 0, total = 0;
    if (__builtin_mul_overflow(n_bits, dims, &per_table) || __builtin_mul_overflow(per_table, n_tables, &total) ||
        total > kLshMaxValues)
        return fail(Error::lsh(cat("too many hyperplane values: n_tables * n_bits * dims must be at most ",
                                   kLshMaxValues, ", got ", n_tables, " * ", n_bits, " * ", dims)));

    LshHasher h;
    LshAccess::set_shape(h, dims, n_tables, n_bits);
    const std::size_t table_size = n_bits * dims;
    auto& planes = LshAccess::planes(h);
    auto& screened = LshAccess::screen(h);
    auto& norms = LshAccess::norms(h);
    planes.assign(n_tables * table_size, 0.0);
    screened.assign(n_tables * table_size, 0.0f);
    norms.assign(n_tables * n_bits, 0.0);

    // The streams of several tables are derived together so their HKDF
    // blocks fill the sixteen SHA-256 lanes: as many tables as fit in about
    // a megabyte of stream, fewer when that makes the full blocks a multiple
    // of sixteen (4 tables of 20 full blocks with the defaults).
    const std::size_t stream_bytes = per_table * 8;
    const std::size_t full_blocks = stream_bytes / 8160;
    std::size_t batch = std::clamp<std::size_t>((std::size_t{1} << 20) / stream_bytes, 1, n_tables);
    for (std::size_t b = batch; b > 1; --b) {
        if (b * full_blocks % 16 == 0) {
            batch = b;
            break;
        }
    }
    // All streams first (3.3 MB with the defaults), then the Gaussian values.
    Bytes streams(n_tables * stream_bytes);
    std::vector<std::string> labels;
    std::vector<LabelledStreamJob> jobs;
    for (std::size_t first = 0; first < n_tables; first += batch) {
        const std::size_t count = std::min<std::size_t>(batch, n_tables - first);
        labels.clear();
        jobs.clear();
        for (std::size_t i = 0; i < count; ++i) labels.push_back(cat("lsh_table_", first + i));
        for (std::size_t i = 0; i < count; ++i)
            jobs.push_back({labels[i], std::span<std::uint8_t>(streams.data() + (first + i) * stream_bytes,
                                                                stream_bytes)});
        derive_labelled_streams(seed, jobs);
    }

    // Tables [begin, end): values, single-precision copies and norms. Returns
    // whether every value lies in the range the screening bound assumes.
    auto fill_tables = [&](std::size_t begin, std::size_t end) {
        bool in_range = true;
        for (std::size_t t = begin; t < end; ++t) {
            double* table = planes.data() + t * table_size;
            float* table_screen = screened.data() + t * table_size;
            const std::uint8_t* p = streams.data() + t * stream_bytes;
            for (std::size_t k = 0; k < n_bits; ++k) {
                const std::size_t group = k / kGroup;
                const std::size_t width = group_width(n_bits, group);
                const std::size_t base = group * kGroup * dims + k % kGroup;
                double sum = 0.0;
                for (std::size_t d = 0; d < dims; ++d, p += 8) {
                    const double v = gaussian(load_le32(p), load_le32(p + 4));
                    table[base + d * width] = v;
                    table_screen[base + d * width] = static_cast<float>(v);
                    sum += v * v;
                    const double a = std::fabs(v);
                    in_range = in_range && a >= 0x1p-100 && a <= 8.0;
                }
                norms[t * n_bits + k] = std::sqrt(sum);
            }
        }
        return in_range;
    };
    // The C library's log and cos, which every client must use, dominate
    // construction; large hashers split the tables with a second thread.
    // Each value depends only on its own stream bytes, so the split cannot
    // change a result.
    bool screenable = true;
    const std::size_t split = n_tables / 2;
    bool parallel = total >= kParallelValues && n_tables >= 2 && std::thread::hardware_concurrency() >= 2;
    if (parallel) {
        bool upper = true;
        try {
            std::thread worker([&] { upper = fill_tables(split, n_tables); });
            screenable = fill_tables(0, split);
            worker.join();
        } catch (const std::system_error&) {
            parallel = false;  // no thread available: do it all here
        }
        screenable = screenable && upper;
    }
    if (!parallel) screenable = fill_tables(0, n_tables);
    wipe(streams.data(), streams.size());
    LshAccess::set_screenable(h, screenable);
    return h;
}

Result<std::vector<std::string>> hash(const LshHasher& hasher, std::span<const double> embedding) {
    return hash_impl(hasher, embedding);
}

Result<std::vector<std::string>> hash(const LshHasher& hasher, std::span<const float> embedding) {
    return hash_impl(hasher, embedding);
}

namespace lsh_internal {

std::vector<Kernel> available_kernels() {
    std::vector<Kernel> k{Kernel::Portable};
#ifdef KC_LSH_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) k.push_back(Kernel::Avx2);
    if (__builtin_cpu_supports("avx512f")) k.push_back(Kernel::Avx512);
#endif
    return k;
}

namespace {
bool usable(Kernel kernel) {
    const std::vector<Kernel> k = available_kernels();
    return std::find(k.begin(), k.end(), kernel) != k.end();
}
}  // namespace

Result<std::vector<std::string>> bit_texts(const LshHasher& hasher, std::span<const double> embedding, Kernel kernel,
                                           bool screen) {
    if (!usable(kernel)) return fail(Error::invalid_input("kernel not available on this CPU"));
    std::vector<std::string> out;
    auto r = table_bits(hasher, embedding, kernel, screen,
                        [&](std::size_t, std::string_view bits) { out.emplace_back(bits); });
    if (!r) return fail(r.error());
    return out;
}

Result<std::vector<double>> dot_products(const LshHasher& hasher, std::span<const double> embedding, Kernel kernel) {
    if (!usable(kernel)) return fail(Error::invalid_input("kernel not available on this CPU"));
    if (embedding.size() != hasher.dims())
        return fail(Error::lsh(cat("embedding dimension mismatch: expected ", hasher.dims(), ", got ", embedding.size())));
    const std::size_t dims = hasher.dims(), n_bits = hasher.n_bits();
    std::vector<double> out;
    out.reserve(hasher.n_tables() * n_bits);
    double dots[kGroup];
    for (std::size_t t = 0; t < hasher.n_tables(); ++t) {
        for (std::size_t first = 0; first < n_bits; first += kGroup) {
            const std::size_t width = group_width(n_bits, first / kGroup);
            group_dots(kernel, LshAccess::planes(hasher).data() + t * n_bits * dims + first * dims, embedding.data(),
                       dims, width, dots);
            out.insert(out.end(), dots, dots + width);
        }
    }
    return out;
}

}  // namespace lsh_internal

}  // namespace kc::crypto
