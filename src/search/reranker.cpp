#include "search/reranker.hpp"

#include <cmath>
#include <limits>
#include <unordered_map>

#include "frame/numeric.hpp"
#include "frame/sort.hpp"
#include "frame/text.hpp"
#include "frame/unicode.hpp"

namespace kc::search {

namespace {

constexpr double k_rrf = 60.0;

bool is_token_char(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
    return is_alphanumeric(c);
}

// Calls `fn(token)` for every token of already lower-cased text.
template <class Fn>
void for_each_token(std::string_view lowered, Fn&& fn) {
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < lowered.size()) {
        std::size_t here = pos;
        char32_t c = next_char(lowered, pos);
        if (pos > lowered.size()) pos = lowered.size();  // a cut-off sequence at the end
        if (is_token_char(c)) continue;
        if (here - start >= 2) fn(lowered.substr(start, here - start));
        start = pos;
    }
    if (lowered.size() - start >= 2) fn(lowered.substr(start));
}

// Neither a > b nor a < b: equal, or a NaN on either side.
bool same_score(double a, double b) { return !(a > b) && !(a < b); }

}  // namespace

std::vector<std::string> tokenize(std::string_view text) {
    std::string lowered = to_lower(text);
    std::vector<std::string> out;
    for_each_token(lowered, [&](std::string_view t) { out.emplace_back(t); });
    return out;
}

std::vector<std::uint64_t> compute_ranks(std::span<const double> scores) {
    struct Entry {
        double score;
        std::size_t index;
    };
    std::vector<Entry> sorted;
    sorted.reserve(scores.size());
    for (std::size_t k = 0; k < scores.size(); ++k) sorted.push_back({scores[k], k});
    stable_sort(sorted, [](const Entry& a, const Entry& b) { return a.score > b.score; });

    std::vector<std::uint64_t> ranks(scores.size());
    std::uint64_t rank = 1;
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        if (k > 0 && !same_score(sorted[k].score, sorted[k - 1].score)) rank = k + 1;
        ranks[sorted[k].index] = rank;
    }
    return ranks;
}

double cosine_similarity(std::span<const float> a, std::span<const float> b) {
    if (a.size() != b.size() || a.empty()) return 0.0;
    double dot = 0.0, sum_a = 0.0, sum_b = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        const double x = a[k], y = b[k];
        dot += x * y;
        sum_a += x * x;
        sum_b += y * y;
    }
    const double denominator = std::sqrt(sum_a) * std::sqrt(sum_b);
    if (denominator == 0.0) return 0.0;
    return dot / denominator;
}

double source_weight(claims::MemorySource source) {
    switch (source) {
        case claims::MemorySource::User: return 1.0;
        case claims::MemorySource::UserInferred: return 0.95;
        case claims::MemorySource::Assistant:
        case claims::MemorySource::External:
        case claims::MemorySource::Derived: return 0.85;
    }
    return legacy_claim_fallback_weight();
}

double source_weight(std::optional<claims::MemorySource> source) {
    return source ? source_weight(*source) : legacy_claim_fallback_weight();
}

double legacy_claim_fallback_weight() { return 0.85; }

