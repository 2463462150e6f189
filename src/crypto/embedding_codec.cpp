#include "crypto/embedding_codec.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "frame/base64.hpp"
#include "frame/numeric.hpp"
#include "frame/text.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KC_HAVE_X86 1
#else
#define KC_HAVE_X86 0
#endif

namespace kc::crypto {
namespace {

// Exactly this many single-precision components make a 1280-byte buffer,
// which readers take for 640 half-precision values.
constexpr std::size_t kAmbiguousDims = kHalfPayloadBytes / 4;

void put_u16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

std::string non_finite(std::size_t i, float v) {
    return cat("embedding[", i, "] is ", format_f32_plain(v),
               " — non-finite components are not encodable (they would permanently poison cosine similarity "
               "on-chain)");
}

#if KC_HAVE_X86
__attribute__((target("f16c"))) std::uint16_t hw_one(float v) {
    return static_cast<std::uint16_t>(_cvtss_sh(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

__attribute__((target("f16c"))) void hw_block(const float* in, std::size_t n, std::uint16_t* out) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i h = _mm256_cvtps_ph(_mm256_loadu_ps(in + i), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), h);
    }
    for (; i < n; ++i) out[i] = hw_one(in[i]);
}
#endif

// ---- legacy JSON array --------------------------------------------------------
//
// The array is read here rather than by the document reader: its grammar is
// tiny, and every JSON number must be accepted, including integers beyond 64
// bits (which the document reader refuses), and converted once, from its
// text, to the nearest binary32 (going through a double would round twice).

constexpr bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The length of the JSON number at the start of `s`, or 0 when none starts
// there: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
std::size_t number_length(std::string_view s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    if (i < n && s[i] == '-') ++i;
    if (i >= n || !is_digit(s[i])) return 0;
    if (s[i] == '0') {
        ++i;
    } else {
        while (i < n && is_digit(s[i])) ++i;
    }
    if (i < n && s[i] == '.') {
        ++i;
        if (i >= n || !is_digit(s[i])) return 0;
        while (i < n && is_digit(s[i])) ++i;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        if (i >= n || !is_digit(s[i])) return 0;
        while (i < n && is_digit(s[i])) ++i;
    }
    // A number runs up to a delimiter; "01" or "1x" is not one number.
    if (i < n && !is_json_space(s[i]) && s[i] != ',' && s[i] != ']') return 0;
    return i;
}

// The nearest binary32 to a valid JSON number token. Out of the binary32
// range the value overflows to an infinity or underflows to a zero, decided
// by the decimal order of magnitude of the token (it is only consulted for
// magnitudes above 3e38 or below 1e-45, so its sign is all that matters).
float nearest_f32(std::string_view token) {
    float v = 0.0f;
    auto r = std::from_chars(token.data(), token.data() + token.size(), v);
    if (r.ec == std::errc() && r.ptr == token.data() + token.size()) return v;
    const bool negative = token.front() == '-';
    std::string_view body = negative ? token.substr(1) : token;
    std::size_t exp_at = body.find_first_of("eE");
    std::string_view mantissa = body.substr(0, exp_at);
    std::size_t point = mantissa.find('.');
    std::size_t int_digits = point == std::string_view::npos ? mantissa.size() : point;
    long long order = 0;
    bool nonzero = false;
    for (std::size_t i = 0, pos = 0; i < mantissa.size(); ++i) {
        if (mantissa[i] == '.') continue;
        if (mantissa[i] != '0') {
            order = static_cast<long long>(int_digits) - 1 - static_cast<long long>(pos);
            nonzero = true;
            break;
        }
        ++pos;
    }
    if (nonzero && exp_at != std::string_view::npos) {
        std::string_view e = body.substr(exp_at + 1);
        bool exp_negative = !e.empty() && e.front() == '-';
        if (!e.empty() && (e.front() == '-' || e.front() == '+')) e.remove_prefix(1);
        long long exponent = 0;
        for (char c : e) exponent = std::min<long long>(exponent * 10 + (c - '0'), 1'000'000'000'000LL);
        order += exp_negative ? -exponent : exponent;
    }
    float magnitude = nonzero && order >= 0 ? INFINITY : 0.0f;
    return negative ? -magnitude : magnitude;
}

Result<std::vector<float>> decode_json_array(std::string_view text, std::size_t base_offset) {
    auto fail_json = [&](std::string_view why, std::size_t at) {
        return fail(Error::parse(cat("invalid JSON embedding array: ", why, " at offset ", base_offset + at)));
    };
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto skip_space = [&] {
        while (i < n && is_json_space(text[i])) ++i;
    };
    skip_space();
    if (i >= n || text[i] != '[') return fail_json("expected `[`", i);
    ++i;
    std::vector<float> out;
    skip_space();
    if (i < n && text[i] == ']') {
        ++i;
    } else {
        for (;;) {
            skip_space();
            if (i >= n) return fail_json("unexpected end of input", i);
            std::size_t len = number_length(text.substr(i));
            if (len == 0) return fail_json("expected a number", i);
            out.push_back(nearest_f32(text.substr(i, len)));
            i += len;
            skip_space();
            if (i >= n) return fail_json("unexpected end of input", i);
            if (text[i] == ']') {
                ++i;
                break;
            }
            if (text[i] != ',') return fail_json("expected `,` or `]`", i);
            ++i;
        }
    }
    skip_space();
    if (i < n) return fail_json("trailing characters", i);
    return out;
}

}  // namespace

// ---- conversions ----------------------------------------------------------------

std::uint16_t f32_to_f16_software(float value) {
    std::uint32_t x = std::bit_cast<std::uint32_t>(value);
    auto sign = static_cast<std::uint16_t>((x >> 16) & 0x8000);
    x &= 0x7FFFFFFF;
    if (x > 0x7F800000) return sign | 0x7E00 | ((x >> 13) & 0x3FF);  // NaN: quiet, top payload bits
    if (x >= 0x477FF000) return sign | 0x7C00;                       // 65520 and above (ties go up): inf
    if (x >= 0x38800000) {
        // Normal result: rebias the exponent, then round the 13 dropped
        // mantissa bits to nearest, ties to even; a carry may reach the
        // exponent, which is still the right encoding.
        std::uint32_t r = x - 0x38000000;
        return sign | static_cast<std::uint16_t>((r + 0x0FFF + ((r >> 13) & 1)) >> 13);
    }
    if (x <= 0x33000000) return sign;  // at most half the smallest subnormal: ±0
    // Subnormal result: the significand shifted right by 14 to 24 places.
    std::uint32_t exponent = x >> 23;
    std::uint32_t full = (x & 0x7FFFFF) | 0x800000;
    std::uint32_t shift = 126 - exponent;
    std::uint32_t m = full >> shift;
    std::uint32_t rem = full & ((1u << shift) - 1);
    std::uint32_t half = 1u << (shift - 1);
    m += (rem > half || (rem == half && (m & 1))) ? 1 : 0;
    return sign | static_cast<std::uint16_t>(m);
}

bool has_f16c() {
#if KC_HAVE_X86
    static const bool yes = [] {
        __builtin_cpu_init();  // may run before the CPU model constructor
        return __builtin_cpu_supports("f16c") != 0;
    }();
    return yes;
#else
    return false;
#endif
}

std::uint16_t f32_to_f16_hardware(float value) {
#if KC_HAVE_X86
    if (has_f16c()) return hw_one(value);
#endif
    return f32_to_f16_software(value);
}

void f32_to_f16(std::span<const float> in, std::uint16_t* out) {
#if KC_HAVE_X86
    if (has_f16c()) {
        hw_block(in.data(), in.size(), out);
        return;
    }
#endif
    for (std::size_t i = 0; i < in.size(); ++i) out[i] = f32_to_f16_software(in[i]);
}

float f16_to_f32(std::uint16_t half) {
    std::uint32_t sign = static_cast<std::uint32_t>(half & 0x8000) << 16;
    std::uint32_t exponent = (half >> 10) & 0x1F;
    std::uint32_t mantissa = half & 0x3FF;
    if (exponent == 0x1F) return std::bit_cast<float>(sign | 0x7F800000 | (mantissa << 13));
    if (exponent != 0) return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
    // Zero or subnormal: mantissa × 2^-24 is exact in binary32.
    float magnitude = static_cast<float>(mantissa) * 0x1p-24f;
    return sign ? -magnitude : magnitude;
}

std::string format_f32_plain(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // Shortest round-trip digits and their decimal exponent, then laid out
    // without an exponent.
    char buf[48];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    std::string out;
    if (!sci.empty() && sci.front() == '-') {
        out.push_back('-');
        sci.remove_prefix(1);
    }
    std::size_t e_at = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_at))
        if (c != '.') digits.push_back(c);
    int exponent = 0;
    std::string_view exp_text = sci.substr(e_at + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

    long point = static_cast<long>(exponent) + 1;  // digits before the decimal point
    auto ndigits = static_cast<long>(digits.size());
    if (point <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits);
    } else if (point >= ndigits) {
        out.append(digits);
        out.append(static_cast<std::size_t>(point - ndigits), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point));
    }
    return out;
}

