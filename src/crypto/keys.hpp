// Key derivation from a BIP-39 recovery phrase: seed, vault key set, LSH
// seed, the labelled HKDF byte stream and the authentication-key hash.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/error.hpp"
#include "frame/text.hpp"

namespace kc::crypto {

using Key32 = std::array<std::uint8_t, 32>;
using Seed = std::array<std::uint8_t, 64>;

struct DerivedKeys {
    Key32 auth_key{};
    Key32 encryption_key{};
    Key32 dedup_key{};
    Key32 salt{};  // the first 32 bytes of the seed
};

// BIP-39 seed of an already trimmed phrase, empty passphrase: PBKDF2-HMAC-
// SHA512 over the phrase bytes exactly as written, salt "mnemonic", 2048
// rounds. Cannot fail.
Seed pbkdf2_seed(std::string_view trimmed_phrase);

// Strictly validates an already trimmed phrase as an English BIP-39
// mnemonic (NFKD for validation only; word count 12/15/18/21/24, list
// membership, checksum). Error: InvalidMnemonic "invalid BIP-39 mnemonic: …".
Result<Unit> validate_mnemonic_strict(std::string_view trimmed_phrase);

// Trims, validates strictly and returns the seed of the trimmed text.
// Error: as validate_mnemonic_strict.
Result<Seed> strict_seed(std::string_view phrase);

// Vault keys from a seed: salt = seed[0..32], then HKDF-SHA256(salt, seed,
// label) for auth, encryption and dedup keys. Error: Crypto "HKDF expand
// failed: …" (unreachable with these lengths).
Result<DerivedKeys> derive_keys_from_seed(const Seed& seed);

// Strict mode. Errors: InvalidMnemonic as above.
Result<DerivedKeys> derive_keys_from_mnemonic(std::string_view phrase);

// Lenient mode: 12 or 24 list words, checksum ignored. Errors:
// InvalidMnemonic "expected 12 or 24 words, got {}" or
// "word '{}' not in BIP-39 English wordlist".
Result<DerivedKeys> derive_keys_from_mnemonic_lenient(std::string_view phrase);

// HKDF-SHA256(salt, seed of the strictly validated phrase,
// "brisquel-lsh-seed-v1"), 32 bytes. `salt` is normally DerivedKeys::salt.
Result<Key32> derive_lsh_seed(std::string_view phrase, ByteView salt);

// `length` bytes of the labelled stream: blocks of at most 8160 bytes, block
// b = HKDF-SHA256(empty salt, ikm, label + "_block_" + b). Writes into `out`
// (whose size is the length). Error: Crypto "HKDF expand failed: …".
Result<Unit> derive_random_bytes_into(std::span<std::uint8_t> out, ByteView ikm, std::string_view label);
Result<Bytes> derive_random_bytes(ByteView ikm, std::string_view label, std::size_t length);

// Lower-case hex SHA-256 of the 32-byte authentication key.
std::string compute_auth_key_hash(ByteView auth_key);

}  // namespace kc::crypto
