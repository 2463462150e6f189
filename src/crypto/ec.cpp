#include "crypto/ec.hpp"

#include <secp256k1.h>
#include <secp256k1_recovery.h>

#include "crypto/primitives.hpp"

namespace kc::crypto::ec {
namespace {

// Created once; randomised with fresh bytes to blind the signing and key
// generation against side channels. Never destroyed, so calls during
// interpreter shutdown stay safe.
const secp256k1_context* context() {
    static const secp256k1_context* ctx = [] {
        secp256k1_context* c = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
        std::array<std::uint8_t, 32> blind{};
        random_bytes(blind);
        // Randomisation only fails for a bad context; the context is usable either way.
        [[maybe_unused]] int randomized = secp256k1_context_randomize(c, blind.data());
        wipe(blind.data(), blind.size());
        return c;
    }();
    return ctx;
}

std::unexpected<std::string> unusable() { return std::unexpected(std::string(kSignatureError)); }

}  // namespace

bool seckey_valid(const Key32& secret) { return secp256k1_ec_seckey_verify(context(), secret.data()) == 1; }

std::expected<void, std::string> seckey_tweak_add(Key32& secret, const Key32& tweak) {
    if (secp256k1_ec_seckey_tweak_add(context(), secret.data(), tweak.data()) != 1)
        return std::unexpected(std::string("tweak is not below the group order or the derived key is zero"));
    return {};
}

namespace {

template <std::size_t N>
std::expected<std::array<std::uint8_t, N>, std::string> serialize_pubkey(const Key32& secret, unsigned flags) {
    secp256k1_pubkey pub;
    if (secp256k1_ec_pubkey_create(context(), &pub, secret.data()) != 1) return unusable();
    std::array<std::uint8_t, N> out{};
    std::size_t len = out.size();
    if (secp256k1_ec_pubkey_serialize(context(), out.data(), &len, &pub, flags) != 1 || len != N) return unusable();
    return out;
}

}  // namespace

std::expected<CompressedPubkey, std::string> pubkey_compressed(const Key32& secret) {
    return serialize_pubkey<33>(secret, SECP256K1_EC_COMPRESSED);
}

std::expected<UncompressedPubkey, std::string> pubkey_uncompressed(const Key32& secret) {
    return serialize_pubkey<65>(secret, SECP256K1_EC_UNCOMPRESSED);
}

std::string address_of_pubkey(const UncompressedPubkey& pubkey) {
    Digest32 h = keccak256(ByteView(pubkey.data() + 1, 64));
    return cat("0x", to_hex(ByteView(h.data() + 12, 20)));
}

std::expected<std::string, std::string> address_of_secret(const Key32& secret) {
    auto pub = pubkey_uncompressed(secret);
    if (!pub) return std::unexpected(std::move(pub.error()));
    return address_of_pubkey(*pub);
}

std::expected<RecoverableSignature, std::string> sign_recoverable(const Digest32& digest, const Key32& secret) {
    if (!seckey_valid(secret)) return unusable();
    secp256k1_ecdsa_recoverable_signature sig;
    // A null nonce function selects the default, RFC 6979 with HMAC-SHA256.
    if (secp256k1_ecdsa_sign_recoverable(context(), &sig, digest.data(), secret.data(), nullptr, nullptr) != 1)
        return std::unexpected(std::string("nonce generation failed"));
    RecoverableSignature out;
    if (secp256k1_ecdsa_recoverable_signature_serialize_compact(context(), out.rs.data(), &out.recovery_id, &sig) !=
            1 ||
        out.recovery_id < 0 || out.recovery_id > 3)
        return std::unexpected(std::string("no recovery id"));
    return out;
}

}  // namespace kc::crypto::ec
