#include "frame/base64.hpp"

#include <array>

namespace kc {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;
constexpr char kPad = '=';

constexpr std::array<std::uint8_t, 256> make_table() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = kInvalid;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    return t;
}
constexpr auto kTable = make_table();

std::string invalid_symbol(std::size_t offset, unsigned char byte) {
    return cat("Invalid symbol ", static_cast<unsigned>(byte), ", offset ", offset, ".");
}

}  // namespace

std::string base64_encode(ByteView in) {
    std::string out;
    out.resize((in.size() + 2) / 3 * 4);
    std::size_t o = 0, i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        std::uint32_t v = std::uint32_t(in[i]) << 16 | std::uint32_t(in[i + 1]) << 8 | in[i + 2];
        out[o++] = kAlphabet[v >> 18];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = kAlphabet[(v >> 6) & 63];
        out[o++] = kAlphabet[v & 63];
    }
    std::size_t left = in.size() - i;
    if (left) {
        std::uint32_t v = std::uint32_t(in[i]) << 16 | (left == 2 ? std::uint32_t(in[i + 1]) << 8 : 0);
        out[o++] = kAlphabet[v >> 18];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = left == 2 ? kAlphabet[(v >> 6) & 63] : kPad;
        out[o++] = kPad;
    }
    return out;
}

// The checks run in the order the common strict decoders use, so every
// client reports the same reason for the same bad text: a stray symbol in
// the body first, then the final quad's padding, length and trailing bits.
std::expected<Bytes, std::string> base64_decode(std::string_view text) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const std::size_t rem = n % 4;

    // A single trailing stray byte (a newline, say) is named first.
    if (rem == 1) {
        unsigned char last = in[n - 1];
        if (last != kPad && kTable[last] == kInvalid) return std::unexpected(invalid_symbol(n - 1, last));
    }

    // Every quad but the last: only alphabet symbols are allowed.
    std::size_t body = n - rem;
    if (rem == 0) body = body >= 4 ? body - 4 : 0;
    Bytes out(body / 4 * 3 + 3);
    std::uint8_t* o = out.data();
    for (std::size_t i = 0; i < body; i += 4) {
        const std::uint32_t a = kTable[in[i]], b = kTable[in[i + 1]], c = kTable[in[i + 2]], d = kTable[in[i + 3]];
        // Invalid symbols map to 0xFF, valid ones stay below 64.
        if ((a | b | c | d) & 0x80) {
            std::size_t k = 0;
            while (kTable[in[i + k]] != kInvalid) ++k;
            return std::unexpected(invalid_symbol(i + k, in[i + k]));
        }
        const std::uint32_t v = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<std::uint8_t>(v >> 16);
        o[1] = static_cast<std::uint8_t>(v >> 8);
        o[2] = static_cast<std::uint8_t>(v);
        o += 3;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));

    // The final (possibly padded) quad.
    std::size_t morsel_count = 0, pad_count = 0, first_pad = 0;
    unsigned char last_symbol = 0;
    std::uint8_t morsels[4] = {0, 0, 0, 0};
    for (std::size_t k = 0; body + k < n; ++k) {
        unsigned char b = in[body + k];
        if (b == kPad) {
            // Padding may only follow two or three symbols.
            if (k < 2) return std::unexpected(invalid_symbol(body + k, b));
            if (pad_count == 0) first_pad = k;
            ++pad_count;
            continue;
        }
        // A symbol after padding: report the first padding byte.
        if (pad_count > 0) return std::unexpected(invalid_symbol(body + first_pad, kPad));
        last_symbol = b;
        std::uint8_t m = kTable[b];
        if (m == kInvalid) return std::unexpected(invalid_symbol(body + k, b));
        morsels[morsel_count++] = m;
    }
    if (n != 0 && morsel_count < 2) return std::unexpected(cat("Invalid input length: ", body + morsel_count));
    if ((pad_count + morsel_count) % 4 != 0) return std::unexpected(std::string("Invalid padding"));

    std::size_t tail_bytes = morsel_count * 6 / 8;
    std::uint32_t v = std::uint32_t(morsels[0]) << 26 | std::uint32_t(morsels[1]) << 20 |
                      std::uint32_t(morsels[2]) << 14 | std::uint32_t(morsels[3]) << 8;
    std::uint32_t mask = tail_bytes == 0 ? ~0u : (~0u >> (tail_bytes * 8));
    if (morsel_count > 0 && (v & mask) != 0)
        return std::unexpected(cat("Invalid last symbol ", static_cast<unsigned>(last_symbol), ", offset ",
                                   body + morsel_count - 1, "."));
    for (std::size_t k = 0; k < tail_bytes; ++k) out.push_back(static_cast<std::uint8_t>(v >> (24 - 8 * k)));
    return out;
}

}  // namespace kc
