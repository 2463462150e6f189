#include "crypto/embedding_codec.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "frame/base64.hpp"
#include "frame/json_reader.hpp"
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

void put_u32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
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

constexpr bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim_json_space(std::string_view s) {
    while (!s.empty() && is_json_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_json_space(s.back())) s.remove_suffix(1);
    return s;
}

// The nearest binary32 to a JSON number's text. Going through the reader's
// double would round twice and could land on the wrong side of a tie, so
// the text itself is converted. `approx` (the reader's value) only decides
// overflow versus underflow when the text is outside the binary32 range.
float nearest_f32(std::string_view token, double approx) {
    float v = 0.0f;
    auto r = std::from_chars(token.data(), token.data() + token.size(), v);
    if (r.ec == std::errc() && r.ptr == token.data() + token.size()) return v;
    bool negative = !token.empty() && token.front() == '-';
    if (r.ec == std::errc::result_out_of_range) {
        float magnitude = std::fabs(approx) > 1.0 ? INFINITY : 0.0f;
        return negative ? -magnitude : magnitude;
    }
    return static_cast<float>(approx);
}

Result<std::vector<float>> decode_json_array(std::string_view text) {
    auto fail_json = [](std::string_view why) { return fail(Error::parse(cat("invalid JSON embedding array: ", why))); };
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return fail_json(root.error());
    auto arr = json::as_array(*root, "embedding");
    if (!arr) return fail_json(arr.error());
    json::Array array = *arr;

    std::vector<double> approx;
    approx.reserve(array.size());
    std::size_t index = 0;
    for (json::Element e : array) {
        using simdjson::dom::element_type;
        switch (e.type()) {
            case element_type::INT64: approx.push_back(static_cast<double>(e.get_int64().value_unsafe())); break;
            case element_type::UINT64: approx.push_back(static_cast<double>(e.get_uint64().value_unsafe())); break;
            case element_type::DOUBLE: approx.push_back(e.get_double().value_unsafe()); break;
            default:
                return fail_json(cat("invalid type for element ", index, ": expected a number, found ",
                                     json::describe_type(e)));
        }
        ++index;
    }

    // The document is one array of numbers only, so its number texts are
    // exactly the comma-separated pieces between the brackets.
    std::vector<float> out;
    out.reserve(approx.size());
    std::string_view inner = text.substr(text.find('[') + 1);
    inner = inner.substr(0, inner.rfind(']'));
    if (!approx.empty()) {
        std::size_t i = 0;
        while (i < approx.size()) {
            std::size_t comma = inner.find(',');
            std::string_view token = trim_json_space(inner.substr(0, comma));
            out.push_back(nearest_f32(token, approx[i]));
            ++i;
            if (comma == std::string_view::npos) break;
            inner.remove_prefix(comma + 1);
        }
        if (i != approx.size()) return fail_json("array structure changed while reading");
    }
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
        packed.reserve(4 * n);
        for (float v : embedding) put_u32(packed, std::bit_cast<std::uint32_t>(v));
    }
    return base64_encode(as_bytes(packed));
}

Result<std::vector<float>> decode_embedding_universal(std::string_view payload) {
    std::string_view text = trim_white_space(payload);
    if (!text.empty() && text.front() == '[') return decode_json_array(text);

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
    out.reserve(b.size() / 4);
    for (std::size_t i = 0; i < b.size(); i += 4) out.push_back(std::bit_cast<float>(get_u32(b.data() + i)));
    return out;
}

}  // namespace kc::crypto
