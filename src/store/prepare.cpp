#include "store/prepare.hpp"

#include <array>

#include "crypto/envelope.hpp"
#include "crypto/fingerprint.hpp"
#include "crypto/index_terms.hpp"
#include "crypto/primitives.hpp"
#include "frame/base64.hpp"
#include "frame/json_writer.hpp"
#include "frame/numeric.hpp"
#include "store/fact_id.hpp"
#include "store/protobuf.hpp"

namespace kc::store {
namespace {

Result<Bytes> seal(ByteView plaintext, ByteView key, const Environment& env) {
    std::array<std::uint8_t, crypto::kNonceBytes> nonce;
    env.random(nonce);
    return crypto::seal_with_nonce(plaintext, key, nonce);
}

// {"a":…,"s":…,"t":…}, compact, with the module's string escaping.
std::string fact_document(std::string_view agent_id, std::string_view source, std::string_view text) {
    std::string doc;
    doc.reserve(text.size() + source.size() + agent_id.size() + 20);
    doc += "{\"a\":";
    json::append_string(doc, agent_id);
    doc += ",\"s\":";
    json::append_string(doc, source);
    doc += ",\"t\":";
    json::append_string(doc, text);
    doc += '}';
    return doc;
}

Result<PreparedFact> prepare(std::string_view text, ByteView encryption_key, ByteView dedup_key,
                             const crypto::LshHasher& hasher, std::span<const float> embedding, double decay_score,
                             std::string_view source, std::string_view owner, std::string_view agent_id,
                             const Environment& env) {
    // The payload is filled first and encoded; the prepared fact then takes
    // its values over.
    FactPayload p;
    std::array<std::uint8_t, 10> id_bits;
    env.random(id_bits);
    p.id = uuid_v7(env.now, id_bits);
    p.timestamp = format_timestamp_millis(env.now);
    p.owner = std::string(owner);
    p.source = std::string(source);
    p.agent_id = std::string(agent_id);

    std::string document = fact_document(agent_id, source, text);
    auto envelope = seal(as_bytes(document), encryption_key, env);
    crypto::wipe(document.data(), document.size());
    if (!envelope) return fail(envelope.error());
    p.encrypted_blob_hex = to_hex(*envelope);

    auto terms = crypto::blind_indices_with_buckets(text, embedding, hasher);
    if (!terms) return fail(terms.error());
    p.blind_indices = std::move(*terms);

    p.content_fp = crypto::generate_content_fingerprint(text, dedup_key);
    auto sealed_embedding = encrypt_embedding(embedding, encryption_key, env);
    if (!sealed_embedding) return fail(sealed_embedding.error());
    p.encrypted_embedding = std::move(*sealed_embedding);
    p.decay_score = clamp_decay_score(decay_score);
    p.version = default_fact_version;

    PreparedFact fact;
    fact.protobuf_bytes = encode_fact_protobuf(p);
    fact.fact_id = std::move(p.id);
    fact.timestamp = std::move(p.timestamp);
    fact.owner = std::move(p.owner);
    fact.encrypted_blob_hex = std::move(p.encrypted_blob_hex);
    fact.blind_indices = std::move(p.blind_indices);
    fact.decay_score = p.decay_score;
    fact.source = std::move(p.source);
    fact.content_fp = std::move(p.content_fp);
    fact.agent_id = std::move(p.agent_id);
    fact.encrypted_embedding = std::move(p.encrypted_embedding);
    return fact;
}

}  // namespace

Environment Environment::live() {
    return Environment{now_utc(), [](std::span<std::uint8_t> out) { crypto::random_bytes(out); }};
}

double clamp_decay_score(double score) {
    if (score < 0.0) score = 0.0;
    if (score > 1.0) score = 1.0;
    return score;
}

Result<std::string> encrypt_embedding(std::span<const float> embedding, ByteView encryption_key,
                                      const Environment& env) {
    std::string payload = base64_encode(pack_f32_le(embedding));
    auto envelope = seal(as_bytes(payload), encryption_key, env);
    if (!envelope) return fail(envelope.error());
    return base64_encode(*envelope);
}

Result<PreparedFact> prepare_fact(std::string_view text, ByteView encryption_key, ByteView dedup_key,
                                  const crypto::LshHasher& hasher, std::span<const float> embedding,
                                  double importance, std::string_view source, std::string_view owner,
                                  std::string_view agent_id, const Environment& env) {
    return prepare(text, encryption_key, dedup_key, hasher, embedding, importance / 10.0, source, owner, agent_id,
                   env);
}

Result<PreparedFact> prepare_fact_with_decay_score(std::string_view text, ByteView encryption_key,
                                                   ByteView dedup_key, const crypto::LshHasher& hasher,
                                                   std::span<const float> embedding, double decay_score,
                                                   std::string_view source, std::string_view owner,
                                                   std::string_view agent_id, const Environment& env) {
    return prepare(text, encryption_key, dedup_key, hasher, embedding, decay_score, source, owner, agent_id, env);
}

Bytes prepare_tombstone(std::string_view fact_id, std::string_view owner, const Environment& env) {
    return encode_tombstone_protobuf(fact_id, owner, default_fact_version, env.now);
}

}  // namespace kc::store
