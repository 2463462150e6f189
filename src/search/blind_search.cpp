#include "search/blind_search.hpp"

#include <cstdint>
#include <unordered_set>

#include "frame/base64.hpp"
#include "frame/text.hpp"

namespace kc::search {

using simdjson::dom::element_type;

namespace {

// The texts are sent verbatim; other clients send the same bytes.
constexpr std::string_view kSearchQuery =
    "\n"
    "  query SearchByBlindIndex($trapdoors: [String!]!, $owner: Bytes!, $first: Int!) {\n"
    "    blindIndexes(\n"
    "      where: { hash_in: $trapdoors, owner: $owner, fact_: { isActive: true } }\n"
    "      first: $first\n"
    "      orderBy: id\n"
    "      orderDirection: desc\n"
    "    ) {\n"
    "      id\n"
    "      fact {\n"
    "        id\n"
    "        encryptedBlob\n"
    "        encryptedEmbedding\n"
    "        decayScore\n"
    "        timestamp\n"
    "        createdAt\n"
    "        isActive\n"
    "        contentFp\n"
    "      }\n"
    "    }\n"
    "  }\n";

constexpr std::string_view kBroadenedQuery =
    "\n"
    "  query BroadenedSearch($owner: Bytes!, $first: Int!) {\n"
    "    facts(\n"
    "      where: { owner: $owner, isActive: true }\n"
    "      first: $first\n"
    "      orderBy: timestamp\n"
    "      orderDirection: desc\n"
    "    ) {\n"
    "      id\n"
    "      encryptedBlob\n"
    "      encryptedEmbedding\n"
    "      decayScore\n"
    "      timestamp\n"
    "      createdAt\n"
    "      isActive\n"
    "      contentFp\n"
    "    }\n"
    "  }\n";

constexpr std::string_view kExportQuery =
    "\n"
    "  query ExportFacts($owner: Bytes!, $first: Int!, $skip: Int!) {\n"
    "    facts(\n"
    "      where: { owner: $owner, isActive: true }\n"
    "      first: $first\n"
    "      skip: $skip\n"
    "      orderBy: timestamp\n"
    "      orderDirection: desc\n"
    "    ) {\n"
    "      id\n"
    "      encryptedBlob\n"
    "      encryptedEmbedding\n"
    "      decayScore\n"
    "      timestamp\n"
    "      createdAt\n"
    "      isActive\n"
    "    }\n"
    "  }\n";

static_assert(is_ascii(kSearchQuery) && is_ascii(kBroadenedQuery) && is_ascii(kExportQuery));

// Member names of a fact, in their JSON order.
constexpr std::string_view kFactKeys[8] = {"id",        "encryptedBlob", "encryptedEmbedding", "decayScore",
                                           "timestamp", "createdAt",     "isActive",           "contentFp"};

std::unexpected<std::string> not_a(std::string_view expected, json::Element e) {
    return json::read_error(cat("invalid type: expected ", expected, ", found ", json::describe_type(e)));
}

std::optional<std::string> owned(std::optional<std::string_view> s) {
    if (!s) return std::nullopt;
    return std::string(*s);
}

// Optional string member: absent or null is nothing; other types are errors.
json::Read<std::optional<std::string_view>> opt_string(std::optional<json::Element> v, std::string_view name) {
    if (!v || v->is_null()) return std::optional<std::string_view>();
    auto s = json::as_string(*v, name);
    if (!s) return std::unexpected(std::move(s.error()));
    return std::optional<std::string_view>(*s);
}

// The array held by member `name` of the object `root`; nothing when the
// member is absent or null; an error for a non-object, a repeated member or
// a member that holds no array.
json::Read<std::optional<json::Array>> optional_array_member(json::Element root, std::string_view name) {
    if (root.type() != element_type::OBJECT) return not_a("an object", root);
    auto m = json::Members::collect(root, {name});
    if (!m) return std::unexpected(std::move(m.error()));
    auto v = m->find_non_null(name);
    if (!v) return std::optional<json::Array>();
    auto a = json::as_array(*v, name);
    if (!a) return std::unexpected(std::move(a.error()));
    return std::optional<json::Array>(*a);
}

}  // namespace

std::string_view search_query() { return kSearchQuery; }
std::string_view broadened_search_query() { return kBroadenedQuery; }
std::string_view export_query() { return kExportQuery; }

void write_subgraph_fact(json::Writer& w, const SubgraphFact& f) {
    auto opt = [&w](std::string_view key, const std::optional<std::string>& v) {
        w.key(key);
        if (v)
            w.string(*v);
        else
            w.null();
    };
    w.begin_object();
    w.key(kFactKeys[0]).string(f.id);
    w.key(kFactKeys[1]).string(f.encrypted_blob);
    opt(kFactKeys[2], f.encrypted_embedding);
    opt(kFactKeys[3], f.decay_score);
    opt(kFactKeys[4], f.timestamp);
    opt(kFactKeys[5], f.created_at);
    w.key(kFactKeys[6]);
    if (f.is_active)
        w.boolean(*f.is_active);
    else
        w.null();
    opt(kFactKeys[7], f.content_fp);
    w.end_object();
}

std::expected<std::string, std::string> to_json(const std::vector<SubgraphFact>& facts) {
    json::Writer w;
    w.begin_array();
    for (const SubgraphFact& f : facts) write_subgraph_fact(w, f);
    w.end_array();
    return std::move(w).finish();
}

namespace {

// A checked fact whose texts still live in the parsed document: answers
// are validated whole, but only the facts that are kept get copied.
struct FactView {
    std::string_view id, encrypted_blob;
    std::optional<std::string_view> texts[4];  // encryptedEmbedding, decayScore, timestamp, createdAt
    std::optional<bool> is_active;
    std::optional<std::string_view> content_fp;

