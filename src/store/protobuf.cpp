#include "store/protobuf.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "frame/json_reader.hpp"

namespace kc::store {

namespace {

constexpr std::uint8_t tag_id = 0x0A;
constexpr std::uint8_t tag_timestamp = 0x12;
constexpr std::uint8_t tag_owner = 0x1A;
constexpr std::uint8_t tag_blob = 0x22;
constexpr std::uint8_t tag_blind_index = 0x2A;
constexpr std::uint8_t tag_decay = 0x31;
constexpr std::uint8_t tag_active = 0x38;
constexpr std::uint8_t tag_version = 0x40;
constexpr std::uint8_t tag_content_fp = 0x52;
constexpr std::uint8_t tag_embedding = 0x6A;

constexpr std::size_t fact_initial_capacity = 512;
constexpr std::size_t tombstone_initial_capacity = 128;

void put_varint(Bytes& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(v));
}

void put_raw(Bytes& out, std::string_view s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
    out.insert(out.end(), p, p + s.size());
}

// Every text field goes through here: an empty text writes nothing at all.
void write_string(Bytes& out, std::uint8_t tag, std::string_view s) {
    if (s.empty()) return;
    out.push_back(tag);
    put_varint(out, s.size());
    put_raw(out, s);
}

void write_double(Bytes& out, std::uint8_t tag, double v) {
    out.push_back(tag);
    auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

void write_varint_field(Bytes& out, std::uint8_t tag, std::uint64_t v) {
    out.push_back(tag);
    put_varint(out, v);
}

// Field 4 straight from the hex text; rolled back (field left out) when the
// text has odd length or a non-hex character.
void write_blob_from_hex(Bytes& out, std::string_view hex) {
    if (hex.size() % 2 != 0) return;
    const std::size_t mark = out.size();
    const std::size_t n = hex.size() / 2;
    out.push_back(tag_blob);
    put_varint(out, n);
    const std::size_t start = out.size();
    out.resize(start + n);
    std::uint8_t* dst = out.data() + start;
    for (std::size_t i = 0; i < n; ++i) {
        int hi = hex_value(hex[2 * i]), lo = hex_value(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            out.resize(mark);
            return;
        }
        dst[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
}

std::uint32_t effective_version(std::uint32_t v) { return v == 0 ? default_fact_version : v; }

// The fact fields as views, so the record and the JSON reader share one
// encoder without copying texts.
struct FactView {
    std::string_view id, timestamp, owner, blob_hex;
    double decay_score = 0.0;
    std::string_view content_fp;
    std::optional<std::string_view> embedding;
    std::uint32_t version = 0;
};

// `each_index(emit)` calls `emit(text)` for every blind index in order.
template <class EachIndex>
Bytes encode_fact(const FactView& f, std::size_t index_bytes_hint, EachIndex&& each_index) {
    Bytes out;
    std::size_t estimate = f.id.size() + f.timestamp.size() + f.owner.size() + f.blob_hex.size() / 2 +
                           f.content_fp.size() + (f.embedding ? f.embedding->size() : 0) + index_bytes_hint + 48;
    out.reserve(std::max(fact_initial_capacity, estimate));
    write_string(out, tag_id, f.id);
    write_string(out, tag_timestamp, f.timestamp);
    write_string(out, tag_owner, f.owner);
    write_blob_from_hex(out, f.blob_hex);
    each_index([&](std::string_view s) { write_string(out, tag_blind_index, s); });
    write_double(out, tag_decay, f.decay_score);
    write_varint_field(out, tag_active, 1);
    write_varint_field(out, tag_version, effective_version(f.version));
    write_string(out, tag_content_fp, f.content_fp);
    if (f.embedding) write_string(out, tag_embedding, *f.embedding);
    return out;
}

// The members the lenient reader knows, in one pass over the object; the
// last occurrence of a repeated key wins.
struct LenientFact {
    std::optional<json::Element> id, timestamp, owner, blob_hex, blind_indices, decay_score, source, content_fp,
        agent_id, embedding, version;
};

Result<LenientFact> read_lenient(json::Document& doc, std::string_view text) {
    auto root = doc.parse(text);
    if (!root) return fail(Error::parse(std::move(root.error())));
    if (root->type() != simdjson::dom::element_type::OBJECT) return fail(Error::parse("expected JSON object"));
    LenientFact f;
    json::Object obj = root->get_object().value_unsafe();
    for (auto field : obj) {
        std::string_view k = field.key;
        std::optional<json::Element>* slot = nullptr;
        if (k == "id") slot = &f.id;
        else if (k == "timestamp") slot = &f.timestamp;
        else if (k == "owner") slot = &f.owner;
        else if (k == "encrypted_blob_hex") slot = &f.blob_hex;
        else if (k == "blind_indices") slot = &f.blind_indices;
        else if (k == "decay_score") slot = &f.decay_score;
        else if (k == "source") slot = &f.source;
        else if (k == "content_fp") slot = &f.content_fp;
        else if (k == "agent_id") slot = &f.agent_id;
        else if (k == "encrypted_embedding") slot = &f.embedding;
        else if (k == "version") slot = &f.version;
        if (slot) *slot = field.value;
    }
    return f;
}

std::string_view text_or_empty(const std::optional<json::Element>& e) {
    if (!e) return {};
    return json::string_of(*e).value_or(std::string_view());
}

// Non-negative integers keep their low 32 bits; anything else is the default.
std::uint32_t lenient_version(const std::optional<json::Element>& e) {
    if (!e) return default_fact_version;
    using simdjson::dom::element_type;
    if (e->type() == element_type::UINT64) return static_cast<std::uint32_t>(e->get_uint64().value_unsafe());
    if (auto v = json::integer_of(*e); v && *v >= 0) return static_cast<std::uint32_t>(*v);
    return default_fact_version;
}

FactView view_of(const LenientFact& f) {
    FactView v;
    v.id = text_or_empty(f.id);
    v.timestamp = text_or_empty(f.timestamp);
    v.owner = text_or_empty(f.owner);
    v.blob_hex = text_or_empty(f.blob_hex);
    v.decay_score = f.decay_score ? json::number_of(*f.decay_score).value_or(0.8) : 0.8;
    v.content_fp = text_or_empty(f.content_fp);
    if (f.embedding) v.embedding = json::string_of(*f.embedding);
    v.version = lenient_version(f.version);
    return v;
}

std::optional<json::Array> lenient_indices(const LenientFact& f) {
    if (!f.blind_indices || f.blind_indices->type() != simdjson::dom::element_type::ARRAY) return std::nullopt;
    return f.blind_indices->get_array().value_unsafe();
}

}  // namespace

Bytes encode_fact_protobuf(const FactPayload& p) {
    FactView v;
    v.id = p.id;
    v.timestamp = p.timestamp;
    v.owner = p.owner;
    v.blob_hex = p.encrypted_blob_hex;
    v.decay_score = p.decay_score;
    v.content_fp = p.content_fp;
    if (p.encrypted_embedding) v.embedding = *p.encrypted_embedding;
    v.version = p.version;
    std::size_t index_bytes = 0;
    for (const auto& s : p.blind_indices) index_bytes += s.size() + 3;
    return encode_fact(v, index_bytes, [&](auto&& emit) {
        for (const auto& s : p.blind_indices) emit(s);
    });
}

Result<Bytes> encode_fact_protobuf_json(std::string_view json_text) {
    json::Document doc;
    auto f = read_lenient(doc, json_text);
    if (!f) return fail(std::move(f.error()));
    FactView v = view_of(*f);
    std::optional<json::Array> indices = lenient_indices(*f);
    std::size_t hint = indices ? indices->size() * 67 : 0;
    return encode_fact(v, hint, [&](auto&& emit) {
        if (!indices) return;
        for (auto e : *indices)
            if (auto s = json::string_of(e)) emit(*s);
    });
}

Result<FactPayload> fact_payload_from_json(std::string_view json_text) {
    json::Document doc;
    auto f = read_lenient(doc, json_text);
    if (!f) return fail(std::move(f.error()));
    FactView v = view_of(*f);
    FactPayload p;
    p.id = v.id;
    p.timestamp = v.timestamp;
    p.owner = v.owner;
    p.encrypted_blob_hex = v.blob_hex;
    if (auto indices = lenient_indices(*f))
        for (auto e : *indices)
            if (auto s = json::string_of(e)) p.blind_indices.emplace_back(*s);
    p.decay_score = v.decay_score;
    p.source = text_or_empty(f->source);
    p.content_fp = v.content_fp;
    p.agent_id = text_or_empty(f->agent_id);
    if (v.embedding) p.encrypted_embedding = std::string(*v.embedding);
    p.version = v.version;
    return p;
}

Bytes encode_tombstone_protobuf(std::string_view fact_id, std::string_view owner, std::uint32_t version,
                                UtcTime now) {
    Bytes out;
    out.reserve(tombstone_initial_capacity);
    write_string(out, tag_id, fact_id);
    write_string(out, tag_timestamp, format_tombstone_timestamp(now));
    write_string(out, tag_owner, owner);
    out.push_back(tag_blob);
    out.push_back(0x00);
    write_double(out, tag_decay, 0.0);
    write_varint_field(out, tag_active, 0);
    write_varint_field(out, tag_version, effective_version(version));
    return out;
}

std::string format_tombstone_timestamp(UtcTime t) {
    const std::uint32_t nanos = std::min<std::uint32_t>(t.nanos, 999'999'999);
    const CivilTime c = to_civil(t.seconds);
    std::string out;
    out.reserve(40);
    append_date_time(out, c);
    if (nanos != 0) {
        char digits[10];
        std::uint32_t v = nanos;
        for (int i = 8; i >= 0; --i) {
            digits[i] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        int len = nanos % 1'000'000 == 0 ? 3 : nanos % 1'000 == 0 ? 6 : 9;
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(len));
    }
    out += "+00:00";
    return out;
}

}  // namespace kc::store
