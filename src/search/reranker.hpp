// The reranker: orders decrypted candidate facts for a query by fusing a
// lexical ranking (BM25 over the candidate texts themselves) and a semantic
// one (cosine similarity of embeddings) with Reciprocal Rank Fusion whose
// two weights adapt to each candidate's similarity, optionally scaled by a
// provenance weight from the candidate's memory source. Every client must
// give the same order for the same input, so each constant, the
// tokenisation, the order of floating-point operations and the tie-breaks
// are fixed. No pin boost is applied here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "claims/memory_v1.hpp"
#include "frame/error.hpp"
#include "frame/json_reader.hpp"
#include "frame/json_writer.hpp"

namespace kc::search {

// ---- records ---------------------------------------------------------------------

// One fact to rank. JSON members: id, text, embedding (numbers, narrowed to
// 32-bit floats; may be empty), timestamp (carried through), and an
// optional source (a memory source token; absent or null means none).
struct Candidate {
    std::string id;
    std::string text;
    std::vector<float> embedding;
    std::string timestamp;
    std::optional<claims::MemorySource> source;
};

// One ranked fact. JSON members in this order: id, text, score, bm25_score,
// cosine_score, timestamp, source_weight; the last is left out when it is
// within 2^-52 of 1.0 (always when source weighting is off, and for the
// user source).
struct RankedResult {
    std::string id;
    std::string text;
    double score = 0;         // the fused score, the ordering key
    double bm25_score = 0;    // raw BM25
    double cosine_score = 0;  // raw cosine similarity, not clamped
    std::string timestamp;
    double source_weight = 1.0;  // the provenance weight applied
};

struct RerankConfig {
    std::optional<double> bm25_weight;    // replaces the adaptive BM25 weight
    std::optional<double> cosine_weight;  // replaces the adaptive cosine weight
    bool apply_source_weights = false;    // multiply each fused score by source_weight
};

// ---- ranking -------------------------------------------------------------------------

// Ranks `candidates` for the query and returns at most `top_k` results,
// best first (all of them when fewer; none for top_k 0 or no candidates).
// Inputs: the query text (valid UTF-8), its embedding (32-bit floats), the
// candidates (read only, copied into the results) and the configuration.
// Per candidate: BM25 (k1 1.2, b 0.75) over the candidate set with the
// collection count as df; cosine similarity with the query embedding (0
// for another length); score = (w_bm25 / (bm25 rank + 60) + w_cos /
// (cosine rank + 60)) * source weight, the weights adapting to the clamped
// cosine unless the configuration fixes them. Order: score descending,
// ties (and any comparison with a NaN) by id ascending byte by byte,
// stable, so input order only separates equal scores with equal ids.
// Never fails; NaN scores are kept (and written as null).
std::vector<RankedResult> rerank_with_config(std::string_view query, std::span<const float> query_embedding,
                                             std::span<const Candidate> candidates, std::uint64_t top_k,
                                             const RerankConfig& config);

// The tokens of a text, in order and with repetitions: the full Unicode
// lower-casing (final sigma included), split at every character that is
// neither alphabetic nor numeric, pieces shorter than 2 UTF-8 bytes
// dropped. Input must be valid UTF-8.
std::vector<std::string> tokenize(std::string_view text);

// 1-based competition ranks, one per score in input order: scores sorted
// descending (stable; NaN compares equal to everything); each next score
// gets its own position when it differs from the previous one, else the
// previous rank (0.9, 0.5, 0.5, 0.1 -> 1, 2, 2, 4).
std::vector<std::uint64_t> compute_ranks(std::span<const double> scores);

// Cosine similarity in double precision over the widened 32-bit values,
// with the two square roots taken separately; 0 when the lengths differ,
// `a` is empty, or the product of the roots is exactly 0.
double cosine_similarity(std::span<const float> a, std::span<const float> b);

// Provenance weights: user 1.0, user-inferred 0.95, assistant, external and
// derived 0.85; no source the legacy fallback 0.85.
double source_weight(claims::MemorySource source);
double source_weight(std::optional<claims::MemorySource> source);
double legacy_claim_fallback_weight();

// ---- JSON -------------------------------------------------------------------------------

// Reads one candidate; the error is the bare description (missing member,
// wrong type, unknown source token). Unknown members are ignored.
json::Read<Candidate> read_candidate(json::Element e);

// Reads a JSON array of candidates. Error: Parse with the reader's
// description and no prefix.
Result<std::vector<Candidate>> parse_candidates(std::string_view candidates_json);

void write_ranked_result(json::Writer& w, const RankedResult& r);
// The JSON array of the results. Fails only when a text is not valid UTF-8.
std::expected<std::string, std::string> to_json(std::span<const RankedResult> results);

}  // namespace kc::search
