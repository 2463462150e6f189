#include "crypto/envelope.hpp"

#include <sodium.h>

#include <algorithm>
#include <array>

#include "crypto/primitives.hpp"
#include "frame/base64.hpp"

namespace kc::crypto {
namespace {

// One fixed text for every cipher failure: it must not say why.
constexpr std::string_view kCipherFailure = "aead::Error";

}  // namespace

Result<Bytes> seal(ByteView plaintext, ByteView key) {
    std::array<std::uint8_t, kNonceBytes> nonce;
    random_bytes(nonce);
    return seal_with_nonce(plaintext, key, nonce);
}

Result<Bytes> seal_with_nonce(ByteView plaintext, ByteView key, std::span<const std::uint8_t, kNonceBytes> nonce_in) {
    sodium_ready();
    if (plaintext.size() > crypto_aead_xchacha20poly1305_ietf_MESSAGEBYTES_MAX - kTagBytes)
        return fail(Error::crypto(cat("XChaCha20-Poly1305 encrypt failed: ", kCipherFailure)));
    Bytes out(kEnvelopeOverhead + plaintext.size());
    std::uint8_t* nonce = out.data();
    std::uint8_t* tag = out.data() + kNonceBytes;
    std::uint8_t* body = out.data() + kEnvelopeOverhead;
    std::copy(nonce_in.begin(), nonce_in.end(), nonce);
    // Detached mode writes the tag straight into its place before the
    // ciphertext, so nothing is moved afterwards.
    if (crypto_aead_xchacha20poly1305_ietf_encrypt_detached(body, tag, nullptr, plaintext.data(), plaintext.size(),
                                                            nullptr, 0, nullptr, nonce, key.data()) != 0)
        return fail(Error::crypto(cat("XChaCha20-Poly1305 encrypt failed: ", kCipherFailure)));
    return out;
}

Result<Bytes> open(ByteView envelope, ByteView key) {
    sodium_ready();
    if (envelope.size() < kEnvelopeOverhead) return fail(Error::crypto("Encrypted data too short"));
    const std::uint8_t* nonce = envelope.data();
    const std::uint8_t* tag = envelope.data() + kNonceBytes;
    ByteView body = envelope.subspan(kEnvelopeOverhead);
    Bytes plain(body.size());
    if (crypto_aead_xchacha20poly1305_ietf_decrypt_detached(plain.data(), nullptr, body.data(), body.size(), tag,
                                                            nullptr, 0, nonce, key.data()) != 0) {
        wipe(plain.data(), plain.size());
        return fail(Error::crypto(cat("XChaCha20-Poly1305 decrypt failed: ", kCipherFailure)));
    }
    return plain;
}

Result<std::string> encrypt(std::string_view plaintext, ByteView key) {
    auto sealed = seal(as_bytes(plaintext), key);
    if (!sealed) return fail(sealed.error());
    return base64_encode(*sealed);
}

Result<std::string> decrypt(std::string_view encrypted_base64, ByteView key) {
    auto envelope = base64_decode(encrypted_base64);
    if (!envelope) return fail(Error::crypto(cat("base64 decode failed: ", envelope.error())));
    auto plain = open(*envelope, key);
    if (!plain) return fail(plain.error());
    if (auto bad = validate_utf8(*plain)) {
        wipe(plain->data(), plain->size());
        return fail(Error::crypto(cat("UTF-8 decode failed: ", bad->describe())));
    }
    return std::string(as_text(*plain));
}

}  // namespace kc::crypto
