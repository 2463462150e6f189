// SHA-256 for bulk work: the compression function on the x86 SHA
// extensions (several messages interleaved) and sixteen messages at once in
// the AVX-512 registers, with OpenSSL's block function as the portable path;
// short one-shot digests; HKDF-SHA256 expansion with the HMAC pad blocks
// hashed once per key, many expansions side by side; and the labelled HKDF
// byte streams built on it. The LSH hyperplane streams (megabytes per hasher)
// and the bucket hashes run on this; general-purpose hashing stays in
// primitives.hpp.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "frame/text.hpp"

namespace kc::crypto {

// SHA-256 of `data`, the same digest as sha256(), without library call
// overhead for short messages. Cannot fail.
std::array<std::uint8_t, 32> sha256_oneshot(ByteView data);

// One HKDF-SHA256 expansion (the RFC 5869 expand step): `out.size()` bytes of
// T(1) | T(2) | … for this `info`.
struct HkdfExpandJob {
    ByteView info;
    std::span<std::uint8_t> out;
};

// Runs every job under one pseudorandom key `prk`; jobs of equal output
// length run side by side. Jobs with an output longer than 255 × 32 bytes
// (which HKDF cannot produce) are left unwritten; callers keep within it.
// Cannot fail.
void hkdf_sha256_expand_jobs(ByteView prk, std::span<const HkdfExpandJob> jobs);

// One labelled stream: `out.size()` bytes in blocks of at most 8160, block b
// being HKDF-SHA256 with an empty salt, the input keying material and the
// info label + "_block_" + b (b in decimal).
struct LabelledStreamJob {
    std::string_view label;
    std::span<std::uint8_t> out;
};

// Fills every stream of `ikm`; all their blocks run side by side. Cannot
// fail.
void derive_labelled_streams(ByteView ikm, std::span<const LabelledStreamJob> streams);

namespace sha256_internal {
// The code paths in use. Tests switch them off to check that every path
// gives the same bytes; paths the CPU lacks stay off.
struct Paths {
    bool sha_extensions;
    bool avx512;
};
Paths available_paths();
Paths enabled_paths();
void set_paths(Paths paths);
}  // namespace sha256_internal

}  // namespace kc::crypto
