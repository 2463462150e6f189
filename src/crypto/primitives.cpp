#include "crypto/primitives.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <sodium.h>

#include <bit>
#include <cstring>

namespace kc::crypto {
namespace {

// OpenSSL 3 looks an algorithm up on every call that names it with
// EVP_sha256(); fetching once and reusing one context per thread keeps short
// hashes (blind indices, bucket hashes) at the speed of the primitive.
const EVP_MD* sha256_md() {
    static const EVP_MD* md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md;
}

const EVP_MD* sha512_md() {
    static const EVP_MD* md = EVP_MD_fetch(nullptr, "SHA512", nullptr);
    return md;
}

struct DigestContext {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~DigestContext() { EVP_MD_CTX_free(ctx); }
};

EVP_MD_CTX* thread_context() {
    thread_local DigestContext context;
    return context.ctx;
}

template <std::size_t N>
void digest_parts(const EVP_MD* md, std::initializer_list<ByteView> parts, std::uint8_t* out) {
    EVP_MD_CTX* ctx = thread_context();
    EVP_DigestInit_ex2(ctx, md, nullptr);
    for (ByteView p : parts) EVP_DigestUpdate(ctx, p.data(), p.size());
    unsigned len = 0;
    EVP_DigestFinal_ex(ctx, out, &len);
}

template <std::size_t N>
std::array<std::uint8_t, N> digest(const EVP_MD* md, ByteView data) {
    std::array<std::uint8_t, N> out{};
    digest_parts<N>(md, {data}, out.data());
    return out;
}

// HMAC (RFC 2104) over the cached digest: H((K ^ opad) | H((K ^ ipad) | m)).
template <std::size_t N, std::size_t Block>
std::array<std::uint8_t, N> hmac(const EVP_MD* md, ByteView key, ByteView message) {
    std::array<std::uint8_t, Block> k{};
    if (key.size() > Block) {
        digest_parts<N>(md, {key}, k.data());
    } else if (!key.empty()) {
        std::memcpy(k.data(), key.data(), key.size());
    }
    std::array<std::uint8_t, Block> pad;
    for (std::size_t i = 0; i < Block; ++i) pad[i] = k[i] ^ 0x36;
    std::array<std::uint8_t, N> inner{};
    digest_parts<N>(md, {pad, message}, inner.data());
    for (std::size_t i = 0; i < Block; ++i) pad[i] = k[i] ^ 0x5c;
    std::array<std::uint8_t, N> out{};
    digest_parts<N>(md, {pad, inner}, out.data());
    wipe(k.data(), k.size());
    wipe(pad.data(), pad.size());
    return out;
}

EVP_KDF* hkdf_algorithm() {
    // Fetched once; OpenSSL's algorithm objects are immutable and shareable.
    static EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    return kdf;
}

}  // namespace

Digest32 sha256(ByteView data) { return digest<32>(sha256_md(), data); }
Digest64 sha512(ByteView data) { return digest<64>(sha512_md(), data); }
Digest32 hmac_sha256(ByteView key, ByteView message) { return hmac<32, 64>(sha256_md(), key, message); }
Digest64 hmac_sha512(ByteView key, ByteView message) { return hmac<64, 128>(sha512_md(), key, message); }

std::string sha256_hex(ByteView data) { return to_hex(sha256(data)); }

std::expected<void, std::string> hkdf_sha256(std::span<std::uint8_t> out, ByteView salt, ByteView ikm,
                                             ByteView info) {
    if (out.size() > 255 * 32) return std::unexpected(std::string("invalid output length"));
    if (out.empty()) return {};
    EVP_KDF* kdf = hkdf_algorithm();
    if (!kdf) return std::unexpected(std::string("HKDF unavailable"));
    EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
    if (!ctx) return std::unexpected(std::string("out of memory"));
    static const std::uint8_t zero_salt[32] = {};
    char digest_name[] = "SHA256";
    OSSL_PARAM params[5];
    int n = 0;
    params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest_name, 0);
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(ikm.data()),
                                                    ikm.size());
    // An empty salt means HashLen zero bytes (RFC 5869 2.2).
    params[n++] = salt.empty()
                      ? OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<std::uint8_t*>(zero_salt), 32)
                      : OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT,
                                                          const_cast<std::uint8_t*>(salt.data()), salt.size());
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<std::uint8_t*>(info.data()),
                                                    info.size());
    params[n++] = OSSL_PARAM_construct_end();
    int ok = EVP_KDF_derive(ctx, out.data(), out.size(), params);
    EVP_KDF_CTX_free(ctx);
    if (ok != 1) return std::unexpected(std::string("key derivation failed"));
    return {};
}