std::vector<RankedResult> rerank_with_config(std::string_view query, std::span<const float> query_embedding,
                                             std::span<const Candidate> candidates, std::uint64_t top_k,
                                             const RerankConfig& config) {
    const std::size_t n = candidates.size();
    if (n == 0 || top_k == 0) return {};

    // The query's distinct tokens; the score walks the full token list.
    const std::vector<std::string> query_tokens = tokenize(query);
    std::unordered_map<std::string_view, std::size_t> distinct;
    std::vector<std::size_t> query_slots;
    query_slots.reserve(query_tokens.size());
    for (const std::string& t : query_tokens) query_slots.push_back(distinct.emplace(t, distinct.size()).first->second);
    const std::size_t u = distinct.size();

    // Per candidate: its length and the counts (tf) of the query tokens it
    // holds, kept sparse so memory stays proportional to the input; over the
    // collection: df counts every occurrence, not candidates.
    struct Match {
        std::size_t slot;
        std::uint64_t count;
    };
    std::vector<Match> matches;
    std::vector<std::size_t> match_begin(n + 1, 0);
    std::vector<std::uint64_t> df(u, 0);
    std::vector<std::uint64_t> dl(n, 0);
    std::vector<std::uint64_t> scratch(u, 0);
    std::vector<std::size_t> touched;
    std::uint64_t total_length = 0;
    std::string lowered;
    for (std::size_t k = 0; k < n; ++k) {
        lowered = to_lower(candidates[k].text);
        std::uint64_t length = 0;
        for_each_token(lowered, [&](std::string_view t) {
            ++length;
            if (u == 0) return;
            auto it = distinct.find(t);
            if (it == distinct.end()) return;
            if (scratch[it->second]++ == 0) touched.push_back(it->second);
            ++df[it->second];
        });
        for (std::size_t slot : touched) {
            matches.push_back({slot, scratch[slot]});
            scratch[slot] = 0;
        }
        touched.clear();
        match_begin[k + 1] = matches.size();
        dl[k] = length;
        total_length += length;
    }

    const double big_n = static_cast<double>(n);
    const double avgdl = static_cast<double>(total_length) / big_n;
    std::vector<double> idf(u);
    for (std::size_t q = 0; q < u; ++q) {
        const double d = static_cast<double>(df[q]);
        idf[q] = std::log(((big_n - d) + 0.5) / (d + 0.5) + 1.0);
    }

    std::vector<double> bm25(n, 0.0);
    std::vector<double> cosine(n, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        // No matching token (which includes no token at all) scores 0.
        if (match_begin[k] != match_begin[k + 1]) {
            for (std::size_t m = match_begin[k]; m < match_begin[k + 1]; ++m) scratch[matches[m].slot] = matches[m].count;
            const double big_k = ((static_cast<double>(dl[k]) * 0.75) / avgdl + 0.25) * 1.2;
            double score = 0.0;
            // Query tokens in order, repetitions included.
            for (std::size_t q : query_slots) {
                const std::uint64_t count = scratch[q];
                if (count == 0) continue;
                const double f = static_cast<double>(count);
                score += ((f * 2.2) / (big_k + f)) * idf[q];
            }
            bm25[k] = score;
            for (std::size_t m = match_begin[k]; m < match_begin[k + 1]; ++m) scratch[matches[m].slot] = 0;
        }
        cosine[k] = cosine_similarity(query_embedding, candidates[k].embedding);
    }

    const std::vector<std::uint64_t> bm25_rank = compute_ranks(bm25);
    const std::vector<std::uint64_t> cosine_rank = compute_ranks(cosine);

    struct Entry {
        double score;
        double weight;
        std::size_t index;
    };
    std::vector<Entry> order;
    order.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        double c = cosine[k];
        if (c < 0.0) c = 0.0;
        if (c > 1.0) c = 1.0;
        const double w_bm25 = config.bm25_weight ? *config.bm25_weight : ((1.0 - c) * 0.3) + 0.3;
        const double w_cos = config.cosine_weight ? *config.cosine_weight : (c * 0.3) + 0.3;
        const double s = config.apply_source_weights ? source_weight(candidates[k].source) : 1.0;
        const double fused = ((w_bm25 * (1.0 / (static_cast<double>(bm25_rank[k]) + k_rrf))) +
                              (w_cos * (1.0 / (static_cast<double>(cosine_rank[k]) + k_rrf)))) *
                             s;
        order.push_back({fused, s, k});
    }
    stable_sort(order, [&](const Entry& a, const Entry& b) {
        if (a.score > b.score) return true;
        if (a.score < b.score) return false;
        return candidates[a.index].id < candidates[b.index].id;
    });

    const std::size_t keep = top_k < n ? static_cast<std::size_t>(top_k) : n;
    std::vector<RankedResult> results;
    results.reserve(keep);
    for (std::size_t k = 0; k < keep; ++k) {
        const Candidate& cand = candidates[order[k].index];
        results.push_back(RankedResult{cand.id, cand.text, order[k].score, bm25[order[k].index],
                                       cosine[order[k].index], cand.timestamp, order[k].weight});
    }
    return results;
}

json::Read<Candidate> read_candidate(json::Element e) {
    auto m = json::Members::collect(e, {"id", "text", "embedding", "timestamp", "source"}, json::Unknown::Ignore,
                                    "candidate");
    if (!m) return std::unexpected(std::move(m.error()));
    Candidate c;
    auto id = m->str("id");
    if (!id) return std::unexpected(std::move(id.error()));
    c.id = std::string(*id);
    auto text = m->str("text");
    if (!text) return std::unexpected(std::move(text.error()));
    c.text = std::string(*text);
    auto embedding = m->array("embedding");
    if (!embedding) return std::unexpected(std::move(embedding.error()));
    c.embedding.reserve(embedding->size());
    for (json::Element v : *embedding) {
        auto x = json::as_f64(v, "embedding");
        if (!x) return std::unexpected(std::move(x.error()));
        c.embedding.push_back(narrow_to_float(*x));
    }
    auto timestamp = m->str("timestamp");
    if (!timestamp) return std::unexpected(std::move(timestamp.error()));
    c.timestamp = std::string(*timestamp);
    if (auto source = m->find_non_null("source")) {
        auto s = claims::read_memory_source(*source, "source");
        if (!s) return std::unexpected(std::move(s.error()));
        c.source = *s;
    }
    return c;
}

Result<std::vector<Candidate>> parse_candidates(std::string_view candidates_json) {
    json::Document doc;
    auto root = doc.parse(candidates_json);
    if (!root) return fail(Error::parse(root.error()));
    auto list = json::as_array(*root, "candidates");
    if (!list) return fail(Error::parse(list.error()));
    std::vector<Candidate> out;
    out.reserve(list->size());
    for (json::Element item : *list) {
        auto c = read_candidate(item);
        if (!c) return fail(Error::parse(c.error()));
        out.push_back(std::move(*c));
    }
    return out;
}

void write_ranked_result(json::Writer& w, const RankedResult& r) {
    w.begin_object()
        .key("id")
        .string(r.id)
        .key("text")
        .string(r.text)
        .key("score")
        .number(r.score)
        .key("bm25_score")
        .number(r.bm25_score)
        .key("cosine_score")
        .number(r.cosine_score)
        .key("timestamp")
        .string(r.timestamp);
    if (!(std::fabs(r.source_weight - 1.0) < 0x1p-52)) w.key("source_weight").number(r.source_weight);
    w.end_object();
}

std::expected<std::string, std::string> to_json(std::span<const RankedResult> results) {
    json::Writer w;
    w.begin_array();
    for (const RankedResult& r : results) write_ranked_result(w, r);
    w.end_array();
    return std::move(w).finish();
}

}  // namespace kc::search
