#include "claims/memory_v1.hpp"

#include "frame/text.hpp"

namespace kc::claims {

#define KC_TRY(var, expr)                                      \
    auto var = (expr);                                         \
    if (!var) return std::unexpected(std::move(var.error()))

json::Read<MemorySource> read_memory_source(json::Element e, std::string_view what) {
    KC_TRY(k, read_token(e, what, memory_source_tokens));
    return static_cast<MemorySource>(*k);
}

MemoryTypeV1 parse_memory_type_lossy(std::string_view s) {
    std::string t = lossy_token_text(s);
    for (std::size_t k = 0; k < memory_type_tokens.size(); ++k)
        if (memory_type_tokens[k] == t) return static_cast<MemoryTypeV1>(k);
    return MemoryTypeV1::Claim;
}

MemorySource parse_memory_source_lossy(std::string_view s) {
    std::string t = lossy_token_text(s);
    for (char& ch : t)
        if (ch == ' ' || ch == '_') ch = '-';
    for (std::size_t k = 0; k < memory_source_tokens.size(); ++k)
        if (memory_source_tokens[k] == t) return static_cast<MemorySource>(k);
    return MemorySource::UserInferred;
}

bool MemoryMetadataV1::is_empty() const {
    return !subtype && !session_id && !context && key_outcomes.empty() && open_threads.empty() &&
           lessons.empty() && topics_discussed.empty() && files_affected.empty() && !import_source;
}

namespace {

// A plain optional text: absent or null is none.
json::Read<std::optional<std::string>> optional_text(const json::Members& m, std::string_view key) {
    KC_TRY(v, m.opt_str(key));
    if (!*v) return std::optional<std::string>();
    return std::optional<std::string>(std::string(**v));
}

// A defaulted list of texts: absent is empty, null is refused.
json::Read<std::vector<std::string>> text_list(const json::Members& m, std::string_view key) {
    std::vector<std::string> out;
    auto v = m.find(key);
    if (!v) return out;
    KC_TRY(list, json::as_array(*v, key));
    std::size_t k = 0;
    for (json::Element item : *list) {
        std::string what = cat(key, "[", k++, "]");
        KC_TRY(s, json::as_string(item, what));
        out.emplace_back(*s);
    }
    return out;
}

json::Read<MemoryMetadataV1> read_metadata(json::Element e) {
    KC_TRY(m, json::Members::collect(e,
                                     {"subtype", "session_id", "context", "key_outcomes", "open_threads", "lessons",
                                      "topics_discussed", "files_affected", "import_source"},
                                     json::Unknown::Ignore, "metadata"));
    MemoryMetadataV1 md;
    KC_TRY(subtype, optional_text(*m, "subtype"));
    md.subtype = std::move(*subtype);
    KC_TRY(session_id, optional_text(*m, "session_id"));
    md.session_id = std::move(*session_id);
    KC_TRY(context, optional_text(*m, "context"));
    md.context = std::move(*context);
    KC_TRY(key_outcomes, text_list(*m, "key_outcomes"));
    md.key_outcomes = std::move(*key_outcomes);
    KC_TRY(open_threads, text_list(*m, "open_threads"));
    md.open_threads = std::move(*open_threads);
    KC_TRY(lessons, text_list(*m, "lessons"));
    md.lessons = std::move(*lessons);
    KC_TRY(topics, text_list(*m, "topics_discussed"));
    md.topics_discussed = std::move(*topics);
    KC_TRY(files, text_list(*m, "files_affected"));
    md.files_affected = std::move(*files);
    KC_TRY(import_source, optional_text(*m, "import_source"));
    md.import_source = std::move(*import_source);
    return md;
}

json::Read<MemoryEntityV1> read_entity(json::Element e) {
    KC_TRY(m, json::Members::collect(e, {"name", "type", "role"}, json::Unknown::Ignore, "entity"));
    MemoryEntityV1 ent;
    KC_TRY(name, m->str("name"));
    ent.name = std::string(*name);
    KC_TRY(type_elem, m->require("type"));
    KC_TRY(type, read_token(*type_elem, "type", entity_type_tokens));
    ent.type = static_cast<EntityType>(*type);
    KC_TRY(role, optional_text(*m, "role"));
    ent.role = std::move(*role);
    return ent;
}

void write_text_list(json::Writer& w, std::string_view key, const std::vector<std::string>& list) {
    if (list.empty()) return;
    w.key(key).begin_array();
    for (const std::string& s : list) w.string(s);
    w.end_array();
}

void write_optional_text(json::Writer& w, std::string_view key, const std::optional<std::string>& v) {
    if (v) w.key(key).string(*v);
}

}  // namespace

json::Read<MemoryClaimV1> read_memory_claim_v1(json::Element e) {
    KC_TRY(m, json::Members::collect(e,
                                     {"id", "text", "type", "source", "created_at", "schema_version", "scope",
                                      "volatility", "entities", "reasoning", "expires_at", "importance",
                                      "confidence", "superseded_by", "pin_status", "metadata"},
                                     json::Unknown::Ignore, "v1 claim"));
    MemoryClaimV1 c;
    KC_TRY(id, m->str("id"));
    c.id = std::string(*id);
    KC_TRY(text, m->str("text"));
    c.text = std::string(*text);
    KC_TRY(type_elem, m->require("type"));
    KC_TRY(type, read_token(*type_elem, "type", memory_type_tokens));
    c.type = static_cast<MemoryTypeV1>(*type);
    KC_TRY(source_elem, m->require("source"));
    KC_TRY(source, read_memory_source(*source_elem, "source"));
    c.source = *source;
    KC_TRY(created_at, m->str("created_at"));
    c.created_at = std::string(*created_at);

    if (auto v = m->find("schema_version")) {
        KC_TRY(sv, json::as_string(*v, "schema_version"));
        c.schema_version = std::string(*sv);
    }
    if (auto v = m->find("scope")) {
        KC_TRY(scope, read_token(*v, "scope", memory_scope_tokens));
        c.scope = static_cast<MemoryScope>(*scope);
    }
    if (auto v = m->find("volatility")) {
        KC_TRY(vol, read_token(*v, "volatility", memory_volatility_tokens));
        c.volatility = static_cast<MemoryVolatility>(*vol);
    }
    if (auto v = m->find("entities")) {
        KC_TRY(list, json::as_array(*v, "entities"));
        std::size_t k = 0;
        for (json::Element item : *list) {
            auto ent = read_entity(item);
            if (!ent) return json::read_error(cat("in `entities` element ", k, ": ", ent.error()));
            c.entities.push_back(std::move(*ent));
            ++k;
        }
    }
    KC_TRY(reasoning, optional_text(*m, "reasoning"));
    c.reasoning = std::move(*reasoning);
    KC_TRY(expires_at, optional_text(*m, "expires_at"));
    c.expires_at = std::move(*expires_at);
    KC_TRY(importance, m->opt_u64("importance"));
    if (*importance) {
        if (**importance > 255)
            return json::read_error(
                cat("invalid value for `importance`: integer ", **importance, " is out of range 0..255"));
        c.importance = static_cast<std::uint8_t>(**importance);
    }
    KC_TRY(confidence, m->opt_f64("confidence"));
    c.confidence = *confidence;
    KC_TRY(superseded_by, optional_text(*m, "superseded_by"));
    c.superseded_by = std::move(*superseded_by);
    if (auto v = m->find_non_null("pin_status")) {
        KC_TRY(pin, read_token(*v, "pin_status", pin_status_tokens));
        c.pin_status = static_cast<PinStatus>(*pin);
    }
    if (auto v = m->find_non_null("metadata")) {
        auto md = read_metadata(*v);
        if (!md) return json::read_error(cat("in `metadata`: ", md.error()));
        c.metadata = std::move(*md);
    }
    return c;
}

Result<MemoryClaimV1> parse_memory_claim_v1(std::string_view text) {
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return fail(Error::parse(cat("invalid v1 claim: ", root.error())));
    auto claim = read_memory_claim_v1(*root);
    if (!claim) return fail(Error::parse(cat("invalid v1 claim: ", claim.error())));
    return std::move(*claim);
}

Result<MemoryClaimV1> validate_memory_claim_v1(std::string_view claim_json) {
    auto claim = parse_memory_claim_v1(claim_json);
    if (!claim) return claim;
    if (claim->schema_version != memory_schema_version)
        return fail(Error::parse(cat("unsupported schema_version ", claim->schema_version, ": only ",
                                     memory_schema_version, " is supported")));
    return claim;
}

void write_memory_claim_v1(json::Writer& w, const MemoryClaimV1& c) {
    w.begin_object();
    w.key("id").string(c.id);
    w.key("text").string(c.text);
    w.key("type").string(to_token(c.type));
    w.key("source").string(to_token(c.source));
    w.key("created_at").string(c.created_at);
    if (c.schema_version != memory_schema_version) w.key("schema_version").string(c.schema_version);
    if (c.scope != MemoryScope::Unspecified) w.key("scope").string(to_token(c.scope));
    if (c.volatility != MemoryVolatility::Updatable) w.key("volatility").string(to_token(c.volatility));
    if (!c.entities.empty()) {
        w.key("entities").begin_array();
        for (const MemoryEntityV1& ent : c.entities) {
            w.begin_object().key("name").string(ent.name).key("type").string(to_token(ent.type));
            write_optional_text(w, "role", ent.role);
            w.end_object();
        }
        w.end_array();
    }
    write_optional_text(w, "reasoning", c.reasoning);
    write_optional_text(w, "expires_at", c.expires_at);
    if (c.importance) w.key("importance").unsigned_integer(*c.importance);
    if (c.confidence) w.key("confidence").number(*c.confidence);
    write_optional_text(w, "superseded_by", c.superseded_by);
    if (c.pin_status) w.key("pin_status").string(to_token(*c.pin_status));
    if (c.metadata && !c.metadata->is_empty()) {
        const MemoryMetadataV1& md = *c.metadata;
        w.key("metadata").begin_object();
        write_optional_text(w, "subtype", md.subtype);
        write_optional_text(w, "session_id", md.session_id);
        write_optional_text(w, "context", md.context);
        write_text_list(w, "key_outcomes", md.key_outcomes);
        write_text_list(w, "open_threads", md.open_threads);
        write_text_list(w, "lessons", md.lessons);
        write_text_list(w, "topics_discussed", md.topics_discussed);
        write_text_list(w, "files_affected", md.files_affected);
        write_optional_text(w, "import_source", md.import_source);
        w.end_object();
    }
    w.end_object();
}

std::expected<std::string, std::string> to_json(const MemoryClaimV1& claim) {
    json::Writer w;
    write_memory_claim_v1(w, claim);
    return std::move(w).finish();
}

std::vector<std::string> valid_memory_types() {
    return {memory_type_tokens.begin(), memory_type_tokens.end()};
}

bool is_valid_memory_type(std::string_view value) { return map_type_to_category(value).has_value(); }

std::optional<std::string_view> map_type_to_category(std::string_view value) {
    for (const auto& [type, category] : type_to_category)
        if (type == value) return category;
    return std::nullopt;
}

#undef KC_TRY

}  // namespace kc::claims
