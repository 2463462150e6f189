#include "crypto/sha256_lanes.hpp"

// The portable path is OpenSSL's own block function (it picks the best code
// for the CPU); it is only exposed through the deprecated low-level API.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "crypto/primitives.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#define KC_SHA_X86 1
#endif

namespace kc::crypto {
namespace {

using Sha256State = std::array<std::uint32_t, 8>;
using MessageWords = std::array<std::uint32_t, 16>;

constexpr Sha256State kInitial = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

alignas(64) constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::size_t kBlock = 64;
constexpr std::size_t kMaxExpand = 255 * 32;
// Longest info whose inner messages (T | info | counter, after the key
// block) fit one block with their padding.
constexpr std::size_t kShortInfo = kBlock - 32 - 1 - 9;  // 22
// Below this many jobs of one shape the 16-lane path leaves too many lanes
// idle to beat the SHA extensions.
constexpr std::size_t kMinWideLanes = 8;

void store_be32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void store_be64(std::uint8_t* p, std::uint64_t v) {
    store_be32(p, static_cast<std::uint32_t>(v >> 32));
    store_be32(p + 4, static_cast<std::uint32_t>(v));
}

void state_bytes(const Sha256State& s, std::uint8_t* out) {
    for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, s[i]);
}

// ---- compression functions -------------------------------------------------------

void compress_portable(Sha256State& s, const std::uint8_t* block) {
    SHA256_CTX c;  // the block function reads and writes only the chaining words
    static_assert(sizeof(c.h) == sizeof(Sha256State));
    std::memcpy(c.h, s.data(), sizeof(c.h));
    SHA256_Transform(&c, block);
    std::memcpy(s.data(), c.h, sizeof(c.h));
}

#ifdef KC_SHA_X86

// L independent blocks through the compression with the SHA extensions;
// interleaving messages hides the instructions' latency. The state is held
// as the ABEF/CDGH register pairs the instructions expect. A block is 64
// message bytes or, with Words, the 16 message words in integer form.
template <int L, bool Words>
__attribute__((target("sha,sse4.1,ssse3"))) void compress_ni(Sha256State* const* states,
                                                               const void* const* blocks) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i abef[L], cdgh[L], abef_in[L], cdgh_in[L], w[L][4];
    for (int l = 0; l < L; ++l) {
        __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(states[l]->data()));
        __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(states[l]->data() + 4));
        dcba = _mm_shuffle_epi32(dcba, 0xB1);  // CDAB
        hgfe = _mm_shuffle_epi32(hgfe, 0x1B);  // EFGH
        abef[l] = _mm_alignr_epi8(dcba, hgfe, 8);
        cdgh[l] = _mm_blend_epi16(hgfe, dcba, 0xF0);
        abef_in[l] = abef[l];
        cdgh_in[l] = cdgh[l];
    }
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
        const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g));
        for (int l = 0; l < L; ++l) {
            __m128i words;
            if (g < 4) {
                words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[l]) + g);
                if constexpr (!Words) words = _mm_shuffle_epi8(words, byte_swap);
            } else {
                // W[t..t+3] from W[t-16..t-1]: sigma0 terms, W[t-7..t-4], sigma1 terms.
                __m128i x = _mm_sha256msg1_epu32(w[l][g & 3], w[l][(g + 1) & 3]);
                x = _mm_add_epi32(x, _mm_alignr_epi8(w[l][(g + 3) & 3], w[l][(g + 2) & 3], 4));
                words = _mm_sha256msg2_epu32(x, w[l][(g + 3) & 3]);
            }
            w[l][g & 3] = words;
            __m128i m = _mm_add_epi32(words, k);
            cdgh[l] = _mm_sha256rnds2_epu32(cdgh[l], abef[l], m);
            m = _mm_shuffle_epi32(m, 0x0E);
            abef[l] = _mm_sha256rnds2_epu32(abef[l], cdgh[l], m);
        }
    }
    for (int l = 0; l < L; ++l) {
        __m128i a = _mm_add_epi32(abef[l], abef_in[l]);
        __m128i c = _mm_add_epi32(cdgh[l], cdgh_in[l]);
        __m128i feba = _mm_shuffle_epi32(a, 0x1B);
        __m128i dchg = _mm_shuffle_epi32(c, 0xB1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(states[l]->data()), _mm_blend_epi16(feba, dchg, 0xF0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(states[l]->data() + 4), _mm_alignr_epi8(dchg, feba, 8));
    }
}

