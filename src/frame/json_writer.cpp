#include "frame/json_writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <simdjson.h>

#include "frame/text.hpp"

namespace kc::json {
namespace {

// Lays out the shortest significant digits of a finite value in the
// project's float form. `sci` is the scientific text from to_chars.
void layout(std::string& out, std::string_view sci, bool tiny_or_huge) {
    std::size_t p = 0;
    if (sci[0] == '-') {
        out.push_back('-');
        p = 1;
    }
    std::string digits;
    std::size_t e_pos = sci.find('e');
    for (std::size_t i = p; i < e_pos; ++i)
        if (sci[i] != '.') digits.push_back(sci[i]);
    int exp = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());

    if (tiny_or_huge) {
        out.push_back(digits[0]);
        if (digits.size() > 1) {
            out.push_back('.');
            out.append(digits, 1);
        }
        out.push_back('e');
        out.push_back(exp < 0 ? '-' : '+');
        out.append(cat(exp < 0 ? -exp : exp));
        return;
    }
    const int n = static_cast<int>(digits.size());
    if (exp >= 0) {
        if (n <= exp + 1) {
            out.append(digits);
            out.append(static_cast<std::size_t>(exp + 1 - n), '0');
            out.append(".0");
        } else {
            out.append(digits, 0, static_cast<std::size_t>(exp + 1));
            out.push_back('.');
            out.append(digits, static_cast<std::size_t>(exp + 1));
        }
    } else {
        out.append("0.");
        out.append(static_cast<std::size_t>(-exp - 1), '0');
        out.append(digits);
    }
}

template <class F>
void append_number(std::string& out, F v) {
    if (!std::isfinite(v)) {
        out.append("null");
        return;
    }
    if (v == 0) {
        out.append(std::signbit(v) ? "-0.0" : "0.0");
        return;
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    // The plain range is decided on the value widened to 64 bits.
    double mag = std::fabs(static_cast<double>(v));
    bool tiny_or_huge = mag < 1e-5 || mag >= 1e16;
    layout(out, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), tiny_or_huge);
}

}  // namespace

void append_double(std::string& out, double v) { append_number(out, v); }
void append_float(std::string& out, float v) { append_number(out, v); }

std::string format_double(double v) {
    std::string s;
    append_double(s, v);
    return s;
}

std::string format_float(float v) {
    std::string s;
    append_float(s, v);
    return s;
}

namespace {

// True when any of the eight bytes needs escaping: below 0x20, '"' or '\\'.
inline bool needs_escape8(std::uint64_t v) {
    constexpr std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    auto has_zero = [&](std::uint64_t x) { return (x - ones) & ~x & highs; };
    std::uint64_t below_space = (v - ones * 0x20) & ~v & highs;
    return (below_space | has_zero(v ^ (ones * '"')) | has_zero(v ^ (ones * '\\'))) != 0;
}

}  // namespace

void append_string(std::string& out, std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    out.reserve(out.size() + s.size() + 2);
    out.push_back('"');
    std::size_t run = 0, i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        // Skip clean stretches eight bytes at a time.
        if (i + 8 <= n) {
            std::uint64_t v;
            std::memcpy(&v, s.data() + i, 8);
            if (!needs_escape8(v)) {
                i += 8;
                continue;
            }
        }
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            ++i;
            continue;
        }
        out.append(s.data() + run, i - run);
        run = ++i;
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\b': out.append("\\b"); break;
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\f': out.append("\\f"); break;
            case '\r': out.append("\\r"); break;
            default:
                out.append("\\u00");
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0xF]);
        }
    }
    out.append(s.data() + run, n - run);
    out.push_back('"');
}

void Writer::newline_indent() {
    out_.push_back('\n');
    out_.append(filled_.size() * 2, ' ');
}

void Writer::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (filled_.empty()) return;
    if (filled_.back()) out_.push_back(',');
    filled_.back() = true;
    if (pretty_) newline_indent();
}

Writer& Writer::begin_object() {
    before_value();
    out_.push_back('{');
    filled_.push_back(false);
    return *this;
}

Writer& Writer::end_object() {
    bool had = filled_.back();
    filled_.pop_back();
    if (pretty_ && had) newline_indent();
    out_.push_back('}');
    return *this;
}

Writer& Writer::begin_array() {
    before_value();
    out_.push_back('[');
    filled_.push_back(false);
    return *this;
}

Writer& Writer::end_array() {
    bool had = filled_.back();
    filled_.pop_back();
    if (pretty_ && had) newline_indent();
    out_.push_back(']');
    return *this;
}

Writer& Writer::key(std::string_view name) {
    before_value();
    if (error_.empty() && !simdjson::validate_utf8(name.data(), name.size())) error_ = "member name is not valid UTF-8";
    append_string(out_, name);
    out_.append(pretty_ ? ": " : ":");
    after_key_ = true;
    return *this;
}

Writer& Writer::string(std::string_view s) {
    before_value();
    if (error_.empty() && !simdjson::validate_utf8(s.data(), s.size())) error_ = "string value is not valid UTF-8";
    append_string(out_, s);
    return *this;
}

Writer& Writer::integer(std::int64_t v) {
    before_value();
    out_.append(cat(v));
    return *this;
}

Writer& Writer::unsigned_integer(std::uint64_t v) {
    before_value();
    out_.append(cat(v));
    return *this;
}

Writer& Writer::number(double v) {
    before_value();
    append_double(out_, v);
    return *this;
}

Writer& Writer::number_f32(float v) {
    before_value();
    append_float(out_, v);
    return *this;
}

Writer& Writer::boolean(bool v) {
    before_value();
    out_.append(v ? "true" : "false");
    return *this;
}

Writer& Writer::null() {
    before_value();
    out_.append("null");
    return *this;
}

Writer& Writer::byte_array(std::span<const std::uint8_t> bytes) {
    // Byte arrays carry whole protobuf messages (thousands of elements):
    // each element is copied from a table instead of formatted.
    static const auto table = [] {
        std::array<std::array<char, 4>, 256> t{};  // digits, then the length in the last slot
        for (int v = 0; v < 256; ++v) {
            auto r = std::to_chars(t[v].data(), t[v].data() + 3, v);
            t[v][3] = static_cast<char>(r.ptr - t[v].data());
        }
        return t;
    }();
    before_value();
    out_.reserve(out_.size() + bytes.size() * 4 + 2);
    out_.push_back('[');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out_.push_back(',');
        const auto& digits = table[bytes[i]];
        out_.append(digits.data(), static_cast<std::size_t>(digits[3]));
    }
    out_.push_back(']');
    return *this;
}

Writer& Writer::raw(std::string_view json) {
    before_value();
    out_.append(json);
    return *this;
}

std::expected<std::string, std::string> Writer::finish() && {
    if (!error_.empty()) return std::unexpected(std::move(error_));
    return std::move(out_);
}

}  // namespace kc::json
