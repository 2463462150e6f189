// The searchable terms of a text with its embedding: what a stored fact
// carries and what a query sends, built by the same rule so that a query
// term equals a stored one exactly when a word (after stemming) or an LSH
// bucket matches.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/lsh.hpp"
#include "frame/error.hpp"

namespace kc::crypto {

// The blind indices of `text` followed by the bucket hashes of `embedding`
// (each value widened exactly to a double), in the order produced, without
// de-duplication. Error: the hasher's Lsh error when the embedding's length
// differs from its dimensions.
Result<std::vector<std::string>> blind_indices_with_buckets(std::string_view text, std::span<const float> embedding,
                                                            const LshHasher& hasher);

}  // namespace kc::crypto
