#include "frame/json_reader.hpp"

#include <charconv>
#include <limits>
#include <optional>

#include "frame/text.hpp"

namespace kc::json {

using simdjson::dom::element_type;

namespace {

// A parser's buffers grow to the largest document it has read; allocating
// them afresh for every call costs milliseconds on large answers. Each
// thread keeps a couple of idle parsers of moderate capacity for reuse.
constexpr std::size_t kPoolSize = 2;
constexpr std::size_t kPooledCapacity = 16u << 20;

std::vector<std::unique_ptr<simdjson::dom::parser>>& idle_parsers() {
    thread_local std::vector<std::unique_ptr<simdjson::dom::parser>> pool;
    return pool;
}

}  // namespace

Document::Document() {
    auto& pool = idle_parsers();
    if (!pool.empty()) {
        parser_ = std::move(pool.back());
        pool.pop_back();
    } else {
        parser_ = std::make_unique<simdjson::dom::parser>();
    }
}

Document::~Document() {
    auto& pool = idle_parsers();
    if (parser_ && pool.size() < kPoolSize && parser_->capacity() <= kPooledCapacity) pool.push_back(std::move(parser_));
}

namespace {

// Whether the integer literal `token` ("-"? digits) lies outside both the
// signed and the unsigned 64-bit range.
bool beyond_64_bits(std::string_view token) {
    const bool negative = !token.empty() && token.front() == '-';
    std::string_view digits = token.substr(negative ? 1 : 0);
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (ec == std::errc::result_out_of_range) return true;
    return negative && v > std::uint64_t{1} << 63;
}

// An integer with more digits than 64 bits hold is a valid JSON number, but
// the DOM refuses it. Each such literal outside strings gets a ".0" fraction,
// which the DOM reads as the correctly rounded double; the token stays one
// number token, so no text changes between valid and invalid. Nothing when
// there is no such literal.
std::optional<std::string> widen_big_integers(std::string_view text) {
    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    std::string out;
    bool changed = false;
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = text[i];
        std::size_t j = i + 1;
        if (c == '"') {
            while (j < n && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
            j = j < n ? j + 1 : n;
        } else if (c == '-' || is_digit(c)) {
            const std::size_t first_digit = c == '-' ? i + 1 : i;
            j = first_digit;
            while (j < n && is_digit(text[j])) ++j;
            const bool integral = j == n || (text[j] != '.' && text[j] != 'e' && text[j] != 'E');
            if (integral && j > first_digit && text[first_digit] != '0' && beyond_64_bits(text.substr(i, j - i))) {
                if (!changed) out.assign(text.substr(0, i));
                out.append(text.substr(i, j - i)).append(".0");
                changed = true;
                i = j;
                continue;
            }
            // A fraction or exponent belongs to the same token.
            while (j < n && (is_digit(text[j]) || text[j] == '.' || text[j] == 'e' || text[j] == 'E' ||
                             text[j] == '+' || text[j] == '-'))
                ++j;
        }
        if (changed) out.append(text.substr(i, j - i));
        i = j;
    }
    if (!changed) return std::nullopt;
    return out;
}

}  // namespace

Read<Element> Document::parse(std::string_view text) {
    auto result = parser_->parse(text.data(), text.size(), true);
    if (result.error() == simdjson::NUMBER_ERROR) {
        // The DOM copies what it keeps, so the widened text may go away.
        if (auto widened = widen_big_integers(text)) result = parser_->parse(widened->data(), widened->size(), true);
    }
    if (result.error()) return read_error(simdjson::error_message(result.error()));
    return result.value_unsafe();
}

std::string_view describe_type(Element e) {
    switch (e.type()) {
        case element_type::ARRAY: return "an array";
        case element_type::OBJECT: return "an object";
        case element_type::INT64:
        case element_type::UINT64: return "an integer";
        case element_type::DOUBLE: return "a fractional number";
        case element_type::STRING: return "a string";
        case element_type::BOOL: return "a boolean";
        case element_type::NULL_VALUE: return "null";
    }
    return "a value";
}

namespace {

std::unexpected<std::string> wrong_type(Element e, std::string_view what, std::string_view expected) {
    return read_error(cat("invalid type for `", what, "`: expected ", expected, ", found ", describe_type(e)));
}

}  // namespace

Read<std::string_view> as_string(Element e, std::string_view what) {
    if (e.type() != element_type::STRING) return wrong_type(e, what, "a string");
    return std::string_view(e.get_string().value_unsafe());
}

Read<bool> as_bool(Element e, std::string_view what) {
    if (e.type() != element_type::BOOL) return wrong_type(e, what, "a boolean");
    return e.get_bool().value_unsafe();
}

Read<std::int64_t> as_i64(Element e, std::string_view what) {
    if (e.type() == element_type::INT64) return e.get_int64().value_unsafe();
    if (e.type() == element_type::UINT64)
        return read_error(cat("invalid value for `", what, "`: integer ", e.get_uint64().value_unsafe(),
                              " is out of range for a signed 64-bit integer"));
    return wrong_type(e, what, "an integer");
}

Read<std::uint64_t> as_u64(Element e, std::string_view what) {
    if (e.type() == element_type::UINT64) return e.get_uint64().value_unsafe();
    if (e.type() == element_type::INT64) {
        std::int64_t v = e.get_int64().value_unsafe();
        if (v < 0)
            return read_error(cat("invalid value for `", what, "`: expected a non-negative integer, found ", v));
        return static_cast<std::uint64_t>(v);
    }
    return wrong_type(e, what, "a non-negative integer");
}

Read<std::uint32_t> as_u32(Element e, std::string_view what) {
    auto v = as_u64(e, what);
    if (!v) return std::unexpected(std::move(v.error()));
    if (*v > std::numeric_limits<std::uint32_t>::max())
        return read_error(
            cat("invalid value for `", what, "`: integer ", *v, " is out of range for an unsigned 32-bit integer"));
    return static_cast<std::uint32_t>(*v);
}

Read<double> as_f64(Element e, std::string_view what) {
    switch (e.type()) {
        case element_type::DOUBLE: return e.get_double().value_unsafe();
        case element_type::INT64: return static_cast<double>(e.get_int64().value_unsafe());
        case element_type::UINT64: return static_cast<double>(e.get_uint64().value_unsafe());
        default: return wrong_type(e, what, "a number");
    }
}

Read<Object> as_object(Element e, std::string_view what) {
    if (e.type() != element_type::OBJECT) return wrong_type(e, what, "an object");
    return e.get_object().value_unsafe();
}

Read<Array> as_array(Element e, std::string_view what) {
    if (e.type() != element_type::ARRAY) return wrong_type(e, what, "an array");
    return e.get_array().value_unsafe();
}

Read<Members> Members::collect(Element e, std::initializer_list<std::string_view> names, Unknown unknown,
                               std::string_view what) {
    auto obj = as_object(e, what);
    if (!obj) return std::unexpected(std::move(obj.error()));
    Members m;
    m.names_.assign(names.begin(), names.end());
    m.values_.resize(m.names_.size());
    for (auto field : *obj) {
        std::string_view key = field.key;
        std::size_t i = 0;
        while (i < m.names_.size() && m.names_[i] != key) ++i;
        if (i == m.names_.size()) {
            if (unknown == Unknown::Refuse) return read_error(cat("unknown field `", key, "`"));
            continue;
        }
        if (m.values_[i]) return read_error(cat("duplicate field `", key, "`"));
        m.values_[i] = field.value;
    }
    return m;
}

std::optional<Element> Members::find(std::string_view name) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return values_[i];
    return std::nullopt;
}

