#include "crypto/keys.hpp"

#include <algorithm>

#include "crypto/primitives.hpp"
#include "crypto/sha256_lanes.hpp"
#include "crypto/wordlist.hpp"
#include "frame/unicode.hpp"

namespace kc::crypto {
namespace {

constexpr std::string_view kAuthLabel = "kelvane-auth-key-v1";
constexpr std::string_view kEncryptionLabel = "kelvane-encryption-key-v1";
constexpr std::string_view kDedupLabel = "brisquel-dedup-v1";
constexpr std::string_view kLshSeedLabel = "brisquel-lsh-seed-v1";
constexpr std::size_t kHkdfBlock = 255 * 32;

Error bip39_error(std::string_view detail) { return Error::invalid_mnemonic(cat("invalid BIP-39 mnemonic: ", detail)); }

Result<Key32> hkdf32(ByteView salt, ByteView ikm, std::string_view label) {
    Key32 out{};
    auto r = hkdf_sha256(out, salt, ikm, as_bytes(label));
    if (!r) return fail(Error::crypto(cat("HKDF expand failed: ", r.error())));
    return out;
}

}  // namespace

Seed pbkdf2_seed(std::string_view trimmed_phrase) {
    Seed seed{};
    pbkdf2_sha512(seed, as_bytes(trimmed_phrase), as_bytes("mnemonic"), 2048);
    return seed;
}

Result<Unit> validate_mnemonic_strict(std::string_view trimmed_phrase) {
    // Validation sees the NFKD form (so compatibility characters such as
    // full-width letters match list words); the seed never does.
    std::string normalized = nfkd(trimmed_phrase);
    std::vector<std::string_view> words = split_white_space(normalized);
    const std::size_t n = words.size();
    if (n < 12 || n > 24 || n % 3 != 0)
        return fail(bip39_error(
            cat("mnemonic has an invalid word count: ", n, ". Word count must be 12, 15, 18, 21, or 24")));
    // 11 bits per word: entropy bits followed by n/3 checksum bits.
    std::array<bool, 24 * 11> bits{};
    for (std::size_t i = 0; i < n; ++i) {
        auto index = bip39_index(words[i]);
        if (!index) return fail(bip39_error(cat("mnemonic contains an unknown word (word ", i, ")")));
        for (int b = 0; b < 11; ++b) bits[i * 11 + b] = (*index >> (10 - b)) & 1;
    }
    const std::size_t entropy_bytes = n / 3 * 4;
    std::array<std::uint8_t, 32> entropy{};
    for (std::size_t i = 0; i < entropy_bytes; ++i)
        for (int b = 0; b < 8; ++b)
            if (bits[i * 8 + b]) entropy[i] |= static_cast<std::uint8_t>(1 << (7 - b));
    Digest32 check = sha256(ByteView(entropy.data(), entropy_bytes));
    for (std::size_t i = 0; i < entropy_bytes / 4; ++i) {
        bool expected = (check[i / 8] >> (7 - i % 8)) & 1;
        if (bits[8 * entropy_bytes + i] != expected) return fail(bip39_error("the mnemonic has an invalid checksum"));
    }
    return Unit{};
}

Result<Seed> strict_seed(std::string_view phrase) {
    std::string_view trimmed = trim_white_space(phrase);
    if (auto ok = validate_mnemonic_strict(trimmed); !ok) return fail(ok.error());
    return pbkdf2_seed(trimmed);
}

Result<DerivedKeys> derive_keys_from_seed(const Seed& seed) {
    DerivedKeys keys;
    std::copy_n(seed.begin(), 32, keys.salt.begin());
    auto auth = hkdf32(keys.salt, seed, kAuthLabel);
    if (!auth) return fail(auth.error());
    auto enc = hkdf32(keys.salt, seed, kEncryptionLabel);
    if (!enc) return fail(enc.error());
    auto dedup = hkdf32(keys.salt, seed, kDedupLabel);
    if (!dedup) return fail(dedup.error());
    keys.auth_key = *auth;
    keys.encryption_key = *enc;
    keys.dedup_key = *dedup;
    return keys;
}

Result<DerivedKeys> derive_keys_from_mnemonic(std::string_view phrase) {
    auto seed = strict_seed(phrase);
    if (!seed) return fail(seed.error());
    auto keys = derive_keys_from_seed(*seed);
    wipe(seed->data(), seed->size());
    return keys;
}

Result<DerivedKeys> derive_keys_from_mnemonic_lenient(std::string_view phrase) {
    std::string_view trimmed = trim_white_space(phrase);
    std::vector<std::string_view> words = split_white_space(trimmed);
    if (words.size() != 12 && words.size() != 24)
        return fail(Error::invalid_mnemonic(cat("expected 12 or 24 words, got ", words.size())));
    for (std::string_view w : words)
        if (!bip39_index(w)) return fail(Error::invalid_mnemonic(cat("word '", w, "' not in BIP-39 English wordlist")));
    Seed seed = pbkdf2_seed(trimmed);
    auto keys = derive_keys_from_seed(seed);
    wipe(seed.data(), seed.size());
    return keys;
}

Result<Key32> derive_lsh_seed(std::string_view phrase, ByteView salt) {
    auto seed = strict_seed(phrase);
    if (!seed) return fail(seed.error());
    auto out = hkdf32(salt, *seed, kLshSeedLabel);
    wipe(seed->data(), seed->size());
    return out;
}

Result<Unit> derive_random_bytes_into(std::span<std::uint8_t> out, ByteView ikm, std::string_view label) {
    // Blocks of kHkdfBlock bytes, block b from the info label_block_b; they
    // share the extract step and expand side by side.
    static_assert(kHkdfBlock == 255 * 32);
    const LabelledStreamJob stream{label, out};
    derive_labelled_streams(ikm, std::span<const LabelledStreamJob>(&stream, 1));
    return Unit{};
}

Result<Bytes> derive_random_bytes(ByteView ikm, std::string_view label, std::size_t length) {
    Bytes out(length);
    if (auto r = derive_random_bytes_into(out, ikm, label); !r) return fail(r.error());
    return out;
}

std::string compute_auth_key_hash(ByteView auth_key) { return sha256_hex(auth_key); }

}  // namespace kc::crypto
