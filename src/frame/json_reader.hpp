// The one JSON reader layer, on simdjson's DOM. Two styles:
//
//  - strict record reading (`Members`): a record declares its member names;
//    a repeated member is "duplicate field `x`", a missing required one is
//    "missing field `x`", undeclared members are ignored (or refused where a
//    record says so), types are exact (integers are not fractions, null only
//    for optional members), and nothing may follow the value;
//  - tolerant access (`find`, `string_or` …) for the lenient readers, which
//    take what they can and fall back instead of failing.
//
// Errors are plain description texts; each caller puts its own prefix
// ("invalid claim JSON: " …) in front.
#pragma once

#include <cstdint>
#include <expected>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

namespace kc::json {

using Element = simdjson::dom::element;
using Object = simdjson::dom::object;
using Array = simdjson::dom::array;
// Note: iterate a named Object/Array, never `e.get_object().value_unsafe()`
// directly, whose temporary would die before the loop runs.

template <class T>
using Read = std::expected<T, std::string>;

inline std::unexpected<std::string> read_error(std::string s) { return std::unexpected(std::move(s)); }

// Owns one parsed document. Elements stay valid while the Document lives;
// each Document has its own parser, so several can be open at once.
class Document {
public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Parses the whole text: exactly one value, optionally surrounded by
    // white space.
    Read<Element> parse(std::string_view text);

private:
    std::unique_ptr<simdjson::dom::parser> parser_;
};

// A short description of an element's JSON type for messages
// ("a string", "an integer", "a number", "an object", …).
std::string_view describe_type(Element e);

// ---- strict scalar conversions (`what` names the member in messages) --------

Read<std::string_view> as_string(Element e, std::string_view what);
Read<bool> as_bool(Element e, std::string_view what);
Read<std::int64_t> as_i64(Element e, std::string_view what);
Read<std::uint64_t> as_u64(Element e, std::string_view what);
Read<std::uint32_t> as_u32(Element e, std::string_view what);
// Any JSON number (integer or fractional), as a 64-bit float.
Read<double> as_f64(Element e, std::string_view what);
Read<Object> as_object(Element e, std::string_view what);
Read<Array> as_array(Element e, std::string_view what);

// ---- record members ------------------------------------------------------

enum class Unknown { Ignore, Refuse };

// The members of one JSON object matched against a record's declared names.
class Members {
public:
    // Fails on a non-object, a repeated declared member, or (with
    // Unknown::Refuse) an undeclared member.
    static Read<Members> collect(Element e, std::initializer_list<std::string_view> names,
                                 Unknown unknown = Unknown::Ignore, std::string_view what = "object");

    // The member's value, or nothing when absent.
    std::optional<Element> find(std::string_view name) const;
    // The member's value, or nothing when absent or null.
    std::optional<Element> find_non_null(std::string_view name) const;
    // The member's value; "missing field `name`" when absent.
    Read<Element> require(std::string_view name) const;

    Read<std::string_view> str(std::string_view name) const;
    Read<bool> boolean(std::string_view name) const;
    Read<std::int64_t> i64(std::string_view name) const;
    Read<std::uint64_t> u64(std::string_view name) const;
    Read<std::uint32_t> u32(std::string_view name) const;
    Read<double> f64(std::string_view name) const;
    Read<Object> object(std::string_view name) const;
    Read<Array> array(std::string_view name) const;

    // Optional members: absent or null gives nullopt.
    Read<std::optional<std::string_view>> opt_str(std::string_view name) const;
    Read<std::optional<bool>> opt_boolean(std::string_view name) const;
    Read<std::optional<std::int64_t>> opt_i64(std::string_view name) const;
    Read<std::optional<std::uint64_t>> opt_u64(std::string_view name) const;
    Read<std::optional<std::uint32_t>> opt_u32(std::string_view name) const;
    Read<std::optional<double>> opt_f64(std::string_view name) const;

private:
    std::vector<std::string_view> names_;
    std::vector<std::optional<Element>> values_;
};

// ---- tolerant access -------------------------------------------------------

// First member of an object with that name (no type check); nothing for a
// non-object or an absent member.
std::optional<Element> find(Element obj, std::string_view name);
std::optional<std::string_view> string_of(Element e);
std::optional<double> number_of(Element e);
std::optional<std::int64_t> integer_of(Element e);
std::optional<bool> bool_of(Element e);

std::string_view string_or(Element obj, std::string_view name, std::string_view fallback);
double number_or(Element obj, std::string_view name, double fallback);
bool bool_or(Element obj, std::string_view name, bool fallback);

}  // namespace kc::json
