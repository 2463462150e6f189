#include "search/recall.hpp"

#include <optional>
#include <vector>

#include "frame/clock.hpp"
#include "frame/json_reader.hpp"
#include "frame/text.hpp"

namespace kc::search {

using simdjson::dom::element_type;

namespace {

constexpr std::string_view kConfirmQuery =
    "\n"
    "  query ConfirmIndexed($id: ID!) {\n"
    "    fact(id: $id) {\n"
    "      id\n"
    "      isActive\n"
    "      blockNumber\n"
    "    }\n"
    "  }\n";

// First day after the supported range: 262143-01-01.
const std::int64_t kFirstDayPastRange = days_from_civil(262143, 1, 1);

void two_digits(std::string& out, unsigned v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

struct RecallItem {
    std::string_view category, text;  // views into the parsed document
    std::int64_t created_at = 0;
};

// Reads every item or nothing: a malformed item (repeated member, null,
// wrong type, fractional created_at) makes the whole list unreadable.
std::optional<std::vector<RecallItem>> read_items(json::Element root) {
    if (root.type() != element_type::ARRAY) return std::nullopt;
    json::Array items = root.get_array().value_unsafe();
    std::vector<RecallItem> out;
    out.reserve(items.size());
    for (json::Element item : items) {
        auto m = json::Members::collect(item, {"category", "text", "created_at"});
        if (!m) return std::nullopt;
        RecallItem r;
        if (auto v = m->find("category")) {
            auto s = json::as_string(*v, "category");
            if (!s) return std::nullopt;
            r.category = *s;
        }
        if (auto v = m->find("text")) {
            auto s = json::as_string(*v, "text");
            if (!s) return std::nullopt;
            r.text = *s;
        }
        if (auto v = m->find("created_at")) {
            auto n = json::as_i64(*v, "created_at");
            if (!n) return std::nullopt;
            r.created_at = *n;
        }
        out.push_back(r);
    }
    return out;
}

// The first `n` characters of UTF-8 text (as bytes up to the boundary
// before character n + 1).
std::string_view first_chars(std::string_view s, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (count == n) return s.substr(0, i);
        ++count;
    }
    return s;
}

// The value of member `name` (the last one when repeated, as a free JSON
// map reads it), or nothing for an absent member or a non-object.
std::optional<json::Element> member(json::Element obj, std::string_view name) {
    if (obj.type() != element_type::OBJECT) return std::nullopt;
    std::optional<json::Element> found;
    json::Object members = obj.get_object().value_unsafe();
    for (auto field : members)
        if (field.key == name) found = field.value;
    return found;
}

}  // namespace

std::string format_memory_date(std::int64_t secs) {
    if (secs <= 0 || secs / 86400 >= kFirstDayPastRange) return {};
    CivilTime t = to_civil(secs);
    std::string out = cat(t.year);
    if (out.size() < 4) out.insert(0, 4 - out.size(), '0');
    out.push_back('-');
    two_digits(out, t.month);
    out.push_back('-');
    two_digits(out, t.day);
    return out;
}

std::string recall_context_header(std::int64_t now_unix) {
    return cat(
        "## Relevant memories from Kelvane\nThe current date is ", format_memory_date(now_unix),
        ". Each memory is tagged with the date it was recorded. When the question involves timing or duration, "
        "reason carefully about the dates and compute differences precisely.\n");
}

std::string format_recall_context(std::string_view items_json, std::int64_t now_unix) {
    std::string out = recall_context_header(now_unix);
    json::Document doc;
    auto root = doc.parse(items_json);
    if (!root) return out;
    auto items = read_items(*root);
    if (!items) return out;
    bool first = true;
    for (const RecallItem& item : *items) {
        if (!first) out.push_back('\n');
        first = false;
        out.append("- [").append(item.category).append("] ");
        std::string date = format_memory_date(item.created_at);
        if (!date.empty()) out.append("(").append(date).append(") ");
        out.append(item.text);
    }
    return out;
}

std::string_view confirm_indexed_query() { return kConfirmQuery; }

Result<bool> parse_indexed_response(std::string_view text) {
    json::Document doc;
    auto root = doc.parse(text);
    if (!root)
        return fail(Error::parse(cat("confirm_indexed: response is not valid JSON (", root.error(),
                                     "). Body: ", first_chars(text, 200))));
    std::optional<json::Element> fact;
    if (auto data = member(*root, "data")) {
        if (data->is_null()) return false;
        fact = member(*data, "fact");
        if (!fact) return fail(Error::parse("confirm_indexed: wrapped response missing `fact` field under `data`"));
    } else {
        fact = member(*root, "fact");
        if (!fact)
            return fail(Error::parse(cat("confirm_indexed: response did not match either {data:{fact}} or {fact} shape: ",
                                         first_chars(text, 200))));
    }
    if (fact->is_null()) return false;
    auto active = member(*fact, "isActive");
    return active && json::bool_of(*active).value_or(false);
}

}  // namespace kc::search
