#include "store/prepared_fact.hpp"

#include "frame/json_writer.hpp"

namespace kc::store {

std::expected<std::string, std::string> to_json(const PreparedFact& f) {
    json::Writer w;
    w.begin_object();
    w.key("fact_id").string(f.fact_id);
    w.key("timestamp").string(f.timestamp);
    w.key("owner").string(f.owner);
    w.key("encrypted_blob_hex").string(f.encrypted_blob_hex);
    w.key("blind_indices").begin_array();
    for (const auto& s : f.blind_indices) w.string(s);
    w.end_array();
    w.key("decay_score").number(f.decay_score);
    w.key("source").string(f.source);
    w.key("content_fp").string(f.content_fp);
    w.key("agent_id").string(f.agent_id);
    w.key("encrypted_embedding");
    if (f.encrypted_embedding) w.string(*f.encrypted_embedding);
    else w.null();
    w.key("protobuf_bytes").byte_array(f.protobuf_bytes);
    w.end_object();
    return std::move(w).finish();
}

namespace {

using simdjson::dom::element_type;

json::Read<std::vector<std::string>> read_strings(json::Array a, std::string_view what) {
    std::vector<std::string> out;
    out.reserve(a.size());
    std::size_t i = 0;
    for (auto e : a) {
        if (e.type() != element_type::STRING)
            return json::read_error(cat("invalid type for `", what, "[", i, "]`: expected a string, found ",
                                        json::describe_type(e)));
        out.emplace_back(std::string_view(e.get_string().value_unsafe()));
        ++i;
    }
    return out;
}

json::Read<Bytes> read_byte_integers(json::Array a, std::string_view what) {
    Bytes out(a.size());
    std::size_t i = 0;
    for (auto e : a) {
        std::int64_t v = 0;
        // Fast path for the common case; the slow one only words the fault.
        if (e.get_int64().get(v) != simdjson::SUCCESS || static_cast<std::uint64_t>(v) > 255) {
            if (e.type() == element_type::INT64)
                return json::read_error(cat("invalid value for `", what, "[", i,
                                            "]`: expected an integer from 0 to 255, found ", v));
            if (e.type() == element_type::UINT64)
                return json::read_error(cat("invalid value for `", what, "[", i,
                                            "]`: expected an integer from 0 to 255, found ",
                                            e.get_uint64().value_unsafe()));
            return json::read_error(cat("invalid type for `", what, "[", i,
                                        "]`: expected an integer from 0 to 255, found ", json::describe_type(e)));
        }
        if (i < out.size()) out[i] = static_cast<std::uint8_t>(v);
        else out.push_back(static_cast<std::uint8_t>(v));
        ++i;
    }
    out.resize(i);
    return out;
}

}  // namespace

#define KC_TRY_READ(var, expr)                                  \
    auto var = (expr);                                          \
    if (!var) return std::unexpected(std::move(var.error()))

json::Read<PreparedFact> read_prepared_fact(json::Element e) {
    if (e.type() != element_type::OBJECT)
        return json::read_error(cat("expected a PreparedFact object, found ", json::describe_type(e)));
    KC_TRY_READ(m, json::Members::collect(e,
                                          {"fact_id", "timestamp", "owner", "encrypted_blob_hex", "blind_indices",
                                           "decay_score", "source", "content_fp", "agent_id", "encrypted_embedding",
                                           "protobuf_bytes"},
                                          json::Unknown::Ignore, "PreparedFact"));
    PreparedFact f;
    KC_TRY_READ(fact_id, m->str("fact_id"));
    KC_TRY_READ(timestamp, m->str("timestamp"));
    KC_TRY_READ(owner, m->str("owner"));
    KC_TRY_READ(blob, m->str("encrypted_blob_hex"));
    KC_TRY_READ(indices_array, m->array("blind_indices"));
    KC_TRY_READ(indices, read_strings(*indices_array, "blind_indices"));
    KC_TRY_READ(decay, m->f64("decay_score"));
    KC_TRY_READ(source, m->str("source"));
    KC_TRY_READ(content_fp, m->str("content_fp"));
    KC_TRY_READ(agent_id, m->str("agent_id"));
    KC_TRY_READ(embedding, m->opt_str("encrypted_embedding"));
    KC_TRY_READ(bytes_array, m->array("protobuf_bytes"));
    KC_TRY_READ(bytes, read_byte_integers(*bytes_array, "protobuf_bytes"));
    f.fact_id = *fact_id;
    f.timestamp = *timestamp;
    f.owner = *owner;
    f.encrypted_blob_hex = *blob;
    f.blind_indices = std::move(*indices);
    f.decay_score = *decay;
    f.source = *source;
    f.content_fp = *content_fp;
    f.agent_id = *agent_id;
    if (*embedding) f.encrypted_embedding = std::string(**embedding);
    f.protobuf_bytes = std::move(*bytes);
    return f;
}

#undef KC_TRY_READ

Result<PreparedFact> parse_prepared_fact(std::string_view text) {
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return fail(Error::parse(cat("Invalid PreparedFact JSON: ", root.error())));
    auto f = read_prepared_fact(*root);
    if (!f) return fail(Error::parse(cat("Invalid PreparedFact JSON: ", f.error())));
    return std::move(*f);
}

Result<std::vector<PreparedFact>> parse_prepared_fact_array(std::string_view text) {
    constexpr std::string_view prefix = "Invalid PreparedFact array JSON: ";
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return fail(Error::parse(cat(prefix, root.error())));
    if (root->type() != element_type::ARRAY)
        return fail(Error::parse(cat(prefix, "expected an array of PreparedFact objects, found ",
                                     json::describe_type(*root))));
    json::Array items = root->get_array().value_unsafe();
    std::vector<PreparedFact> out;
    out.reserve(items.size());
    std::size_t i = 0;
    for (auto e : items) {
        auto f = read_prepared_fact(e);
        if (!f) return fail(Error::parse(cat(prefix, "element ", i, ": ", f.error())));
        out.push_back(std::move(*f));
        ++i;
    }
    return out;
}

}  // namespace kc::store
