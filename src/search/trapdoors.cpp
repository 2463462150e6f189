#include "search/trapdoors.hpp"

#include "crypto/index_terms.hpp"
#include "frame/text.hpp"

namespace kc::search {

Result<std::vector<std::string>> generate_search_trapdoors(std::string_view query,
                                                           std::span<const float> query_embedding,
                                                           const crypto::LshHasher& hasher) {
    return crypto::blind_indices_with_buckets(query, query_embedding, hasher);
}

Result<std::vector<std::vector<std::string>>> generate_expansion_trapdoors(
    std::span<const std::string> queries, std::span<const std::vector<float>> embeddings,
    const crypto::LshHasher& hasher) {
    if (queries.size() != embeddings.size())
        return fail(Error::invalid_input(
            cat("queries.len() (", queries.size(), ") != query_embeddings.len() (", embeddings.size(), ")")));
    std::vector<std::vector<std::string>> out;
    out.reserve(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
        auto terms = crypto::blind_indices_with_buckets(queries[i], embeddings[i], hasher);
        if (!terms) return fail(terms.error());
        out.push_back(std::move(*terms));
    }
    return out;
}

}  // namespace kc::search
