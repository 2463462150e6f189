// Key derivation, the encryption envelope, fingerprints, blind indices and
// the embedding codec.
#include "crypto/blind_index.hpp"
#include "crypto/embedding_codec.hpp"
#include "crypto/envelope.hpp"
#include "crypto/fingerprint.hpp"
#include "crypto/keys.hpp"
#include "families.hpp"

namespace kc::py {
namespace {

PyObject* keys_to_dict(const Result<crypto::DerivedKeys>& keys) {
    if (!keys) {
        to_pyerr(keys.error());
        return nullptr;
    }
    return make_dict({
        {"salt", to_py(keys->salt)},
        {"auth_key", to_py(keys->auth_key)},
        {"encryption_key", to_py(keys->encryption_key)},
        {"dedup_key", to_py(keys->dedup_key)},
    });
}

PyObject* derive_keys_from_mnemonic(std::string_view mnemonic) {
    return keys_to_dict(crypto::derive_keys_from_mnemonic(mnemonic));
}

PyObject* derive_keys_from_mnemonic_lenient(std::string_view mnemonic) {
    return keys_to_dict(crypto::derive_keys_from_mnemonic_lenient(mnemonic));
}

PyObject* derive_lsh_seed(std::string_view mnemonic, ByteView salt) {
    if (!require_len(salt, 32)) return nullptr;
    return ret(crypto::derive_lsh_seed(mnemonic, salt));
}

PyObject* compute_auth_key_hash(ByteView auth_key) {
    if (!require_len(auth_key, 32)) return nullptr;
    return to_py(crypto::compute_auth_key_hash(auth_key));
}

PyObject* encrypt(std::string_view plaintext, ByteView encryption_key) {
    if (!require_len(encryption_key, 32)) return nullptr;
    return ret(crypto::encrypt(plaintext, encryption_key));
}

PyObject* decrypt(std::string_view encrypted_base64, ByteView encryption_key) {
    if (!require_len(encryption_key, 32)) return nullptr;
    return ret(crypto::decrypt(encrypted_base64, encryption_key));
}

PyObject* generate_blind_indices(std::string_view text) { return to_py(crypto::generate_blind_indices(text)); }

PyObject* generate_content_fingerprint(std::string_view plaintext, ByteView dedup_key) {
    if (!require_len(dedup_key, 32)) return nullptr;
    return to_py(crypto::generate_content_fingerprint(plaintext, dedup_key));
}

PyObject* normalize_text(std::string_view text) { return to_py(crypto::normalize_text(text)); }

PyObject* encode_embedding_canonical(Floats32 embedding) {
    return ret(crypto::encode_embedding_canonical(embedding));
}

PyObject* decode_embedding_universal(std::string_view payload) {
    return ret(crypto::decode_embedding_universal(payload));
}

}  // namespace

std::vector<PyMethodDef> crypto_functions() {
    return {
        def<"derive_keys_from_mnemonic(mnemonic)", derive_keys_from_mnemonic>(
            "Derive the vault key set from a BIP-39 recovery phrase (strict validation, checksum included).\n\n"
            "Returns a dict of 32-byte values: salt, auth_key, encryption_key, dedup_key."),
        def<"derive_keys_from_mnemonic_lenient(mnemonic)", derive_keys_from_mnemonic_lenient>(
            "Derive the vault key set from 12 or 24 BIP-39 English words without checking the checksum."),
        def<"derive_lsh_seed(mnemonic, salt)", derive_lsh_seed>(
            "Derive the 32-byte LSH seed from a strictly valid phrase and the 32-byte salt of its key set."),
        def<"compute_auth_key_hash(auth_key)", compute_auth_key_hash>(
            "SHA-256 of the 32-byte authentication key, as 64 lower-case hex characters."),
        def<"encrypt(plaintext, encryption_key)", encrypt>(
            "Encrypt a text with XChaCha20-Poly1305 under a 32-byte key and a fresh random nonce.\n\n"
            "Returns base64 of nonce | tag | ciphertext."),
        def<"decrypt(encrypted_base64, encryption_key)", decrypt>(
            "Decrypt a base64 envelope made by encrypt() and return the plaintext text."),
        def<"generate_blind_indices(text)", generate_blind_indices>(
            "SHA-256 blind indices (64 lower-case hex characters each) of the words of a text and of their\n"
            "Porter stems (prefixed \"stem:\"), without duplicates, in order of first production."),
        def<"generate_content_fingerprint(plaintext, dedup_key)", generate_content_fingerprint>(
            "HMAC-SHA256 under the 32-byte dedup key of the normalised text, as 64 lower-case hex characters."),
        def<"normalize_text(text)", normalize_text>(
            "The text in NFC, lower-cased (final sigma included), with every white-space run collapsed to one\n"
            "space and both ends trimmed."),
        def<"encode_embedding_canonical(embedding)", encode_embedding_canonical>(
            "Base64 payload of an embedding: 640 components as little-endian half precision, any other length\n"
            "as little-endian single precision, the empty list as the empty text."),
        def<"decode_embedding_universal(payload)", decode_embedding_universal>(
            "The embedding held by a base64 payload (1280 bytes: 640 half-precision values; other multiples of\n"
            "4 bytes: single precision) or by a legacy JSON array of numbers."),
    };
}

}  // namespace kc::py