// GCC 12's AVX-512 intrinsics start from an "undefined" register it then
// reports as uninitialised (up to expand_x16).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Sixteen independent blocks at once, one message per 32-bit lane of the
// AVX-512 registers: st[i] holds chaining word i of every lane, msg[i]
// message word i.
__attribute__((target("avx512f"))) void compress_x16(__m512i* st, const __m512i* msg) {
    __m512i a = st[0], b = st[1], c = st[2], d = st[3], e = st[4], f = st[5], g = st[6], h = st[7];
    __m512i w[16];
    for (int i = 0; i < 16; ++i) w[i] = msg[i];
#pragma GCC unroll 64
    for (int t = 0; t < 64; ++t) {
        __m512i wt;
        if (t < 16) {
            wt = w[t];
        } else {
            const __m512i x = w[(t - 15) & 15], y = w[(t - 2) & 15];
            const __m512i s0 =
                _mm512_ternarylogic_epi32(_mm512_ror_epi32(x, 7), _mm512_ror_epi32(x, 18), _mm512_srli_epi32(x, 3), 0x96);
            const __m512i s1 = _mm512_ternarylogic_epi32(_mm512_ror_epi32(y, 17), _mm512_ror_epi32(y, 19),
                                                         _mm512_srli_epi32(y, 10), 0x96);
            wt = _mm512_add_epi32(_mm512_add_epi32(w[t & 15], s0), _mm512_add_epi32(w[(t - 7) & 15], s1));
            w[t & 15] = wt;
        }
        // 0x96: x ^ y ^ z; 0xCA: e ? f : g (choose); 0xE8: majority.
        const __m512i big_s1 =
            _mm512_ternarylogic_epi32(_mm512_ror_epi32(e, 6), _mm512_ror_epi32(e, 11), _mm512_ror_epi32(e, 25), 0x96);
        const __m512i ch = _mm512_ternarylogic_epi32(e, f, g, 0xCA);
        const __m512i t1 = _mm512_add_epi32(_mm512_add_epi32(h, big_s1),
                                            _mm512_add_epi32(ch, _mm512_add_epi32(wt, _mm512_set1_epi32(
                                                                                         static_cast<int>(kRound[t])))));
        const __m512i big_s0 =
            _mm512_ternarylogic_epi32(_mm512_ror_epi32(a, 2), _mm512_ror_epi32(a, 13), _mm512_ror_epi32(a, 22), 0x96);
        const __m512i t2 = _mm512_add_epi32(big_s0, _mm512_ternarylogic_epi32(a, b, c, 0xE8));
        h = g;
        g = f;
        f = e;
        e = _mm512_add_epi32(d, t1);
        d = c;
        c = b;
        b = a;
        a = _mm512_add_epi32(t1, t2);
    }
    st[0] = _mm512_add_epi32(st[0], a);
    st[1] = _mm512_add_epi32(st[1], b);
    st[2] = _mm512_add_epi32(st[2], c);
    st[3] = _mm512_add_epi32(st[3], d);
    st[4] = _mm512_add_epi32(st[4], e);
    st[5] = _mm512_add_epi32(st[5], f);
    st[6] = _mm512_add_epi32(st[6], g);
    st[7] = _mm512_add_epi32(st[7], h);
}

bool cpu_has_sha_extensions() {
    __builtin_cpu_init();  // idempotent; safe however early the first call comes
    return __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
}
bool cpu_has_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

#else