    // Only an explicit false hides a fact; true and null both pass.
    bool hidden() const { return is_active.has_value() && !*is_active; }
};

json::Read<FactView> read_fact(json::Element e) {
    if (e.type() != element_type::OBJECT) return not_a("an object", e);
    // One pass over the members, remembering which declared ones were seen.
    std::optional<json::Element> values[8];
    json::Object obj = e.get_object().value_unsafe();
    for (auto field : obj) {
        std::string_view key = field.key;
        std::size_t i = 0;
        while (i < 8 && kFactKeys[i] != key) ++i;
        if (i == 8) continue;
        if (values[i]) return json::read_error(cat("duplicate field `", key, "`"));
        values[i] = field.value;
    }
    FactView f;
    for (std::size_t i = 0; i < 2; ++i) {
        if (!values[i]) return json::read_error(cat("missing field `", kFactKeys[i], "`"));
        auto s = json::as_string(*values[i], kFactKeys[i]);
        if (!s) return std::unexpected(std::move(s.error()));
        (i == 0 ? f.id : f.encrypted_blob) = *s;
    }
    for (std::size_t i = 2; i < 6; ++i) {
        auto s = opt_string(values[i], kFactKeys[i]);
        if (!s) return std::unexpected(std::move(s.error()));
        f.texts[i - 2] = *s;
    }
    if (values[6] && !values[6]->is_null()) {
        auto b = json::as_bool(*values[6], kFactKeys[6]);
        if (!b) return std::unexpected(std::move(b.error()));
        f.is_active = *b;
    }
    auto fp = opt_string(values[7], kFactKeys[7]);
    if (!fp) return std::unexpected(std::move(fp.error()));
    f.content_fp = *fp;
    return f;
}

SubgraphFact to_record(const FactView& v) {
    return SubgraphFact{std::string(v.id),    std::string(v.encrypted_blob), owned(v.texts[0]), owned(v.texts[1]),
                        owned(v.texts[2]),    owned(v.texts[3]),             v.is_active,       owned(v.content_fp)};
}

}  // namespace

json::Read<SubgraphFact> read_subgraph_fact(json::Element e) {
    auto v = read_fact(e);
    if (!v) return std::unexpected(std::move(v.error()));
    return to_record(*v);
}

json::Read<std::vector<SubgraphFact>> read_subgraph_facts(json::Element e) {
    if (e.type() != element_type::ARRAY) return not_a("an array", e);
    json::Array items = e.get_array().value_unsafe();
    std::vector<SubgraphFact> out;
    out.reserve(items.size());
    std::size_t i = 0;
    for (json::Element item : items) {
        auto f = read_fact(item);
        if (!f) return json::read_error(cat(f.error(), " at [", i, "]"));
        out.push_back(to_record(*f));
        ++i;
    }
    return out;
}

Result<std::vector<SubgraphFact>> parse_search_response(std::string_view text) {
    auto failed = [](std::string_view why) { return fail(Error::parse(cat("failed to parse search response: ", why))); };
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return failed(root.error());
    auto entries = optional_array_member(*root, "blindIndexes");
    if (!entries) return failed(entries.error());
    std::vector<SubgraphFact> out;
    if (!*entries) return out;

    json::Array items = **entries;
    std::vector<FactView> kept;
    // Views into the document, which outlives the set.
    std::unordered_set<std::string_view> seen;
    seen.reserve(items.size());
    std::size_t next = 0;
    for (json::Element entry : items) {
        const std::size_t at = next++;
        auto where = [at](std::string_view why, bool in_fact) {
            return cat(why, " at blindIndexes[", at, "]", in_fact ? ".fact" : "");
        };
        if (entry.type() != element_type::OBJECT) return failed(where(not_a("an object", entry).error(), false));
        auto m = json::Members::collect(entry, {"id", "fact"});
        if (!m) return failed(where(m.error(), false));
        auto id = m->str("id");
        if (!id) return failed(where(id.error(), false));
        auto fact_elem = m->find_non_null("fact");
        if (!fact_elem) continue;
        auto fact = read_fact(*fact_elem);
        if (!fact) return failed(where(fact.error(), true));
        if (fact->hidden() || !seen.insert(fact->id).second) continue;
        kept.push_back(*fact);
    }
    // Only a wholly readable answer yields facts.
    out.reserve(kept.size());
    for (const FactView& f : kept) out.push_back(to_record(f));
    return out;
}

Result<std::vector<SubgraphFact>> parse_broadened_response(std::string_view text) {
    auto failed = [](std::string_view why) {
        return fail(Error::parse(cat("failed to parse broadened response: ", why)));
    };
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return failed(root.error());
    auto items = optional_array_member(*root, "facts");
    if (!items) return failed(items.error());
    std::vector<SubgraphFact> out;
    if (!*items) return out;
    json::Array facts = **items;
    std::size_t i = 0;
    std::vector<FactView> kept;
    kept.reserve(facts.size());
    for (json::Element item : facts) {
        auto f = read_fact(item);
        if (!f) return failed(cat(f.error(), " at facts[", i, "]"));
        ++i;
        if (!f->hidden()) kept.push_back(*f);
    }
    out.reserve(kept.size());
    for (const FactView& f : kept) out.push_back(to_record(f));
    return out;
}

std::optional<Bytes> hex_blob_bytes(std::string_view hex) {
    // Only the lower-case prefix is the indexer's; "0X…" is not hex.
    if (hex.size() >= 2 && hex[0] == '0' && hex[1] == 'x') hex.remove_prefix(2);
    return from_hex(hex);
}

std::optional<std::string> hex_blob_to_base64(std::string_view hex) {
    auto bytes = hex_blob_bytes(hex);
    if (!bytes) return std::nullopt;
    return base64_encode(*bytes);
}

}  // namespace kc::search