std::optional<Element> Members::find_non_null(std::string_view name) const {
    auto v = find(name);
    if (v && v->is_null()) return std::nullopt;
    return v;
}

Read<Element> Members::require(std::string_view name) const {
    auto v = find(name);
    if (!v) return read_error(cat("missing field `", name, "`"));
    return *v;
}

#define KC_MEMBER_GETTER(method, type, conv)                                  \
    Read<type> Members::method(std::string_view name) const {                 \
        auto v = require(name);                                               \
        if (!v) return std::unexpected(std::move(v.error()));                 \
        return conv(*v, name);                                                \
    }                                                                         \
    Read<std::optional<type>> Members::opt_##method(std::string_view name) const { \
        auto v = find_non_null(name);                                         \
        if (!v) return std::optional<type>();                                 \
        auto r = conv(*v, name);                                              \
        if (!r) return std::unexpected(std::move(r.error()));                 \
        return std::optional<type>(*r);                                       \
    }

KC_MEMBER_GETTER(str, std::string_view, as_string)
KC_MEMBER_GETTER(boolean, bool, as_bool)
KC_MEMBER_GETTER(i64, std::int64_t, as_i64)
KC_MEMBER_GETTER(u64, std::uint64_t, as_u64)
KC_MEMBER_GETTER(u32, std::uint32_t, as_u32)
KC_MEMBER_GETTER(f64, double, as_f64)
#undef KC_MEMBER_GETTER

Read<Object> Members::object(std::string_view name) const {
    auto v = require(name);
    if (!v) return std::unexpected(std::move(v.error()));
    return as_object(*v, name);
}

Read<Array> Members::array(std::string_view name) const {
    auto v = require(name);
    if (!v) return std::unexpected(std::move(v.error()));
    return as_array(*v, name);
}

std::optional<Element> find(Element obj, std::string_view name) {
    if (obj.type() != element_type::OBJECT) return std::nullopt;
    Object members = obj.get_object().value_unsafe();
    for (auto field : members)
        if (field.key == name) return field.value;
    return std::nullopt;
}

std::optional<std::string_view> string_of(Element e) {
    if (e.type() != element_type::STRING) return std::nullopt;
    return std::string_view(e.get_string().value_unsafe());
}

std::optional<double> number_of(Element e) {
    auto v = as_f64(e, "");
    if (!v) return std::nullopt;
    return *v;
}

std::optional<std::int64_t> integer_of(Element e) {
    if (e.type() != element_type::INT64) return std::nullopt;
    return e.get_int64().value_unsafe();
}

std::optional<bool> bool_of(Element e) {
    if (e.type() != element_type::BOOL) return std::nullopt;
    return e.get_bool().value_unsafe();
}

std::string_view string_or(Element obj, std::string_view name, std::string_view fallback) {
    auto v = find(obj, name);
    if (!v) return fallback;
    return string_of(*v).value_or(fallback);
}

double number_or(Element obj, std::string_view name, double fallback) {
    auto v = find(obj, name);
    if (!v) return fallback;
    return number_of(*v).value_or(fallback);
}

bool bool_or(Element obj, std::string_view name, bool fallback) {
    auto v = find(obj, name);
    if (!v) return fallback;
    return bool_of(*v).value_or(fallback);
}

}  // namespace kc::json