bool cpu_has_sha_extensions() { return false; }
bool cpu_has_avx512() { return false; }

#endif

std::atomic<bool>& sha_ni_enabled() {
    static std::atomic<bool> enabled{cpu_has_sha_extensions()};
    return enabled;
}

std::atomic<bool>& avx512_enabled() {
    static std::atomic<bool> enabled{cpu_has_avx512()};
    return enabled;
}

template <int L>
void compress_lanes(Sha256State* const* states, const std::uint8_t* const* blocks, bool ni) {
#ifdef KC_SHA_X86
    if (ni) {
        compress_ni<L, false>(states, reinterpret_cast<const void* const*>(blocks));
        return;
    }
#endif
    (void)ni;
    for (int l = 0; l < L; ++l) compress_portable(*states[l], blocks[l]);
}

template <int L>
void compress_word_lanes(Sha256State* const* states, const MessageWords* const* words, bool ni) {
#ifdef KC_SHA_X86
    if (ni) {
        compress_ni<L, true>(states, reinterpret_cast<const void* const*>(words));
        return;
    }
#endif
    (void)ni;
    for (int l = 0; l < L; ++l) {
        std::uint8_t block[kBlock];
        for (int i = 0; i < 16; ++i) store_be32(block + 4 * i, (*words[l])[i]);
        compress_portable(*states[l], block);
    }
}

// ---- HMAC and HKDF-expand --------------------------------------------------------------

// Blocks needed for a final message part of `n` bytes plus padding.
constexpr std::size_t padded_blocks(std::size_t n) { return (n + 9 + kBlock - 1) / kBlock; }

// Writes the padded final part: `prefix` bytes left for the caller, then
// `info`, one byte left for the counter, the 0x80 marker and the bit length
// of the whole message (`before` bytes already compressed).
void lay_out_tail(std::uint8_t* p, std::size_t blocks, std::size_t prefix, ByteView info, std::size_t before) {
    std::memset(p, 0, blocks * kBlock);
    if (!info.empty()) std::memcpy(p + prefix, info.data(), info.size());
    const std::size_t used = prefix + info.size() + 1;
    p[used] = 0x80;
    store_be64(p + blocks * kBlock - 8, static_cast<std::uint64_t>(before + used) * 8);
}

// HMAC-SHA256 with the key's pad blocks already compressed.
struct HmacStates {
    Sha256State inner;
    Sha256State outer;
};

HmacStates hmac_states(ByteView key, bool ni) {
    std::array<std::uint8_t, kBlock> k{};
    if (key.size() > kBlock) {
        auto d = sha256(key);
        std::memcpy(k.data(), d.data(), d.size());
        wipe(d.data(), d.size());
    } else if (!key.empty()) {
        std::memcpy(k.data(), key.data(), key.size());
    }
    std::array<std::uint8_t, kBlock> pad;
    HmacStates s{kInitial, kInitial};
    Sha256State* inner[1] = {&s.inner};
    Sha256State* outer[1] = {&s.outer};
    const std::uint8_t* block[1] = {pad.data()};
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = k[i] ^ 0x36;
    compress_lanes<1>(inner, block, ni);
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = k[i] ^ 0x5c;
    compress_lanes<1>(outer, block, ni);
    wipe(k.data(), k.size());
    wipe(pad.data(), pad.size());
    return s;
}

