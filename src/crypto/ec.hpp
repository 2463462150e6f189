// secp256k1 through libsecp256k1: the one place that talks to the curve
// library. One context, created and randomised on first use, serves every
// call (it is read-only afterwards, so concurrent calls are safe).
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string>

#include "crypto/keys.hpp"

namespace kc::crypto::ec {

using CompressedPubkey = std::array<std::uint8_t, 33>;
using UncompressedPubkey = std::array<std::uint8_t, 65>;
using Digest32 = std::array<std::uint8_t, 32>;

// The reason text reported for a secret scalar that is zero or not below
// the group order (and for a failed signature).
inline constexpr std::string_view kSignatureError = "signature error";

// True when the 32 big-endian bytes are a usable secret: non-zero and below
// the group order.
bool seckey_valid(const Key32& secret);

// secret = secret + tweak (mod n), the step of BIP-32 private child
// derivation. Fails (leaving `secret` unspecified) when the tweak is not
// below the group order or the sum is zero; the text is the reason.
std::expected<void, std::string> seckey_tweak_add(Key32& secret, const Key32& tweak);

// Public key of a valid secret in SEC1 compressed (33 bytes) or
// uncompressed (0x04 | X | Y, 65 bytes) form. Fails when the secret is not
// usable; the text is the reason.
std::expected<CompressedPubkey, std::string> pubkey_compressed(const Key32& secret);
std::expected<UncompressedPubkey, std::string> pubkey_uncompressed(const Key32& secret);

// Ethereum address of a public key: "0x" and the last 20 bytes of
// Keccak-256 over X | Y, in lower-case hex.
std::string address_of_pubkey(const UncompressedPubkey& pubkey);
// The same for a secret; fails when the secret is not usable.
std::expected<std::string, std::string> address_of_secret(const Key32& secret);

// A recoverable ECDSA signature: r | s (big-endian, s in the lower half of
// the group order) and the recovery id (0..3).
struct RecoverableSignature {
    std::array<std::uint8_t, 64> rs{};
    int recovery_id = 0;
};

// Signs a 32-byte digest with the RFC 6979 (HMAC-SHA256) nonce; s is always
// low. Fails when the secret is not usable or the library refuses to sign;
// the text is the reason.
std::expected<RecoverableSignature, std::string> sign_recoverable(const Digest32& digest, const Key32& secret);

}  // namespace kc::crypto::ec
