// Random-hyperplane locality-sensitive hashing: Gaussian hyperplanes drawn
// from a secret seed, one sign bit per hyperplane, the bits of each table
// published only as the SHA-256 of the table's bucket identifier.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "frame/error.hpp"
#include "frame/text.hpp"

namespace kc::crypto {

// 64-byte aligned storage, so vector loads of the hyperplanes never straddle
// cache lines.
template <class T>
struct AlignedAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlign{64};
    AlignedAllocator() = default;
    template <class U>
    AlignedAllocator(const AlignedAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlign)); }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlign); }
    template <class U>
    bool operator==(const AlignedAllocator<U>&) const noexcept {
        return true;
    }
};

// The hasher: immutable after construction, safe to share between threads.
//
// Table t has n_bits hyperplanes of dims components; value j of the table's
// generated vector is bit j / dims, component j % dims. They are stored per
// table in groups of up to 32 bits, component-major inside a group (the 32
// values of one component side by side), so one pass over an embedding
// updates all of a group's dot products with vector instructions while each
// dot still adds its products in component order.
class LshHasher {
public:
    std::size_t dims() const noexcept { return dims_; }
    std::size_t n_tables() const noexcept { return n_tables_; }
    std::size_t n_bits() const noexcept { return n_bits_; }

    // Hyperplane value of table t, bit k, component d (index k × dims + d of
    // the table's vector). Preconditions: t < n_tables, k < n_bits, d < dims.
    double hyperplane(std::size_t t, std::size_t k, std::size_t d) const noexcept;

private:
    friend struct LshAccess;
    std::size_t dims_ = 0;
    std::size_t n_tables_ = 0;
    std::size_t n_bits_ = 0;
    std::vector<double, AlignedAllocator<double>> planes_;
    // The same values rounded to single precision, for the screening pass.
    std::vector<float, AlignedAllocator<float>> screen_;
    // Euclidean norm of every hyperplane, table-major.
    std::vector<double> norms_;
    // Every value has a magnitude in [2^-100, 8], the range the screening
    // bound assumes.
    bool screenable_ = false;
};

// Largest n_tables × n_bits × dims accepted (768 MiB of hyperplanes).
inline constexpr std::uint64_t kLshMaxValues = std::uint64_t{1} << 26;

// Builds the hasher from `seed`: table t's values come from the labelled
// HKDF stream "lsh_table_{t}" of the seed (n_bits × dims × 8 bytes), two
// little-endian 32-bit integers per value through the Box–Muller transform
// with the C library's log and cos. Errors (Lsh), checked in this order:
//   "seed too short: expected >= 16 bytes, got {len}"
//   "dims must be positive, got {dims}"
//   "n_tables must be positive, got {n}"
//   "n_bits must be positive, got {n}"
//   "too many hyperplane values: n_tables * n_bits * dims must be at most
//    67108864, got {n_tables} * {n_bits} * {dims}"
// (the last keeps a careless size from exhausting memory).
Result<LshHasher> with_params(ByteView seed, std::uint64_t dims, std::uint64_t n_tables, std::uint64_t n_bits);

// One bucket hash per table, in table order: lower-case hex SHA-256 of
// "lsh_t{t}_" followed by one '1' (dot >= 0.0, −0.0 included) or '0' (dot
// < 0.0 or NaN) per bit; each dot adds the double products in increasing
// component order from 0.0, without fused multiply-add. Error (Lsh):
// "embedding dimension mismatch: expected {dims}, got {len}".
Result<std::vector<std::string>> hash(const LshHasher& hasher, std::span<const double> embedding);

// The same for 32-bit embeddings, each value widened exactly to 64 bits
// (what the store and search paths hash). Same error.
Result<std::vector<std::string>> hash(const LshHasher& hasher, std::span<const float> embedding);

namespace lsh_internal {

// The dot-product code paths; all give identical bits.
enum class Kernel { Portable, Avx2, Avx512 };

// The kernels this CPU can run, portable first; the last is the one hash()
// uses.
std::vector<Kernel> available_kernels();

// The bit text of every table (the part after "lsh_t{t}_") with a chosen
// kernel, with or without the single-precision screening pass. Errors: as
// hash(); InvalidInput "kernel not available on this CPU".
Result<std::vector<std::string>> bit_texts(const LshHasher& hasher, std::span<const double> embedding,
                                           Kernel kernel, bool screen);

// The exact dot products of every hyperplane with the embedding, table-major
// (n_tables × n_bits values), computed with a chosen kernel. Errors: as
// bit_texts().
Result<std::vector<double>> dot_products(const LshHasher& hasher, std::span<const double> embedding, Kernel kernel);

}  // namespace lsh_internal

}  // namespace kc::crypto