// L expansions with equal info and output lengths (any info length), step
// by step in lockstep: T(i) = HMAC(prk, T(i-1) | info | i), T(0) empty.
template <int L>
void expand_lanes(const HmacStates& key, const HkdfExpandJob* const* jobs, bool ni) {
    const std::size_t info_len = jobs[0]->info.size();
    const std::size_t out_len = jobs[0]->out.size();
    const std::size_t steps = (out_len + 31) / 32;
    const std::size_t first_blocks = padded_blocks(info_len + 1);
    const std::size_t next_blocks = padded_blocks(32 + info_len + 1);
    const std::size_t stride = next_blocks * kBlock;
    // Inner message tails (after the key block) and outer message blocks.
    std::vector<std::uint8_t> tails(static_cast<std::size_t>(L) * stride);
    alignas(16) std::uint8_t outer_blocks[L][kBlock] = {};
    std::uint8_t previous[L][32];
    Sha256State states[L];
    Sha256State* state_ptrs[L];
    const std::uint8_t* block_ptrs[L];
    for (int l = 0; l < L; ++l) {
        state_ptrs[l] = &states[l];
        outer_blocks[l][32] = 0x80;
        store_be64(outer_blocks[l] + kBlock - 8, (kBlock + 32) * 8);
        lay_out_tail(tails.data() + l * stride, first_blocks, 0, jobs[l]->info, kBlock);
    }
    for (std::size_t step = 1; step <= steps; ++step) {
        const std::size_t blocks = step == 1 ? first_blocks : next_blocks;
        for (int l = 0; l < L; ++l) {
            std::uint8_t* tail = tails.data() + l * stride;
            if (step == 2) lay_out_tail(tail, next_blocks, 32, jobs[l]->info, kBlock);
            if (step >= 2) std::memcpy(tail, previous[l], 32);
            tail[(step == 1 ? 0 : 32) + info_len] = static_cast<std::uint8_t>(step);
            states[l] = key.inner;
        }
        for (std::size_t b = 0; b < blocks; ++b) {
            for (int l = 0; l < L; ++l) block_ptrs[l] = tails.data() + l * stride + b * kBlock;
            compress_lanes<L>(state_ptrs, block_ptrs, ni);
        }
        for (int l = 0; l < L; ++l) {
            state_bytes(states[l], outer_blocks[l]);
            states[l] = key.outer;
            block_ptrs[l] = outer_blocks[l];
        }
        compress_lanes<L>(state_ptrs, block_ptrs, ni);
        const std::size_t offset = (step - 1) * 32;
        const std::size_t take = std::min<std::size_t>(32, out_len - offset);
        for (int l = 0; l < L; ++l) {
            state_bytes(states[l], previous[l]);
            std::memcpy(jobs[l]->out.data() + offset, previous[l], take);
        }
    }
    wipe(tails.data(), tails.size());
    wipe(outer_blocks, sizeof outer_blocks);
    wipe(previous, sizeof previous);
    wipe(states, sizeof states);
}

// Message words for an info of at most 22 bytes: the first inner message
// (info | counter), later ones (T | info | counter, T in words 0..7) and the
// outer one (inner digest in words 0..7), each one padded block after the
// key block, counter bytes zero. The counters' byte positions go to
// first_counter and later_counter.
void short_message_words(ByteView info, MessageWords& first, MessageWords& later, MessageWords& outer,
                         std::size_t& first_counter, std::size_t& later_counter) {
    auto put_byte = [](MessageWords& w, std::size_t at, std::uint8_t b) {
        w[at / 4] |= static_cast<std::uint32_t>(b) << (24 - 8 * (at % 4));
    };
    first.fill(0);
    later.fill(0);
    outer.fill(0);
    for (std::size_t i = 0; i < info.size(); ++i) {
        put_byte(first, i, info[i]);
        put_byte(later, 32 + i, info[i]);
    }
    first_counter = info.size();
    later_counter = 32 + info.size();
    put_byte(first, first_counter + 1, 0x80);
    put_byte(later, later_counter + 1, 0x80);
    first[15] = static_cast<std::uint32_t>((kBlock + info.size() + 1) * 8);
    later[15] = static_cast<std::uint32_t>((kBlock + 32 + info.size() + 1) * 8);
    outer[8] = 0x80000000u;
    outer[15] = (kBlock + 32) * 8;
}

unsigned counter_shift(std::size_t at) { return 24 - 8 * static_cast<unsigned>(at % 4); }

