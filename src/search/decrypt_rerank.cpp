#include "search/decrypt_rerank.hpp"

#include <cstring>

#include "crypto/envelope.hpp"
#include "crypto/primitives.hpp"
#include "frame/base64.hpp"
#include "frame/json_reader.hpp"
#include "frame/numeric.hpp"

namespace kc::search {
namespace {

// The fact text inside a plaintext: the `t` string of a JSON object (its
// last occurrence, as a JSON object keeps the last of repeated keys), else
// the plaintext itself.
std::string fact_text(std::string plaintext) {
    std::string_view trimmed = plaintext;
    while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t' || trimmed.front() == '\n' ||
                                trimmed.front() == '\r'))
        trimmed.remove_prefix(1);
    if (trimmed.empty() || trimmed.front() != '{') return plaintext;  // cannot be an object
    json::Document doc;
    auto root = doc.parse(plaintext);
    if (!root || root->type() != simdjson::dom::element_type::OBJECT) return plaintext;
    std::optional<std::string_view> text;
    json::Object members = root->get_object().value_unsafe();
    for (auto field : members)
        if (field.key == "t") text = json::string_of(field.value);
    if (!text) return plaintext;
    return std::string(*text);
}

// The embedding stored with a fact: envelope -> base64 text -> binary32
// values; empty when any step fails.
std::vector<float> fact_embedding(const std::optional<std::string>& sealed, ByteView key) {
    if (!sealed) return {};
    auto payload = crypto::decrypt(*sealed, key);
    if (!payload) return {};
    auto raw = base64_decode(*payload);
    if (!raw) return {};
    return unpack_f32_le(*raw);
}

}  // namespace

std::optional<Candidate> decrypt_candidate(const SubgraphFact& fact, ByteView encryption_key) {
    // The bytes the hex-to-base64 rule would hand to the decryptor.
    auto envelope = hex_blob_bytes(fact.encrypted_blob);
    if (!envelope) return std::nullopt;
    auto plain = crypto::open(*envelope, encryption_key);
    if (!plain) return std::nullopt;
    if (validate_utf8(*plain)) {
        crypto::wipe(plain->data(), plain->size());
        return std::nullopt;
    }
    std::string plaintext(as_text(*plain));
    crypto::wipe(plain->data(), plain->size());
    Candidate c;
    c.id = fact.id;
    c.text = fact_text(std::move(plaintext));
    c.embedding = fact_embedding(fact.encrypted_embedding, encryption_key);
    c.timestamp = fact.timestamp.value_or(std::string());
    return c;
}

std::vector<RankedResult> decrypt_and_rerank_with_key(std::span<const SubgraphFact> facts, std::string_view query,
                                                      std::span<const float> query_embedding,
                                                      ByteView encryption_key, std::uint64_t top_k) {
    if (facts.empty()) return {};
    std::vector<Candidate> candidates;
    candidates.reserve(facts.size());
    for (const SubgraphFact& fact : facts)
        if (auto c = decrypt_candidate(fact, encryption_key)) candidates.push_back(std::move(*c));
    return rerank_with_config(query, query_embedding, candidates, top_k, RerankConfig{});
}

Result<std::vector<SubgraphFact>> parse_subgraph_fact_array(std::string_view facts_json) {
    json::Document doc;
    auto root = doc.parse(facts_json);
    if (!root) return fail(Error::parse(cat("Invalid SubgraphFact array JSON: ", root.error())));
    auto facts = read_subgraph_facts(*root);
    if (!facts) return fail(Error::parse(cat("Invalid SubgraphFact array JSON: ", facts.error())));
    return std::move(*facts);
}

}  // namespace kc::search
