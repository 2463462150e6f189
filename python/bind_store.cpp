// Fact preparation and the call data built from prepared facts.
#include "crypto/lsh.hpp"
#include "families.hpp"
#include "store/calldata.hpp"
#include "store/prepare.hpp"
#include "store/prepared_fact.hpp"

namespace kc::py {
namespace {

PyObject* prepared(const Result<store::PreparedFact>& fact) {
    return ret_json(fact, [](const store::PreparedFact& f) { return store::to_json(f); });
}

PyObject* prepare_fact(std::string_view text, ByteView encryption_key, ByteView dedup_key, LshRef lsh_hasher,
                       Floats32 embedding, double importance, std::string_view source, std::string_view owner,
                       std::string_view agent_id) {
    // The encryption key is checked first, before any work.
    if (!require_len(encryption_key, 32) || !require_len(dedup_key, 32)) return nullptr;
    return prepared(store::prepare_fact(text, encryption_key, dedup_key, *lsh_hasher, embedding, importance, source,
                                        owner, agent_id, store::Environment::live()));
}

PyObject* prepare_fact_with_decay_score(std::string_view text, ByteView encryption_key, ByteView dedup_key,
                                        LshRef lsh_hasher, Floats32 embedding, double decay_score,
                                        std::string_view source, std::string_view owner, std::string_view agent_id) {
    if (!require_len(encryption_key, 32) || !require_len(dedup_key, 32)) return nullptr;
    return prepared(store::prepare_fact_with_decay_score(text, encryption_key, dedup_key, *lsh_hasher, embedding,
                                                         decay_score, source, owner, agent_id,
                                                         store::Environment::live()));
}

PyObject* prepare_tombstone(std::string_view fact_id, std::string_view owner) {
    return to_py(store::prepare_tombstone(fact_id, owner, store::Environment::live()));
}

}  // namespace

std::vector<PyMethodDef> store_functions() {
    return {
        def<"prepare_fact(text, encryption_key, dedup_key, lsh_hasher, embedding, importance, source, owner, "
            "agent_id)",
            prepare_fact>(
            "Prepare one fact for storage: a version 7 fact id and timestamp, the encrypted fact document, its\n"
            "blind indices followed by the LSH bucket hashes of the embedding, the content fingerprint, the\n"
            "encrypted embedding, the decay score importance / 10 (clamped to 0..1) and the fact protobuf.\n\n"
            "Returns the PreparedFact JSON text."),
        def<"prepare_fact_with_decay_score(text, encryption_key, dedup_key, lsh_hasher, embedding, decay_score, "
            "source, owner, agent_id)",
            prepare_fact_with_decay_score>(
            "As prepare_fact(), with the decay score given directly (clamped to 0..1)."),
        def<"prepare_tombstone(fact_id, owner)", prepare_tombstone>(
            "The tombstone message that soft-deletes a fact, with the default version 3."),
    };
}

namespace {

PyObject* build_single_calldata_from_prepared(std::string_view prepared_json) {
    auto fact = store::parse_prepared_fact(prepared_json);
    if (!fact) {
        to_pyerr(fact.error());
        return nullptr;
    }
    return ret(store::build_single_calldata(*fact));
}

PyObject* build_batch_calldata_from_prepared(std::string_view prepared_array_json) {
    auto facts = store::parse_prepared_fact_array(prepared_array_json);
    if (!facts) {
        to_pyerr(facts.error());
        return nullptr;
    }
    return ret(store::build_batch_calldata(*facts));
}

}  // namespace

std::vector<PyMethodDef> store_calldata_functions() {
    return {
        def<"build_single_calldata_from_prepared(prepared_json)", build_single_calldata_from_prepared>(
            "SimpleAccount execute() call data for the protobuf_bytes of one PreparedFact JSON text,\n"
            "aimed at the default DataEdge address. The whole record must parse."),
        def<"build_batch_calldata_from_prepared(prepared_array_json)", build_batch_calldata_from_prepared>(
            "SimpleAccount call data for a JSON array of 1 to 30 PreparedFact objects, aimed at the\n"
            "default DataEdge address: executeBatch(), or execute() for a single fact."),
    };
}

}  // namespace kc::py
