#include "crypto/wallet.hpp"

#include <algorithm>

#include "crypto/ec.hpp"
#include "crypto/primitives.hpp"
#include "frame/json_writer.hpp"

namespace kc::crypto {
namespace {

constexpr std::uint32_t kHardened = 0x80000000u;
// m/44'/60'/0'/0/0: purpose, coin type (Ether), account, external chain, index.
constexpr std::array<std::uint32_t, 5> kPath = {44 | kHardened, 60 | kHardened, 0 | kHardened, 0, 0};

// An extended private key; wiped when it goes out of scope.
struct ExtendedKey {
    Key32 secret{};
    Key32 chain_code{};
    ~ExtendedKey() {
        wipe(secret.data(), secret.size());
        wipe(chain_code.data(), chain_code.size());
    }
};

void split(const Digest64& i, ExtendedKey& out) {
    std::copy_n(i.begin(), 32, out.secret.begin());
    std::copy_n(i.begin() + 32, 32, out.chain_code.begin());
}

// One BIP-32 private child step, in place.
std::expected<void, std::string> derive_child(ExtendedKey& key, std::uint32_t index) {
    std::array<std::uint8_t, 37> data{};
    if (index & kHardened) {
        // 0x00 | ser256(k) | ser32(i)
        std::copy(key.secret.begin(), key.secret.end(), data.begin() + 1);
    } else {
        // serP(point(k)) | ser32(i)
        auto pub = ec::pubkey_compressed(key.secret);
        if (!pub) return std::unexpected(std::move(pub.error()));
        std::copy(pub->begin(), pub->end(), data.begin());
    }
    for (int b = 0; b < 4; ++b) data[33 + b] = static_cast<std::uint8_t>(index >> (24 - 8 * b));
    Digest64 i = hmac_sha512(key.chain_code, data);
    wipe(data.data(), data.size());
    Key32 tweak{};
    std::copy_n(i.begin(), 32, tweak.begin());
    auto added = ec::seckey_tweak_add(key.secret, tweak);
    std::copy_n(i.begin() + 32, 32, key.chain_code.begin());
    wipe(tweak.data(), tweak.size());
    wipe(i.data(), i.size());
    return added;
}

}  // namespace

Result<EthWallet> derive_eoa_from_seed(const Seed& seed) {
    ExtendedKey key;
    {
        Digest64 master = hmac_sha512(as_bytes("Bitcoin seed"), seed);
        split(master, key);
        wipe(master.data(), master.size());
    }
    if (!ec::seckey_valid(key.secret))
        return fail(Error::crypto(cat("BIP-32 master key failed: ", "master secret is zero or not below the group order")));
    for (std::uint32_t index : kPath) {
        if (auto step = derive_child(key, index); !step)
            return fail(Error::crypto(cat("BIP-44 derivation failed: ", step.error())));
    }
    auto pub = ec::pubkey_uncompressed(key.secret);
    if (!pub) return fail(Error::crypto(cat("Invalid private key: ", pub.error())));
    EthWallet wallet;
    wallet.private_key = key.secret;
    wallet.address = ec::address_of_pubkey(*pub);
    return wallet;
}

Result<EthWallet> derive_eoa(std::string_view phrase) {
    auto seed = strict_seed(phrase);
    if (!seed) return fail(seed.error());
    auto wallet = derive_eoa_from_seed(*seed);
    wipe(seed->data(), seed->size());
    return wallet;
}

std::expected<std::string, std::string> to_json(const EthWallet& wallet) {
    json::Writer w;
    w.begin_object()
        .key("private_key")
        .string(to_hex(wallet.private_key))
        .key("address")
        .string(wallet.address)
        .end_object();
    return std::move(w).finish();
}

}  // namespace kc::crypto