// ---- the codec --------------------------------------------------------------------

Result<std::string> encode_embedding_canonical(std::span<const float> embedding) {
    const std::size_t n = embedding.size();
    if (n == 0) return std::string();

    std::string packed;
    if (n == kHalfEmbeddingDims) {
        for (std::size_t i = 0; i < n; ++i) {
            float v = embedding[i];
            if (!std::isfinite(v)) return fail(Error::invalid_input(non_finite(i, v)));
            if (std::fabs(v) > kHalfMax)
                return fail(Error::invalid_input(cat("embedding[", i, "] = ", format_f32_plain(v),
                                                     " exceeds the f16 range (|x| <= ", format_f32_plain(kHalfMax),
                                                     "); refusing to silently saturate to ±inf")));
        }
        std::uint16_t halves[kHalfEmbeddingDims];
        f32_to_f16(embedding, halves);
        packed.reserve(kHalfPayloadBytes);
        for (std::uint16_t h : halves) put_u16(packed, h);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            if (!std::isfinite(embedding[i])) return fail(Error::invalid_input(non_finite(i, embedding[i])));
        // A non-finite component is reported as such whatever the length;
        // only a clean 320-vector meets the ambiguity refusal.
        if (n == kAmbiguousDims)
            return fail(Error::invalid_input(
                cat("embedding has ", n, " components — its f32 payload would be exactly ", kHalfPayloadBytes,
                    " bytes, which decoders read back as ", kHalfEmbeddingDims,
                    " f16 values; refusing to write a payload that cannot round-trip")));
        return base64_encode(pack_f32_le(embedding));
    }
    return base64_encode(as_bytes(packed));
}

Result<std::vector<float>> decode_embedding_universal(std::string_view payload) {
    std::string_view text = trim_white_space(payload);
    if (!text.empty() && text.front() == '[')
        return decode_json_array(text, static_cast<std::size_t>(text.data() - payload.data()));

    auto bytes = base64_decode(text);
    if (!bytes) return fail(Error::parse(cat("base64 decode failed: ", bytes.error())));
    const Bytes& b = *bytes;
    std::vector<float> out;
    if (b.size() == kHalfPayloadBytes) {
        out.reserve(kHalfEmbeddingDims);
        for (std::size_t i = 0; i < b.size(); i += 2)
            out.push_back(f16_to_f32(static_cast<std::uint16_t>(b[i] | (b[i + 1] << 8))));
        return out;
    }
    if (b.size() % 4 != 0)
        return fail(Error::invalid_input(cat("decoded embedding buffer has length ", b.size(), " (expected ",
                                             kHalfPayloadBytes, " for f16, or a multiple of 4 for f32)")));
    return unpack_f32_le(b);
}

}  // namespace kc::crypto
