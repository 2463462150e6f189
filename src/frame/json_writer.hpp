// The one JSON writer. Compact by default (two-space pretty form on
// request); members are written in the order the caller writes them, which
// for records is their declared order. Numbers and strings follow the
// project's conventions exactly:
//   - floats: shortest text that reads back to the same value, integral
//     values keep ".0", plain notation for 1e-5 <= |x| < 1e16, otherwise
//     d[.ddd]e±x (1e-7, 1.5e+16); NaN and infinities as null;
//   - strings: only '"' '\\' and control characters escaped (\b \t \n \f \r,
//     others \u00xx in lower case); '/' and non-ASCII written as they are.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kc::json {

// The float forms above, for a 64-bit value and for a 32-bit value (whose
// shortest text is the shortest that reads back to the same 32-bit float).
std::string format_double(double v);
std::string format_float(float v);
void append_double(std::string& out, double v);
void append_float(std::string& out, float v);

// Appends `s` as a JSON string literal (quotes included).
void append_string(std::string& out, std::string_view s);

class Writer {
public:
    explicit Writer(bool pretty = false) : pretty_(pretty) {}

    Writer& begin_object();
    Writer& end_object();
    Writer& begin_array();
    Writer& end_array();
    // Writes a member name; the next value call writes its value.
    Writer& key(std::string_view name);

    Writer& string(std::string_view s);
    Writer& integer(std::int64_t v);
    Writer& unsigned_integer(std::uint64_t v);
    Writer& number(double v);
    Writer& number_f32(float v);
    Writer& boolean(bool v);
    Writer& null();
    // An array of integers 0..255, one per byte (compact writers only).
    Writer& byte_array(std::span<const std::uint8_t> bytes);
    // An already rendered compact JSON value (compact writers only).
    Writer& raw(std::string_view json);

    // The text, or the reason it cannot be produced (a string that is not
    // valid UTF-8).
    std::expected<std::string, std::string> finish() &&;

private:
    void before_value();
    void newline_indent();

    std::string out_;
    // One entry per open container: whether it already holds a value.
    std::vector<bool> filled_;
    bool after_key_ = false;
    bool pretty_;
    std::string error_;
};

}  // namespace kc::json
