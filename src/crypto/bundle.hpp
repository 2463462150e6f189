// The derived key bundle ("derived-bundle-v1"): the vault keys, the signing
// material and the smart-account reference of one user in one canonical
// JSON document, its derivation from a recovery phrase and its fully
// validating reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/keys.hpp"
#include "frame/error.hpp"
#include "frame/json_value.hpp"

namespace kc::crypto {

struct VaultKeys {
    Key32 encryption_key{};
    Key32 dedup_key{};
    Key32 auth_key{};
    Key32 lsh_seed{};
};

enum class SigningKind : std::uint8_t { OwnerEoa, SessionKey };

struct SigningMaterial {
    SigningKind kind = SigningKind::OwnerEoa;
    Key32 private_key{};
    std::string address;
    std::optional<json::Value> grant;  // present exactly for SessionKey
};

struct AccountRef {
    std::string smart_account;
    std::uint64_t chain_id = 0;
};

struct DerivedBundleV1 {
    VaultKeys vault;
    SigningMaterial signing;
    AccountRef account;
    std::string provisioned_at;  // YYYY-MM-DDTHH:MM:SSZ
    std::string provisioned_by;
};

// The wire tag of a signing kind: "owner-eoa" or "session-key".
std::string_view signing_kind_tag(SigningKind kind);

// EIP-55 casing of a 20-byte hex address given with or without "0x" in any
// case; the result carries "0x". Error: InvalidInput "not a valid 20-byte
// hex address: {input}".
Result<std::string> to_eip55_checksum(std::string_view address);

// "0x" followed by exactly 40 hex digits (either case). Errors: InvalidInput
// "{field} must be 0x-prefixed, got {quoted}", "{field} is not a valid
// 20-byte hex address: {quoted}".
Result<Unit> require_valid_address(std::string_view value, std::string_view field);

// The value must be its own EIP-55 form. Errors: those of to_eip55_checksum;
// InvalidInput "{field} is not EIP-55 checksummed (expected {}, got {}) — …".
Result<Unit> require_eip55_checksum(std::string_view value, std::string_view field);

// 1 to 32 characters of a-z, 0-9 and "-". Error: InvalidInput
// "provisioned_by must match ^[a-z0-9-]{1,32}$ (…), got {quoted}".
Result<Unit> require_bounded_provisioned_by(std::string_view slug);

// Same length and same bytes once ASCII A-Z are mapped to a-z.
bool addresses_equal_ignoring_case(std::string_view a, std::string_view b);

// Exactly 64 lower-case hex characters, no prefix. Errors: Parse "expected
// exactly 64 lowercase hex chars, got {} chars", "key material must be
// lowercase hex with no 0x prefix".
Result<Key32> parse_hex32(std::string_view text);

// The canonical compact JSON (version 2, schema "derived-bundle-v1",
// members in their fixed order). Error: Parse "bundle serialisation
// failed: {}".
Result<std::string> bundle_to_json(const DerivedBundleV1& bundle);

// Reads and fully validates a bundle; the first failing check is returned.
// Errors: Parse "malformed bundle JSON: {}", "unsupported bundle version …",
// "unsupported bundle schema …"; Crypto "invalid private key: signature
// error"; InvalidInput for an address that does not match the key, a
// malformed or non-EIP-55 address, a bad provisioned_by slug, and the
// session-key grant checks.
Result<DerivedBundleV1> parse_bundle_v1(std::string_view json_text);

// Derives an owner-eoa bundle from a phrase; `now_unix_seconds` becomes
// provisioned_at. The slug is checked before any key work; smart_account
// may be in any case, with or without "0x". Errors: those of
// require_bounded_provisioned_by, of strict phrase validation
// (InvalidMnemonic), of derive_eoa, and of to_eip55_checksum.
Result<DerivedBundleV1> derive_bundle_from_mnemonic(std::string_view phrase, std::uint64_t chain_id,
                                                    std::string_view provisioned_by, std::string_view smart_account,
                                                    std::int64_t now_unix_seconds);

}  // namespace kc::crypto