void set_counter(MessageWords& m, std::size_t at, std::size_t step) {
    const unsigned shift = counter_shift(at);
    m[at / 4] = (m[at / 4] & ~(0xFFu << shift)) | static_cast<std::uint32_t>(step) << shift;
}

// Short infos, L lanes on the SHA extensions (or the portable function).
// Everything stays in message-word form: the inner digest's words are the
// outer message, the outer digest's words T(i) the next inner message; only
// the output is written as bytes. Lanes need equal output lengths only.
template <int L>
void expand_lanes_short(const HmacStates& key, const HkdfExpandJob* const* jobs, bool ni) {
    const std::size_t out_len = jobs[0]->out.size();
    const std::size_t steps = (out_len + 31) / 32;
    MessageWords first[L], next[L], outer[L];
    std::size_t first_counter[L], next_counter[L];
    Sha256State states[L];
    Sha256State* state_ptrs[L];
    const MessageWords* word_ptrs[L];
    for (int l = 0; l < L; ++l) {
        short_message_words(jobs[l]->info, first[l], next[l], outer[l], first_counter[l], next_counter[l]);
        state_ptrs[l] = &states[l];
    }
    for (std::size_t step = 1; step <= steps; ++step) {
        for (int l = 0; l < L; ++l) {
            MessageWords& m = step == 1 ? first[l] : next[l];
            set_counter(m, step == 1 ? first_counter[l] : next_counter[l], step);
            states[l] = key.inner;
            word_ptrs[l] = &m;
        }
        compress_word_lanes<L>(state_ptrs, word_ptrs, ni);
        for (int l = 0; l < L; ++l) {
            std::copy(states[l].begin(), states[l].end(), outer[l].begin());
            states[l] = key.outer;
            word_ptrs[l] = &outer[l];
        }
        compress_word_lanes<L>(state_ptrs, word_ptrs, ni);
        const std::size_t offset = (step - 1) * 32;
        const std::size_t take = std::min<std::size_t>(32, out_len - offset);
        for (int l = 0; l < L; ++l) {
            std::copy(states[l].begin(), states[l].end(), next[l].begin());
            std::uint8_t t[32];
            state_bytes(states[l], t);
            std::memcpy(jobs[l]->out.data() + offset, t, take);
            wipe(t, sizeof t);
        }
    }
    wipe(first, sizeof first);
    wipe(next, sizeof next);
    wipe(outer, sizeof outer);
    wipe(states, sizeof states);
}

#ifdef KC_SHA_X86

