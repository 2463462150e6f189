// ERC-4337 v0.7 user operations: the user-operation hash the EntryPoint
// checks, and the owner's EIP-191 signature over it. The reader is strict
// about structure (keys, types) and lenient about the hexadecimal inside.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/keys.hpp"
#include "frame/error.hpp"
#include "frame/text.hpp"

namespace kc::store {

__extension__ typedef unsigned __int128 U128;

using Hash32 = std::array<std::uint8_t, 32>;
using Signature65 = std::array<std::uint8_t, 65>;

// The hex texts of a user operation, as read; optional members are absent
// when missing or null.
struct UserOperationV7 {
    std::string sender;
    std::string nonce;
    std::optional<std::string> factory;
    std::optional<std::string> factory_data;
    std::string call_data;
    std::string call_gas_limit;
    std::string verification_gas_limit;
    std::string pre_verification_gas;
    std::string max_fee_per_gas;
    std::string max_priority_fee_per_gas;
    std::optional<std::string> paymaster;
    std::optional<std::string> paymaster_verification_gas_limit;
    std::optional<std::string> paymaster_post_op_gas_limit;
    std::optional<std::string> paymaster_data;
    std::string signature;  // not hashed
};

// Every leading "0x" removed (lower-case x only, repeatedly).
std::string_view strip_hex_prefixes(std::string_view text);

// Quantity rule: strip the 0x prefixes, then an unsigned 128-bit hex number
// with an optional leading "+". Empty text, a lone "+", any other character
// and values of 2^128 or more read as 0. Never fails.
U128 parse_hex_u128(std::string_view text);

// Bytes rule for user-operation fields: strip the 0x prefixes, then hex
// pairs of either case; odd length or a non-hex character gives no bytes.
Bytes read_hex_bytes_lenient(std::string_view text);

// Nonce rule: strip the 0x prefixes, pad an odd length with one leading 0,
// decode; 1 to 32 bytes are right-aligned in the word, anything else
// (nothing, more than 32 bytes, a non-hex character) gives the zero word.
Hash32 read_nonce_word(std::string_view text);

// Reads the JSON form (camelCase keys, every value a string, optional ones
// may be null; unknown keys ignored). Error: Parse "Invalid UserOp JSON: {}"
// with the reader's description (syntax, not an object, missing or
// duplicate key, wrong type).
Result<UserOperationV7> parse_userop_json(std::string_view json_text);

// Keccak-256 of (inner hash | entrypoint word | chain id word), the inner
// hash being Keccak-256 of the packed operation. Error: Crypto with the hex
// fault when the entrypoint (0x prefixes stripped) has odd length or a
// non-hex character. A sender or entrypoint of another length than 20 bytes
// is hashed as given, after the 12 zero bytes of its word.
Result<Hash32> hash_userop(const UserOperationV7& op, std::string_view entrypoint, std::uint64_t chain_id);

// EIP-191 personal-message signature over a 32-byte hash: r | s | v with s
// low and v = 27 + recovery id. Errors: Crypto "Invalid signing key: {}"
// (zero or not below the group order), "Signing failed: {}".
Result<Signature65> sign_userop(const Hash32& hash, const crypto::Key32& private_key);

}  // namespace kc::store