void pbkdf2_sha512(std::span<std::uint8_t> out, ByteView password, ByteView salt, unsigned iterations) {
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.data()), static_cast<int>(password.size()),
                      salt.data(), static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha512(),
                      static_cast<int>(out.size()), out.data());
}

void sodium_ready() {
    // sodium_init() also picks the vectorised ChaCha20 and Poly1305 code for
    // this CPU; without it libsodium runs its portable reference code.
    static const bool ready = [] {
        if (sodium_init() < 0) std::abort();  // no entropy source: never hand out weak nonces
        return true;
    }();
    (void)ready;
}

void random_bytes(std::span<std::uint8_t> out) {
    sodium_ready();
    randombytes_buf(out.data(), out.size());
}

void wipe(void* data, std::size_t size) { sodium_memzero(data, size); }

// ---- Keccak-256 -------------------------------------------------------------
// No library on the platform list offers the pre-standard padding, so this
// is the reference permutation, written for clarity over speed.

namespace {

constexpr std::uint64_t kRoundConstants[24] = {
    0x0000000000000001ULL, 0x0000000000008082ULL, 0x800000000000808aULL, 0x8000000080008000ULL,
    0x000000000000808bULL, 0x0000000080000001ULL, 0x8000000080008081ULL, 0x8000000000008009ULL,
    0x000000000000008aULL, 0x0000000000000088ULL, 0x0000000080008009ULL, 0x000000008000000aULL,
    0x000000008000808bULL, 0x800000000000008bULL, 0x8000000000008089ULL, 0x8000000000008003ULL,
    0x8000000000008002ULL, 0x8000000000000080ULL, 0x000000000000800aULL, 0x800000008000000aULL,
    0x8000000080008081ULL, 0x8000000000008080ULL, 0x0000000080000001ULL, 0x8000000080008008ULL,
};
inline std::uint64_t rotl(std::uint64_t v, int s) { return (v << s) | (v >> (64 - s)); }  // 0 < s < 64

// The permutation written out lane by lane (generated from the round
// definition: theta, rho and pi into b, chi back into a, iota), so the
// compiler keeps lanes in registers instead of walking index tables.
void keccak_f1600(std::uint64_t a[25]) {
    for (int round = 0; round < 24; ++round) {
        const std::uint64_t c0 = a[0] ^ a[5] ^ a[10] ^ a[15] ^ a[20];
        const std::uint64_t c1 = a[1] ^ a[6] ^ a[11] ^ a[16] ^ a[21];
        const std::uint64_t c2 = a[2] ^ a[7] ^ a[12] ^ a[17] ^ a[22];
        const std::uint64_t c3 = a[3] ^ a[8] ^ a[13] ^ a[18] ^ a[23];
        const std::uint64_t c4 = a[4] ^ a[9] ^ a[14] ^ a[19] ^ a[24];
        const std::uint64_t d0 = c4 ^ rotl(c1, 1);
        const std::uint64_t d1 = c0 ^ rotl(c2, 1);
        const std::uint64_t d2 = c1 ^ rotl(c3, 1);
        const std::uint64_t d3 = c2 ^ rotl(c4, 1);
        const std::uint64_t d4 = c3 ^ rotl(c0, 1);
        const std::uint64_t b0 = (a[0] ^ d0);
        const std::uint64_t b1 = rotl(a[6] ^ d1, 44);
        const std::uint64_t b2 = rotl(a[12] ^ d2, 43);
        const std::uint64_t b3 = rotl(a[18] ^ d3, 21);
        const std::uint64_t b4 = rotl(a[24] ^ d4, 14);
        const std::uint64_t b5 = rotl(a[3] ^ d3, 28);
        const std::uint64_t b6 = rotl(a[9] ^ d4, 20);
        const std::uint64_t b7 = rotl(a[10] ^ d0, 3);
        const std::uint64_t b8 = rotl(a[16] ^ d1, 45);
        const std::uint64_t b9 = rotl(a[22] ^ d2, 61);
        const std::uint64_t b10 = rotl(a[1] ^ d1, 1);
        const std::uint64_t b11 = rotl(a[7] ^ d2, 6);
        const std::uint64_t b12 = rotl(a[13] ^ d3, 25);
        const std::uint64_t b13 = rotl(a[19] ^ d4, 8);
        const std::uint64_t b14 = rotl(a[20] ^ d0, 18);
        const std::uint64_t b15 = rotl(a[4] ^ d4, 27);
        const std::uint64_t b16 = rotl(a[5] ^ d0, 36);
        const std::uint64_t b17 = rotl(a[11] ^ d1, 10);
        const std::uint64_t b18 = rotl(a[17] ^ d2, 15);
        const std::uint64_t b19 = rotl(a[23] ^ d3, 56);
        const std::uint64_t b20 = rotl(a[2] ^ d2, 62);
        const std::uint64_t b21 = rotl(a[8] ^ d3, 55);
        const std::uint64_t b22 = rotl(a[14] ^ d4, 39);
        const std::uint64_t b23 = rotl(a[15] ^ d0, 41);
        const std::uint64_t b24 = rotl(a[21] ^ d1, 2);
        a[0] = b0 ^ (~b1 & b2);
        a[1] = b1 ^ (~b2 & b3);
        a[2] = b2 ^ (~b3 & b4);
        a[3] = b3 ^ (~b4 & b0);
        a[4] = b4 ^ (~b0 & b1);
        a[5] = b5 ^ (~b6 & b7);
        a[6] = b6 ^ (~b7 & b8);
        a[7] = b7 ^ (~b8 & b9);
        a[8] = b8 ^ (~b9 & b5);
        a[9] = b9 ^ (~b5 & b6);
        a[10] = b10 ^ (~b11 & b12);
        a[11] = b11 ^ (~b12 & b13);
        a[12] = b12 ^ (~b13 & b14);
        a[13] = b13 ^ (~b14 & b10);
        a[14] = b14 ^ (~b10 & b11);
        a[15] = b15 ^ (~b16 & b17);
        a[16] = b16 ^ (~b17 & b18);
        a[17] = b17 ^ (~b18 & b19);
        a[18] = b18 ^ (~b19 & b15);
        a[19] = b19 ^ (~b15 & b16);
        a[20] = b20 ^ (~b21 & b22);
        a[21] = b21 ^ (~b22 & b23);
        a[22] = b22 ^ (~b23 & b24);
        a[23] = b23 ^ (~b24 & b20);
        a[24] = b24 ^ (~b20 & b21);
        a[0] ^= kRoundConstants[round];
    }
}

}  // namespace

// Lanes are little-endian; on a big-endian host swap each one.
inline std::uint64_t le64(std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap64(v);
    return v;
}

Digest32 keccak256(ByteView data) {
    constexpr std::size_t rate = 136;
    std::uint64_t state[25] = {};
    auto absorb = [&](const std::uint8_t* block) {
        for (std::size_t i = 0; i < rate / 8; ++i) {
            std::uint64_t lane;
            std::memcpy(&lane, block + 8 * i, 8);
            state[i] ^= le64(lane);
        }
        keccak_f1600(state);
    };
    std::size_t off = 0;
    for (; off + rate <= data.size(); off += rate) absorb(data.data() + off);
    std::uint8_t last[rate] = {};
    // An empty input may have no data pointer at all: memcpy must not see it.
    if (data.size() > off) std::memcpy(last, data.data() + off, data.size() - off);
    last[data.size() - off] ^= 0x01;
    last[rate - 1] ^= 0x80;
    absorb(last);
    Digest32 out{};
    for (std::size_t i = 0; i < 32; ++i) out[i] = static_cast<std::uint8_t>(state[i / 8] >> (8 * (i % 8)));
    return out;
}

}  // namespace kc::crypto
