// Reranker internals no Python function exposes: the tokenizer, the
// competition ranks (NaN included) and the weight overrides of RerankConfig.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "search/reranker.hpp"

using namespace kc;
using namespace kc::search;

namespace {

const double kNaN = std::nan("");

}  // namespace

KC_TEST(tokenize_rules) {
    struct Case {
        const char* text;
        std::vector<std::string> tokens;
    };
    const std::vector<Case> cases = {
        {"Hello, World! a b 42 x1 é", {"hello", "world", "42", "x1", "é"}},
        {"", {}},
        {"a b c 1 2", {}},
        {"snake_case e-mail don't", {"snake", "case", "mail", "don"}},
        // Full lower-casing with the final sigma.
        {"ΟΔΟΣ ΚΑΛΟΣ.", {"οδος", "καλος"}},
        // Numbers of every kind, CJK letters, emoji as a separator.
        {"½ Ⅻ 日本語🙂テスト", {"½", "ⅻ", "日本語", "テスト"}},
        {"repeat repeat REPEAT", {"repeat", "repeat", "repeat"}},
        {"tab\there\nnew\u00a0line", {"tab", "here", "new", "line"}},
        // Alphabetic is the Unicode property, wider than the letter
        // categories: vowel signs (Mc) and circled letters (So) carry
        // Other_Alphabetic and stay inside their word, lower-cased.
        {"\u0915\u093F \u0915", {"\u0915\u093F", "\u0915"}},
        {"\u24B6\u24B7 \u24D2", {"\u24D0\u24D1", "\u24D2"}},
        {"\u03B1\u0345\u03B2", {"\u03B1\u0345\u03B2"}},
        // A combining acute accent is neither alphabetic nor numeric: it
        // splits, and the single ASCII letters left over are dropped.
        {"ab\u0301cd e\u0301x", {"ab", "cd"}},
    };
    for (const Case& c : cases) CHECK(tokenize(c.text) == c.tokens);
}

KC_TEST(compute_ranks_literals) {
    CHECK(compute_ranks(std::vector<double>{0.9, 0.5, 0.5, 0.1}) == (std::vector<std::uint64_t>{1, 2, 2, 4}));
    CHECK(compute_ranks(std::vector<double>{0.1, 0.5, 0.9, 0.5}) == (std::vector<std::uint64_t>{4, 2, 1, 2}));
    CHECK(compute_ranks(std::vector<double>{}).empty());
    CHECK(compute_ranks(std::vector<double>{0.0, -0.0}) == (std::vector<std::uint64_t>{1, 1}));
    CHECK(compute_ranks(std::vector<double>{3, 3, 3}) == (std::vector<std::uint64_t>{1, 1, 1}));
    // Ranks share only on equal scores, not on nearly equal ones: scores one
    // unit in the last place apart get their own positions.
    const double above = std::nextafter(0.5, 1.0);
    CHECK(compute_ranks(std::vector<double>{0.5, above, 0.5}) == (std::vector<std::uint64_t>{2, 1, 2}));
    CHECK(compute_ranks(std::vector<double>{1e-300, 0x1p-1074, 0.0}) == (std::vector<std::uint64_t>{1, 2, 3}));
    // A NaN shares the rank of its predecessor.
    CHECK(compute_ranks(std::vector<double>{0.9, kNaN}) == (std::vector<std::uint64_t>{1, 1}));
    CHECK(compute_ranks(std::vector<double>{kNaN, 0.9}) == (std::vector<std::uint64_t>{1, 1}));
    CHECK(compute_ranks(std::vector<double>{kNaN}) == (std::vector<std::uint64_t>{1}));
    CHECK(compute_ranks(std::vector<double>{kNaN, kNaN, kNaN}) == (std::vector<std::uint64_t>{1, 1, 1}));
}

KC_TEST(compute_ranks_with_nan_mixes_are_well_formed) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        std::vector<double> scores(1 + rng() % 300);
        for (double& s : scores) s = rng() % 4 == 0 ? kNaN : static_cast<double>(rng() % 20) / 4.0;
        std::vector<std::uint64_t> ranks = compute_ranks(scores);
        CHECK_EQ(ranks.size(), scores.size());
        // Walking the ranks in ascending order must look like a competition
        // ranking of some order: starts at 1, each next one repeats the
        // previous or equals its own 1-based position.
        std::sort(ranks.begin(), ranks.end());
        CHECK_EQ(ranks[0], std::uint64_t{1});
        for (std::size_t k = 1; k < ranks.size(); ++k) CHECK(ranks[k] == ranks[k - 1] || ranks[k] == k + 1);
    }
}

KC_TEST(rerank_weight_overrides) {
    std::vector<Candidate> candidates = {
        {"a", "memory memory", {1.0f, 0.0f}, "t1", std::nullopt},
        {"b", "memory", {0.0f, 1.0f}, "t2", claims::MemorySource::User},
        {"c", "other", {1.0f, 1.0f}, "t3", claims::MemorySource::Derived},
    };
    const std::vector<float> query = {1.0f, 0.0f};
    RerankConfig lexical_only{1.0, 0.0, false};
    auto lex = rerank_with_config("memory", query, candidates, 10, lexical_only);
    CHECK_EQ(lex.size(), std::size_t{3});
    for (const RankedResult& r : lex) CHECK_EQ(r.source_weight, 1.0);
    // Scores are 1/(bm25 rank + 60) exactly, in rank order.
    CHECK_EQ(lex[0].score, 1.0 / (1.0 + 60.0));
    CHECK_EQ(lex[1].score, 1.0 / (2.0 + 60.0));
    CHECK_EQ(lex[2].score, 1.0 / (3.0 + 60.0));

    RerankConfig semantic_only{0.0, 2.0, true};
    auto sem = rerank_with_config("memory", query, candidates, 2, semantic_only);
    CHECK_EQ(sem.size(), std::size_t{2});
    // Cosine ranks: a 1, c 2, b 3; the user source of b (weight 1.0)
    // outweighs the better rank of a (no source, 0.85).
    CHECK_EQ(sem[0].id, std::string("b"));
    CHECK_EQ(sem[0].score, (0.0 * (1.0 / 62.0) + 2.0 * (1.0 / 63.0)) * 1.0);
    CHECK_EQ(sem[0].source_weight, 1.0);
    CHECK_EQ(sem[1].id, std::string("a"));
    CHECK_EQ(sem[1].score, (0.0 * (1.0 / 61.0) + 2.0 * (1.0 / 61.0)) * 0.85);
    CHECK_EQ(sem[1].source_weight, 0.85);
    CHECK_EQ(sem[1].timestamp, std::string("t1"));
}

KC_TEST(ranked_result_json_member_order_and_omission) {
    std::vector<RankedResult> results = {
        {"i", "x", 1.0, 0.0, -0.5, "ts", 1.0},
        {"j", "y", kNaN, 2.5, kNaN, "", 0.95},
        {"k", "z", 0.5, 0.5, 0.5, "", 1.0 + 0x1p-53},
    };
    auto text = to_json(results);
    CHECK(text.has_value());
    CHECK_EQ(*text, std::string(R"([{"id":"i","text":"x","score":1.0,"bm25_score":0.0,"cosine_score":-0.5,)"
                                R"("timestamp":"ts"},{"id":"j","text":"y","score":null,"bm25_score":2.5,)"
                                R"("cosine_score":null,"timestamp":"","source_weight":0.95},)"
                                R"({"id":"k","text":"z","score":0.5,"bm25_score":0.5,"cosine_score":0.5,)"
                                R"("timestamp":""}])"));
}
