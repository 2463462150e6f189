// Search trapdoors: the query side of the blind index.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/lsh.hpp"
#include "frame/error.hpp"

namespace kc::search {

// The blind indices of the query followed by the bucket hashes of its
// embedding (widened exactly to doubles). Error: the hasher's Lsh error.
Result<std::vector<std::string>> generate_search_trapdoors(std::string_view query,
                                                           std::span<const float> query_embedding,
                                                           const crypto::LshHasher& hasher);

// One trapdoor list per (query, embedding) pair, in order. Errors:
// InvalidInput "queries.len() ({}) != query_embeddings.len() ({})" before
// any hashing; otherwise the first failing pair's error.
Result<std::vector<std::vector<std::string>>> generate_expansion_trapdoors(
    std::span<const std::string> queries, std::span<const std::vector<float>> embeddings,
    const crypto::LshHasher& hasher);

}  // namespace kc::search
