#include "frame/text.hpp"

#include <array>

#include <simdjson.h>

namespace kc {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string_view trim_white_space(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t p = begin;
        if (!is_white_space(next_char(s, p))) break;
        begin = p;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t p = end;
        if (!is_white_space(prev_char(s, p))) break;
        end = p;
    }
    return s.substr(begin, end - begin);
}

std::vector<std::string_view> split_white_space(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t pos = 0, start = 0;
    bool in_word = false;
    while (pos < s.size()) {
        std::size_t here = pos;
        bool ws = is_white_space(next_char(s, pos));
        if (ws && in_word) {
            out.push_back(s.substr(start, here - start));
            in_word = false;
        } else if (!ws && !in_word) {
            start = here;
            in_word = true;
        }
    }
    if (in_word) out.push_back(s.substr(start));
    return out;
}

std::string Utf8Error::describe() const {
    if (error_len == 0) return cat("incomplete utf-8 byte sequence from index ", valid_up_to);
    return cat("invalid utf-8 sequence of ", error_len, " bytes from index ", valid_up_to);
}

// Reports the maximal invalid prefix the way the common validators do: the
// error length counts the bytes that could start a valid sequence.
std::optional<Utf8Error> validate_utf8(ByteView v) {
    // Valid text (the usual case) is confirmed by the vectorised validator;
    // only invalid input is walked byte by byte to say where and why.
    if (simdjson::validate_utf8(reinterpret_cast<const char*>(v.data()), v.size())) return std::nullopt;
    const std::size_t n = v.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t start = i;
        const std::uint8_t first = v[i];
        if (first < 0x80) {
            ++i;
            continue;
        }
        int width = (first >= 0xC2 && first <= 0xDF)   ? 2
                    : (first >= 0xE0 && first <= 0xEF) ? 3
                    : (first >= 0xF0 && first <= 0xF4) ? 4
                                                       : 0;
        if (width == 0) return Utf8Error{start, 1};
        auto cont = [](std::uint8_t b) { return (b & 0xC0) == 0x80; };
        if (i + 1 >= n) return Utf8Error{start, 0};
        std::uint8_t second = v[i + 1];
        bool ok2;
        if (width == 2) {
            ok2 = cont(second);
        } else if (width == 3) {
            ok2 = (first == 0xE0)   ? (second >= 0xA0 && second <= 0xBF)
                  : (first == 0xED) ? (second >= 0x80 && second <= 0x9F)
                                    : cont(second);
        } else {
            ok2 = (first == 0xF0)   ? (second >= 0x90 && second <= 0xBF)
                  : (first == 0xF4) ? (second >= 0x80 && second <= 0x8F)
                                    : cont(second);
        }
        if (!ok2) return Utf8Error{start, 1};
        for (int k = 2; k < width; ++k) {
            if (i + k >= n) return Utf8Error{start, 0};
            if (!cont(v[i + k])) return Utf8Error{start, k};
        }
        i += width;
    }
    return std::nullopt;
}

std::size_t floor_char_boundary(std::string_view s, std::size_t n) {
    if (n >= s.size()) return s.size();
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}

std::size_t char_count(std::string_view s) {
    std::size_t count = 0;
    for (unsigned char b : s) count += (b & 0xC0) != 0x80;
    return count;
}

std::string to_hex(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out(bytes.size() * 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return out;
}

namespace {
constexpr std::array<std::int8_t, 256> make_hex_table() {
    std::array<std::int8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = static_cast<std::int8_t>(hex_value(static_cast<char>(c)));
    return t;
}
constexpr auto kHexTable = make_hex_table();
}  // namespace

std::optional<Bytes> from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    Bytes out(hex.size() / 2);
    const auto* in = reinterpret_cast<const unsigned char*>(hex.data());
    int bad = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        int hi = kHexTable[in[2 * i]], lo = kHexTable[in[2 * i + 1]];
        bad |= hi | lo;  // any -1 sets the sign bit
        out[i] = static_cast<std::uint8_t>(static_cast<unsigned>(hi) << 4 | (static_cast<unsigned>(lo) & 0x0F));
    }
    if (bad < 0) return std::nullopt;
    return out;
}

std::string quote_escaped(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out.push_back('"');
    std::size_t pos = 0;
    while (pos < s.size()) {
        char32_t c = next_char(s, pos);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case 0: out += "\\0"; break;
            default:
                if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
                    static constexpr char digits[] = "0123456789abcdef";
                    out += "\\u{";
                    bool started = false;
                    for (int shift = 20; shift >= 0; shift -= 4) {
                        unsigned d = (c >> shift) & 0xF;
                        if (d || started || shift == 0) {
                            out.push_back(digits[d]);
                            started = true;
                        }
                    }
                    out.push_back('}');
                } else {
                    append_utf8(out, c);
                }
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace kc
