// Fusion of the blind-search results of several formulations of one query
// (the user's query and its reformulations) into one fact list.
#pragma once

#include <string_view>
#include <vector>

#include "frame/error.hpp"
#include "search/blind_search.hpp"

namespace kc::search {

// Reciprocal rank fusion of `fact_sets` (each ordered best first). No set:
// empty; one set: that set unchanged. Otherwise each occurrence at position
// p (from 0 in every set) adds 1 / ((p + 1) + rrf_k) to its id's score; the
// first record seen per id is kept; ids ordered by score descending, ties and
// NaN comparisons by id ascending (byte-wise), stably. Never fails.
std::vector<SubgraphFact> merge_expansion_results(std::vector<std::vector<SubgraphFact>> fact_sets, double rrf_k);

// The same over a JSON array of SubgraphFact arrays; the merged array's JSON.
// Error (Parse): "Invalid fact_sets JSON: {reader's description}".
Result<std::vector<SubgraphFact>> merge_expansion_results_json(std::string_view fact_sets_json, double rrf_k);

}  // namespace kc::search