// Short infos, up to 16 lanes in the AVX-512 registers (`active` of them
// real; the others repeat lane 0 and are not written). Each lane's counter
// sits at its own byte position, so message words are built per step as
// template | ((step << shift) & mask) with per-lane shifts and masks.
__attribute__((target("avx512f"))) void expand_x16(const HmacStates& key, const HkdfExpandJob* const* jobs,
                                                   std::size_t active) {
    const std::size_t out_len = jobs[0]->out.size();
    const std::size_t steps = (out_len + 31) / 32;
    alignas(64) std::uint32_t words[2][16][16] = {};  // [first/later][word][lane]
    alignas(64) std::uint32_t shifts[2][16][16] = {};
    alignas(64) std::uint32_t masks[2][16][16] = {};
    for (std::size_t l = 0; l < 16; ++l) {
        const HkdfExpandJob* job = jobs[l < active ? l : 0];
        MessageWords m[3];
        std::size_t at[2];
        short_message_words(job->info, m[0], m[1], m[2], at[0], at[1]);
        for (int kind = 0; kind < 2; ++kind) {
            for (int i = 0; i < 16; ++i) words[kind][i][l] = m[kind][i];
            const unsigned shift = counter_shift(at[kind]);
            shifts[kind][at[kind] / 4][l] = shift;
            masks[kind][at[kind] / 4][l] = 0xFFu << shift;
        }
        wipe(m, sizeof m);
    }
    __m512i msg[16], st[8], t[8];
    alignas(64) std::uint32_t out_words[8][16];
    for (std::size_t step = 1; step <= steps; ++step) {
        const int kind = step == 1 ? 0 : 1;
        const __m512i counter = _mm512_set1_epi32(static_cast<int>(step));
        for (int i = 0; i < 16; ++i) {
            const __m512i base = _mm512_load_si512(words[kind][i]);
            const __m512i shifted = _mm512_sllv_epi32(counter, _mm512_load_si512(shifts[kind][i]));
            msg[i] = _mm512_or_si512(base, _mm512_and_si512(shifted, _mm512_load_si512(masks[kind][i])));
        }
        if (kind == 1)
            for (int i = 0; i < 8; ++i) msg[i] = t[i];
        for (int i = 0; i < 8; ++i) st[i] = _mm512_set1_epi32(static_cast<int>(key.inner[i]));
        compress_x16(st, msg);
        for (int i = 0; i < 8; ++i) msg[i] = st[i];
        msg[8] = _mm512_set1_epi32(static_cast<int>(0x80000000u));
        for (int i = 9; i < 15; ++i) msg[i] = _mm512_setzero_si512();
        msg[15] = _mm512_set1_epi32((kBlock + 32) * 8);
        for (int i = 0; i < 8; ++i) st[i] = _mm512_set1_epi32(static_cast<int>(key.outer[i]));
        compress_x16(st, msg);
        for (int i = 0; i < 8; ++i) {
            t[i] = st[i];
            _mm512_store_si512(out_words[i], st[i]);
        }
        const std::size_t offset = (step - 1) * 32;
        const std::size_t take = std::min<std::size_t>(32, out_len - offset);
        for (std::size_t l = 0; l < active; ++l) {
            std::uint8_t* dst = jobs[l]->out.data() + offset;
            if (take == 32) {
                for (int i = 0; i < 8; ++i) store_be32(dst + 4 * i, out_words[i][l]);
            } else {
                std::uint8_t bytes[32];
                for (int i = 0; i < 8; ++i) store_be32(bytes + 4 * i, out_words[i][l]);
                std::memcpy(dst, bytes, take);
                wipe(bytes, sizeof bytes);
            }
        }
    }
    wipe(out_words, sizeof out_words);
    wipe(words, sizeof words);
    wipe(msg, sizeof msg);
    wipe(st, sizeof st);
    wipe(t, sizeof t);
}
#pragma GCC diagnostic pop

#endif

// Runs up to four jobs of one shape on the SHA extensions or portably.
template <int L>
void expand_small_group(const HmacStates& key, const HkdfExpandJob* const* jobs, bool ni) {
    if (jobs[0]->info.size() <= kShortInfo) {
        expand_lanes_short<L>(key, jobs, ni);
    } else {
        expand_lanes<L>(key, jobs, ni);
    }
}

void expand_small(const HmacStates& key, const HkdfExpandJob* const* jobs, std::size_t n, bool ni) {
    switch (n) {
        case 4: return expand_small_group<4>(key, jobs, ni);
        case 3: return expand_small_group<3>(key, jobs, ni);
        case 2: return expand_small_group<2>(key, jobs, ni);
        default: return expand_small_group<1>(key, jobs, ni);
    }
}

}  // namespace

std::array<std::uint8_t, 32> sha256_oneshot(ByteView data) {
    const bool ni = sha_ni_enabled().load(std::memory_order_relaxed);
    Sha256State s = kInitial;
    Sha256State* sp[1] = {&s};
    const std::uint8_t* bp[1];
    std::size_t off = 0;
    for (; off + kBlock <= data.size(); off += kBlock) {
        bp[0] = data.data() + off;
        compress_lanes<1>(sp, bp, ni);
    }
    const std::size_t rest = data.size() - off;
    std::uint8_t tail[2 * kBlock] = {};
    if (rest) std::memcpy(tail, data.data() + off, rest);
    tail[rest] = 0x80;
    const std::size_t blocks = padded_blocks(rest);
    store_be64(tail + blocks * kBlock - 8, static_cast<std::uint64_t>(data.size()) * 8);
    for (std::size_t b = 0; b < blocks; ++b) {
        bp[0] = tail + b * kBlock;
        compress_lanes<1>(sp, bp, ni);
    }
    std::array<std::uint8_t, 32> out{};
    state_bytes(s, out.data());
    return out;
}

