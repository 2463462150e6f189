#include "crypto/index_terms.hpp"

#include <iterator>

#include "crypto/blind_index.hpp"

namespace kc::crypto {

Result<std::vector<std::string>> blind_indices_with_buckets(std::string_view text, std::span<const float> embedding,
                                                            const LshHasher& hasher) {
    auto buckets = hash(hasher, embedding);
    if (!buckets) return fail(buckets.error());
    std::vector<std::string> terms = generate_blind_indices(text);
    terms.insert(terms.end(), std::make_move_iterator(buckets->begin()), std::make_move_iterator(buckets->end()));
    return terms;
}

}  // namespace kc::crypto
