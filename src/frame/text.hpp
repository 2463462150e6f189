// Text and byte helpers shared by every family: string building, Unicode
// white space, UTF-8 validation and walking, hexadecimal, quoting.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kc {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline ByteView as_bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
inline std::string_view as_text(ByteView b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// ---- string building -------------------------------------------------------

namespace detail {
inline void cat_one(std::string& out, std::string_view s) { out.append(s); }
inline void cat_one(std::string& out, const char* s) { out.append(s); }
inline void cat_one(std::string& out, const std::string& s) { out.append(s); }
inline void cat_one(std::string& out, char c) { out.push_back(c); }
template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, bool>)
void cat_one(std::string& out, T v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}
}  // namespace detail

// Concatenates texts, characters and integers (decimal) into one string.
template <class... A>
std::string cat(const A&... parts) {
    std::string out;
    (detail::cat_one(out, parts), ...);
    return out;
}

// ---- Unicode white space and UTF-8 ------------------------------------------

// True for exactly the characters with the Unicode White_Space property.
constexpr bool is_white_space(char32_t c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the character starting at `pos` of valid UTF-8 and advances `pos`
// past it. The input must be valid UTF-8 (every Python str is).
inline char32_t next_char(std::string_view s, std::size_t& pos) {
    auto b = static_cast<unsigned char>(s[pos]);
    if (b < 0x80) {
        ++pos;
        return b;
    }
    int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    char32_t c = b & (0x7F >> len);
    for (int i = 1; i < len && pos + i < s.size(); ++i)
        c = (c << 6) | (static_cast<unsigned char>(s[pos + i]) & 0x3F);
    pos += len;
    return c;
}

// Decodes the character ending just before `end` of valid UTF-8 and moves
// `end` back to its first byte.
inline char32_t prev_char(std::string_view s, std::size_t& end) {
    std::size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    std::size_t p = start;
    char32_t c = next_char(s, p);
    end = start;
    return c;
}

void append_utf8(std::string& out, char32_t c);

// True when every byte is below 0x80 (usable at compile time).
constexpr bool is_ascii(std::string_view s) {
    unsigned char any = 0;
    for (char c : s) any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

// Removes leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view s);

// Splits on runs of White_Space characters; no empty pieces.
std::vector<std::string_view> split_white_space(std::string_view s);

// Where and why a byte string is not UTF-8. `error_len` is the length of
// the invalid sequence (1 to 3), or 0 when the input ends inside a sequence.
struct Utf8Error {
    std::size_t valid_up_to;
    int error_len;
    // "invalid utf-8 sequence of {} bytes from index {}" or
    // "incomplete utf-8 byte sequence from index {}".
    std::string describe() const;
};

std::optional<Utf8Error> validate_utf8(ByteView bytes);

// The largest character boundary of valid UTF-8 `s` that is <= n.
std::size_t floor_char_boundary(std::string_view s, std::size_t n);

// Number of characters (code points) of valid UTF-8.
std::size_t char_count(std::string_view s);

// ---- hexadecimal ------------------------------------------------------------

std::string to_hex(ByteView bytes);
// Value of one hexadecimal digit (either case), or -1.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// Decodes an even number of hexadecimal digits of either case; nullopt on
// any other character or an odd length.
std::optional<Bytes> from_hex(std::string_view hex);

// ---- quoting ----------------------------------------------------------------

// The text as a double-quoted literal with backslash escapes for quotation
// marks, backslashes and control characters (\n, \r, \t, \0, else \u{..}).
std::string quote_escaped(std::string_view s);

}  // namespace kc
