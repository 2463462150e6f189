// The Porter stemmer and its measure / cvc helpers, against the 1980
// paper's rule set and the published vector table in tests/data.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "check.hpp"
#include "crypto/stemmer.hpp"

using namespace kc::crypto;

namespace {

struct Vector {
    std::string word;
    std::string stem;
};

std::vector<Vector> load_vectors() {
    auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "porter_stems.tsv";
    std::ifstream in(path);
    std::vector<Vector> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        out.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return out;
}

}  // namespace

KC_TEST(stemmer_vector_table) {
    auto vectors = load_vectors();
    CHECK(vectors.size() >= 60);  // the file was found and read
    for (const auto& v : vectors) CHECK_EQ(stem(v.word), v.stem);
}

KC_TEST(stemmer_guards_and_rules_absent_from_the_1980_paper) {
    struct {
        const char* word;
        const char* stem;
    } cases[] = {
        {"", ""},
        {"is", "is"},
        {"as", "as"},
        {"caf\xc3\xa9s", "caf\xc3\xa9s"},  // a non-ASCII byte: unchanged
        {"cats2", "cats2"},                // a digit: unchanged
        {"it's", "it's"},
        {"ies", "i"},  // may shrink below two bytes
        {"analogi", "analogi"},  // no logi -> log
        {"visibli", "visibli"},  // no bli -> ble
    };
    for (const auto& c : cases) CHECK_EQ(stem(c.word), c.stem);
}

KC_TEST(measure_counts_vc_sequences) {
    struct {
        const char* letters;
        std::size_t m;
    } cases[] = {
        {"tr", 0},       {"ee", 0},      {"tree", 0},    {"y", 0},      {"by", 0},
        {"trouble", 1},  {"oats", 1},    {"trees", 1},   {"ivy", 1},    {"troubles", 2},
        {"private", 2},  {"oaten", 2},   {"orrery", 2},  {"", 0},       {"syzygy", 2},
        {"yyyy", 1},
    };
    for (const auto& c : cases) CHECK_EQ(measure(c.letters, std::string_view(c.letters).size()), c.m);
    // Only the first `length` letters count; lengths beyond the text clamp.
    CHECK_EQ(measure("troubles", 4), 0u);
    CHECK_EQ(measure("troubles", 5), 1u);
    CHECK_EQ(measure("troubles", 0), 0u);
    CHECK_EQ(measure("troubles", 99), 2u);
}

KC_TEST(ends_with_cvc_rule) {
    struct {
        const char* letters;
        bool cvc;
    } cases[] = {
        {"hop", true},   {"wil", true},  {"fil", true},   {"hyp", true},  // y after a consonant is a vowel
        {"snow", false}, {"box", false}, {"tray", false}, {"fail", false}, {"ab", false},
        {"", false},     {"yay", false}, {"aby", false},
    };
    for (const auto& c : cases) CHECK_EQ(ends_with_cvc(c.letters, std::string_view(c.letters).size()), c.cvc);
    CHECK(ends_with_cvc("hopping", 3));
    CHECK(!ends_with_cvc("hopping", 2));
    CHECK(ends_with_cvc("hop", 99));
}
