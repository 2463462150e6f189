// The Ethereum signing account of a recovery phrase: BIP-32 private
// derivation along m/44'/60'/0'/0/0 from the BIP-39 seed.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "crypto/keys.hpp"
#include "frame/error.hpp"

namespace kc::crypto {

struct EthWallet {
    std::string address;  // "0x" + 40 lower-case hex characters
    Key32 private_key{};  // secp256k1 secret scalar, big-endian
};

// The account of a 64-byte BIP-39 seed. Errors (negligible probability):
// Crypto "BIP-32 master key failed: {}", "BIP-44 derivation failed: {}",
// "Invalid private key: {}".
Result<EthWallet> derive_eoa_from_seed(const Seed& seed);

// Trims and strictly validates the phrase, then derives its account.
// Errors: InvalidMnemonic "invalid BIP-39 mnemonic: …"; the Crypto errors of
// derive_eoa_from_seed.
Result<EthWallet> derive_eoa(std::string_view phrase);

// Compact JSON {"private_key": 64 hex characters, "address": …}; the error
// is the writer's reason.
std::expected<std::string, std::string> to_json(const EthWallet& wallet);

}  // namespace kc::crypto
