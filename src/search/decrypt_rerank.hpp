// Decrypt-and-rerank: opens the facts a blind search returned with the
// vault key, recovers each fact's text and embedding, and ranks the readable
// ones. A fact that cannot be read is dropped silently, so one corrupt or
// foreign record never spoils a search.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/error.hpp"
#include "frame/text.hpp"
#include "search/blind_search.hpp"
#include "search/reranker.hpp"

namespace kc::search {

// The ranking candidate of one fact, or nothing when its blob does not
// decode, authenticate or hold UTF-8. The text is the `t` member of a
// plaintext JSON object when that member is a string, else the whole
// plaintext; the embedding is the decrypted 32-bit little-endian payload
// (1 to 3 trailing bytes ignored), empty when absent or unreadable. The key
// must be 32 bytes.
std::optional<Candidate> decrypt_candidate(const SubgraphFact& fact, ByteView encryption_key);

// The readable facts ranked by rerank_with_config (no weight overrides,
// source weighting off), at most `top_k`, best first. Never fails.
std::vector<RankedResult> decrypt_and_rerank_with_key(std::span<const SubgraphFact> facts, std::string_view query,
                                                      std::span<const float> query_embedding,
                                                      ByteView encryption_key, std::uint64_t top_k);

// A JSON array of SubgraphFact objects.
// Error (Parse): "Invalid SubgraphFact array JSON: {reader's description}".
Result<std::vector<SubgraphFact>> parse_subgraph_fact_array(std::string_view facts_json);

}  // namespace kc::search
