// The reranker, Memory Taxonomy v1 validation and lossy parsers, and pins.
#include "claims/memory_v1.hpp"
#include "claims/pins.hpp"
#include "families.hpp"
#include "search/reranker.hpp"

namespace kc::py {
namespace {

PyObject* ranked(std::string_view query, const Floats32& query_embedding, std::string_view candidates_json,
                 std::uint64_t top_k, bool apply_source_weights) {
    auto candidates = search::parse_candidates(candidates_json);
    if (!candidates) {
        to_pyerr(candidates.error());
        return nullptr;
    }
    search::RerankConfig config;
    config.apply_source_weights = apply_source_weights;
    return ret_json(search::to_json(search::rerank_with_config(query, query_embedding, *candidates, top_k, config)));
}

PyObject* rerank(std::string_view query, Floats32 query_embedding, std::string_view candidates_json,
                 std::uint64_t top_k) {
    return ranked(query, query_embedding, candidates_json, top_k, false);
}

PyObject* rerank_with_config(std::string_view query, Floats32 query_embedding, std::string_view candidates_json,
                             std::uint64_t top_k, bool apply_source_weights) {
    return ranked(query, query_embedding, candidates_json, top_k, apply_source_weights);
}

PyObject* source_weight(std::string_view source) {
    return to_py(search::source_weight(claims::parse_memory_source_lossy(source)));
}

PyObject* legacy_claim_fallback_weight() { return to_py(search::legacy_claim_fallback_weight()); }

PyObject* validate_memory_claim_v1(std::string_view claim_json) {
    return ret_json(claims::validate_memory_claim_v1(claim_json),
                    [](const claims::MemoryClaimV1& c) { return claims::to_json(c); });
}

PyObject* parse_memory_type_v1(std::string_view s) {
    return to_py(claims::to_token(claims::parse_memory_type_lossy(s)));
}

PyObject* parse_memory_source(std::string_view s) {
    return to_py(claims::to_token(claims::parse_memory_source_lossy(s)));
}

PyObject* parse_pin_status(std::string_view s) { return to_py(claims::to_token(claims::parse_pin_status_lossy(s))); }

PyObject* is_pinned_claim_json(std::string_view claim_json) { return to_py(claims::is_pinned_claim_json(claim_json)); }

PyObject* cosine_similarity(Floats32 a, Floats32 b) { return to_py(search::cosine_similarity(a, b)); }

PyObject* pin_boost(std::string_view tier_json, std::int64_t now_unix, std::string_view config_json) {
    // The tier is read first, so its error wins when both are bad; the
    // configuration is checked even for the "none" tier.
    auto tier = claims::parse_pin_tier(tier_json);
    if (!tier) {
        to_pyerr(tier.error());
        return nullptr;
    }
    auto config = claims::parse_pin_config(config_json);
    if (!config) {
        to_pyerr(config.error());
        return nullptr;
    }
    return to_py(claims::pin_boost(*tier, now_unix, *config));
}

PyObject* default_pin_config() { return ret_json(claims::to_json(claims::default_pin_config())); }

}  // namespace

std::vector<PyMethodDef> reranker_functions() {
    return {
        def<"rerank(query, query_embedding, candidates_json, top_k)", rerank>(
            "Rank candidate facts for a query by BM25 and cosine similarity fused with reciprocal rank fusion.\n\n"
            "candidates_json is a JSON array of {id, text, embedding, timestamp, source?}; returns the JSON array "
            "of the best top_k results {id, text, score, bm25_score, cosine_score, timestamp}. Source weights are "
            "not applied."),
        def<"rerank_with_config(query, query_embedding, candidates_json, top_k, apply_source_weights)",
            rerank_with_config>(
            "As rerank(), optionally multiplying each fused score by the candidate's provenance weight (then "
            "shown as source_weight when it is not 1.0)."),
        def<"source_weight(source)", source_weight>(
            "The provenance weight of a memory source text, parsed leniently (unknown text counts as "
            "user-inferred)."),
        def<"legacy_claim_fallback_weight()", legacy_claim_fallback_weight>(
            "The provenance weight of a candidate without a source (0.85)."),
        def<"validate_memory_claim_v1(claim_json)", validate_memory_claim_v1>(
            "Strictly validate a Memory Taxonomy v1 claim and return its canonical JSON."),
        def<"parse_memory_type_v1(s)", parse_memory_type_v1>(
            "Lenient memory type: trimmed and case-folded; anything unknown is \"claim\"."),
        def<"parse_memory_source(s)", parse_memory_source>(
            "Lenient memory source: trimmed, case-folded, spaces and underscores as hyphens; anything unknown is "
            "\"user-inferred\"."),
        def<"parse_pin_status(s)", parse_pin_status>(
            "Lenient pin status: \"pinned\" for the trimmed, case-folded text pinned, else \"unpinned\"."),
        def<"is_pinned_claim_json(claim_json)", is_pinned_claim_json>(
            "Whether a v1 or compact claim is pinned; unreadable text is not pinned."),
        def<"cosine_similarity(a, b)", cosine_similarity>(
            "Cosine similarity of two vectors taken as 32-bit floats; 0.0 for different lengths, an empty first "
            "vector or a zero norm."),
        def<"pin_boost(tier_json, now_unix, config_json)", pin_boost>(
            "The rank multiplier of a pin tier at a Unix time under a pin configuration."),
        def<"default_pin_config()", default_pin_config>("The default pin configuration as JSON."),
        // classify_pin_intent(text) joins here, after default_pin_config.
    };
}

}  // namespace kc::py
