// The encryption envelope: XChaCha20-Poly1305 (IETF), no associated data,
// packed as nonce (24) | tag (16) | ciphertext and carried as padded
// standard base64.
#pragma once

#include <string>
#include <string_view>

#include "frame/error.hpp"
#include "frame/text.hpp"

namespace kc::crypto {

constexpr std::size_t kNonceBytes = 24;
constexpr std::size_t kTagBytes = 16;
constexpr std::size_t kEnvelopeOverhead = kNonceBytes + kTagBytes;

// Seals `plaintext` under a 32-byte key with a fresh random nonce; returns
// the binary envelope. Error: Crypto "XChaCha20-Poly1305 encrypt failed: …"
// for input beyond the cipher's limit.
Result<Bytes> seal(ByteView plaintext, ByteView key);

// seal() with a caller-chosen nonce, for callers that inject their random
// source (tests). A nonce must never repeat under one key.
Result<Bytes> seal_with_nonce(ByteView plaintext, ByteView key, std::span<const std::uint8_t, kNonceBytes> nonce);

// Opens a binary envelope. Errors (Crypto): "Encrypted data too short",
// "XChaCha20-Poly1305 decrypt failed: …".
Result<Bytes> open(ByteView envelope, ByteView key);

// Base64 text of seal(plaintext).
Result<std::string> encrypt(std::string_view plaintext, ByteView key);

// Plaintext text of a base64 envelope. Errors (Crypto): "base64 decode
// failed: {reason}", those of open(), "UTF-8 decode failed: {reason}".
Result<std::string> decrypt(std::string_view encrypted_base64, ByteView key);

}  // namespace kc::crypto
