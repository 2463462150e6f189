// Hash, MAC and key-derivation primitives (OpenSSL's libcrypto), random
// bytes and wiping (libsodium). Every other file calls these; none calls
// the libraries directly for the same purpose.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "frame/text.hpp"

namespace kc::crypto {

using Digest32 = std::array<std::uint8_t, 32>;
using Digest64 = std::array<std::uint8_t, 64>;

Digest32 sha256(ByteView data);
Digest64 sha512(ByteView data);
Digest32 hmac_sha256(ByteView key, ByteView message);
Digest64 hmac_sha512(ByteView key, ByteView message);

// Lower-case hex of SHA-256 (blind indices, bucket hashes, key hashes).
std::string sha256_hex(ByteView data);

// HKDF-SHA256 (RFC 5869): extract with `salt` (empty = 32 zero bytes), then
// expand to `out.size()` bytes with `info`. Fails only for an output longer
// than 255 × 32 bytes; the text is the primitive's reason.
std::expected<void, std::string> hkdf_sha256(std::span<std::uint8_t> out, ByteView salt, ByteView ikm,
                                             ByteView info);

// PBKDF2-HMAC-SHA512.
void pbkdf2_sha512(std::span<std::uint8_t> out, ByteView password, ByteView salt, unsigned iterations);

// Initialises libsodium once (thread-safe): selects its fastest code for
// this CPU. Every libsodium caller runs it first.
void sodium_ready();

// Fills `out` from the operating system's CSPRNG (libsodium).
void random_bytes(std::span<std::uint8_t> out);

// Overwrites memory with zeros in a way the compiler cannot drop.
void wipe(void* data, std::size_t size);

// Keccak-256 with the original 0x01 domain padding (Ethereum), not SHA3-256.
Digest32 keccak256(ByteView data);

}  // namespace kc::crypto
