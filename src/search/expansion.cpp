#include "search/expansion.hpp"

#include <cstddef>
#include <unordered_map>

#include "frame/json_reader.hpp"
#include "frame/sort.hpp"
#include "frame/text.hpp"

namespace kc::search {

namespace {

struct Fused {
    std::size_t set = 0, index = 0;  // where the kept record is
    double score = 0.0;
};

}  // namespace

std::vector<SubgraphFact> merge_expansion_results(std::vector<std::vector<SubgraphFact>> fact_sets, double rrf_k) {
    if (fact_sets.empty()) return {};
    if (fact_sets.size() == 1) return std::move(fact_sets.front());

    std::size_t total = 0;
    for (const auto& set : fact_sets) total += set.size();
    // Keys view the ids inside `fact_sets`, which is not touched until the
    // kept records are moved out at the end.
    std::unordered_map<std::string_view, std::size_t> slot;
    slot.reserve(total);
    std::vector<Fused> fused;
    fused.reserve(total);
    for (std::size_t s = 0; s < fact_sets.size(); ++s) {
        const auto& set = fact_sets[s];
        for (std::size_t p = 0; p < set.size(); ++p) {
            const double contribution = 1.0 / (static_cast<double>(p + 1) + rrf_k);
            auto [it, fresh] = slot.try_emplace(set[p].id, fused.size());
            if (fresh) fused.push_back(Fused{s, p, 0.0});
            fused[it->second].score += contribution;
        }
    }

    auto id_of = [&fact_sets](const Fused& f) -> std::string_view { return fact_sets[f.set][f.index].id; };
    // Higher score first; equal scores, and any comparison with NaN, fall
    // through to the id (std::string_view compares bytes as unsigned).
    kc::stable_sort(fused, [&id_of](const Fused& a, const Fused& b) {
        if (a.score > b.score) return true;
        if (a.score < b.score) return false;
        return id_of(a) < id_of(b);
    });

    std::vector<SubgraphFact> out;
    out.reserve(fused.size());
    for (const Fused& f : fused) out.push_back(std::move(fact_sets[f.set][f.index]));
    return out;
}

Result<std::vector<SubgraphFact>> merge_expansion_results_json(std::string_view fact_sets_json, double rrf_k) {
    auto failed = [](std::string_view why) { return fail(Error::parse(cat("Invalid fact_sets JSON: ", why))); };
    json::Document doc;
    auto root = doc.parse(fact_sets_json);
    if (!root) return failed(root.error());
    auto sets = json::as_array(*root, "fact_sets");
    if (!sets) return failed(sets.error());
    std::vector<std::vector<SubgraphFact>> fact_sets;
    fact_sets.reserve(sets->size());
    std::size_t i = 0;
    for (json::Element set : *sets) {
        auto facts = read_subgraph_facts(set);
        if (!facts) return failed(cat(facts.error(), " in set ", i));
        fact_sets.push_back(std::move(*facts));
        ++i;
    }
    return merge_expansion_results(std::move(fact_sets), rrf_k);
}

}  // namespace kc::search