void hkdf_sha256_expand_jobs(ByteView prk, std::span<const HkdfExpandJob> jobs) {
    const bool ni = sha_ni_enabled().load(std::memory_order_relaxed);
    const bool wide = avx512_enabled().load(std::memory_order_relaxed);
    HmacStates key = hmac_states(prk, ni);
    // Lanes in lockstep need equal output lengths, and either short infos
    // (of any lengths up to 22 bytes) or equal info lengths.
    auto shape = [](const HkdfExpandJob* j) {
        const std::size_t info = j->info.size() <= kShortInfo ? 0 : j->info.size();
        return std::pair(j->out.size(), info);
    };
    std::vector<const HkdfExpandJob*> order;
    order.reserve(jobs.size());
    for (const HkdfExpandJob& j : jobs)
        if (!j.out.empty() && j.out.size() <= kMaxExpand) order.push_back(&j);
    std::stable_sort(order.begin(), order.end(),
                     [&](const HkdfExpandJob* a, const HkdfExpandJob* b) { return shape(a) < shape(b); });
    std::size_t i = 0;
    while (i < order.size()) {
        std::size_t same = 1;
        while (i + same < order.size() && shape(order[i + same]) == shape(order[i])) ++same;
        const bool short_info = order[i]->info.size() <= kShortInfo;
        std::size_t done = 0;
#ifdef KC_SHA_X86
        if (wide && short_info) {
            for (; same - done >= kMinWideLanes; done += std::min<std::size_t>(16, same - done))
                expand_x16(key, order.data() + i + done, std::min<std::size_t>(16, same - done));
        }
#endif
        (void)wide;
        (void)short_info;
        for (; done < same; done += std::min<std::size_t>(4, same - done))
            expand_small(key, order.data() + i + done, std::min<std::size_t>(4, same - done), ni);
        i += same;
    }
    wipe(&key, sizeof key);
}

void derive_labelled_streams(ByteView ikm, std::span<const LabelledStreamJob> streams) {
    // Every block of every stream is HKDF with the same empty salt and input,
    // so they share one pseudorandom key; the blocks differ only in info.
    static constexpr std::uint8_t kZeroSalt[32] = {};
    auto prk = hmac_sha256(ByteView(kZeroSalt, sizeof kZeroSalt), ikm);
    std::vector<std::string> infos;
    std::vector<HkdfExpandJob> jobs;
    std::size_t total = 0;
    for (const LabelledStreamJob& s : streams) total += (s.out.size() + kMaxExpand - 1) / kMaxExpand;
    infos.reserve(total);  // the jobs view these strings: no reallocation
    jobs.reserve(total);
    for (const LabelledStreamJob& s : streams) {
        for (std::size_t start = 0, block = 0; start < s.out.size(); start += kMaxExpand, ++block) {
            infos.push_back(cat(s.label, "_block_", block));
            jobs.push_back({as_bytes(infos.back()), s.out.subspan(start, std::min(kMaxExpand, s.out.size() - start))});
        }
    }
    hkdf_sha256_expand_jobs(prk, jobs);
    wipe(prk.data(), prk.size());
}

namespace sha256_internal {

Paths available_paths() { return {cpu_has_sha_extensions(), cpu_has_avx512()}; }

Paths enabled_paths() { return {sha_ni_enabled().load(), avx512_enabled().load()}; }

void set_paths(Paths p) {
    sha_ni_enabled().store(p.sha_extensions && cpu_has_sha_extensions());
    avx512_enabled().store(p.avx512 && cpu_has_avx512());
}

}  // namespace sha256_internal

}  // namespace kc::crypto
