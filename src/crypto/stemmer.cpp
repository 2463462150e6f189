#include "crypto/stemmer.hpp"

#include <algorithm>

namespace kc::crypto {
namespace {

// The word being stemmed: a byte buffer and its current length. Every rule
// only shortens the word or rewrites its tail within the original length
// plus one byte, so the buffer is sized once.
struct Word {
    std::string b;
    std::size_t k;  // current length

    // Vowel status of position i. Iterative so a run of y's costs nothing
    // extra: a y is a vowel exactly when the letter before it is a consonant.
    bool consonant(std::size_t i) const {
        bool cons = true;
        // Walk back to the start of the y-run (or position 0).
        std::size_t start = i;
        while (start > 0 && b[start] == 'y') --start;
        for (std::size_t p = start; p <= i; ++p) {
            char c = b[p];
            if (c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u') cons = false;
            else if (c == 'y') cons = p == 0 ? true : !cons;
            else cons = true;
        }
        return cons;
    }

    // Compared from the last letter backwards: most suffixes fail on it.
    bool ends(std::string_view s) const {
        if (s.size() > k) return false;
        const char* tail = b.data() + k;
        for (std::size_t i = 1; i <= s.size(); ++i)
            if (tail[-static_cast<std::ptrdiff_t>(i)] != s[s.size() - i]) return false;
        return true;
    }

    // Replaces the last `suffix_len` letters by `with`.
    void set_to(std::size_t suffix_len, std::string_view with) {
        std::size_t at = k - suffix_len;
        b.replace(at, b.size() - at, with);
        k = at + with.size();
    }

    bool vowel_in(std::size_t n) const {
        for (std::size_t i = 0; i < n; ++i)
            if (!consonant(i)) return true;
        return false;
    }

    bool double_consonant() const { return k >= 2 && b[k - 1] == b[k - 2] && consonant(k - 1); }

    std::size_t m(std::size_t n) const { return measure(std::string_view(b.data(), k), n); }
    bool cvc(std::size_t n) const { return ends_with_cvc(std::string_view(b.data(), k), n); }
};

struct Rule {
    std::string_view suffix;
    std::string_view replacement;
};

// Suffix tables: a longer suffix always precedes any suffix it ends with,
// so the first match is the longest one.
constexpr Rule kStep2[] = {
    {"ational", "ate"}, {"tional", "tion"}, {"enci", "ence"},   {"anci", "ance"},   {"izer", "ize"},
    {"abli", "able"},   {"alli", "al"},     {"entli", "ent"},   {"eli", "e"},       {"ousli", "ous"},
    {"ization", "ize"}, {"ation", "ate"},   {"ator", "ate"},    {"alism", "al"},    {"iveness", "ive"},
    {"fulness", "ful"}, {"ousness", "ous"}, {"aliti", "al"},    {"iviti", "ive"},   {"biliti", "ble"},
};

constexpr Rule kStep3[] = {
    {"icate", "ic"}, {"ative", ""}, {"alize", "al"}, {"iciti", "ic"}, {"ical", "ic"}, {"ful", ""}, {"ness", ""},
};

constexpr std::string_view kStep4[] = {
    "al",  "ance", "ence", "er", "ic",  "able", "ible", "ant", "ement", "ment",
    "ent", "ion",  "ou",   "ism", "ate", "iti", "ous",  "ive", "ize",
};

// The longest suffix of the table that the word ends with, or nullptr.
template <class T, std::size_t N, class Suffix>
const T* longest_match(const Word& w, const T (&table)[N], Suffix suffix_of) {
    const T* best = nullptr;
    for (const T& r : table)
        if (w.ends(suffix_of(r)) && (!best || suffix_of(r).size() > suffix_of(*best).size())) best = &r;
    return best;
}

void step1a(Word& w) {
    if (w.ends("sses")) w.set_to(4, "ss");
    else if (w.ends("ies")) w.set_to(3, "i");
    else if (w.ends("ss")) return;
    else if (w.ends("s")) w.set_to(1, "");
}

void step1b(Word& w) {
    if (w.ends("eed")) {
        if (w.m(w.k - 3) > 0) w.set_to(3, "ee");
        return;
    }
    std::size_t cut = 0;
    if (w.ends("ed") && w.vowel_in(w.k - 2)) cut = 2;
    else if (w.ends("ing") && w.vowel_in(w.k - 3)) cut = 3;
    if (cut == 0) return;
    w.set_to(cut, "");
    if (w.ends("at") || w.ends("bl") || w.ends("iz")) {
        w.set_to(0, "e");
    } else if (w.double_consonant() && !w.ends("ll") && !w.ends("ss") && !w.ends("zz")) {
        w.set_to(1, "");
    } else if (w.m(w.k) == 1 && w.cvc(w.k)) {
        w.set_to(0, "e");
    }
}

void step1c(Word& w) {
    if (w.ends("y") && w.vowel_in(w.k - 1)) w.b[w.k - 1] = 'i';
}

void replace_step(Word& w, const Rule* r) {
    if (r && w.m(w.k - r->suffix.size()) > 0) w.set_to(r->suffix.size(), r->replacement);
}

void step4(Word& w) {
    const std::string_view* s = longest_match(w, kStep4, [](std::string_view v) { return v; });
    if (!s) return;
    std::size_t stem_len = w.k - s->size();
    if (*s == "ion" && (stem_len == 0 || (w.b[stem_len - 1] != 's' && w.b[stem_len - 1] != 't'))) return;
    if (w.m(stem_len) > 1) w.set_to(s->size(), "");
}

void step5(Word& w) {
    if (w.ends("e")) {
        std::size_t n = w.k - 1;
        std::size_t mm = w.m(n);
        if (mm > 1 || (mm == 1 && !w.cvc(n))) w.set_to(1, "");
    }
    if (w.ends("ll") && w.m(w.k) > 1) w.set_to(1, "");
}

bool is_vowel_letter(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

// Consonant flags of the first n letters in one forward pass.
template <class F>
void for_each_consonant_flag(std::string_view letters, std::size_t n, F&& f) {
    bool prev_cons = true;
    for (std::size_t i = 0; i < n; ++i) {
        char c = letters[i];
        bool cons;
        if (is_vowel_letter(c)) cons = false;
        else if (c == 'y') cons = i == 0 ? true : !prev_cons;
        else cons = true;
        f(i, cons);
        prev_cons = cons;
    }
}

}  // namespace

std::size_t measure(std::string_view letters, std::size_t length) {
    std::size_t n = std::min(length, letters.size());
    std::size_t m = 0;
    bool seen_vowel = false;
    for_each_consonant_flag(letters, n, [&](std::size_t, bool cons) {
        if (!cons) {
            seen_vowel = true;
        } else if (seen_vowel) {
            ++m;  // a consonant after a vowel run closes one VC
            seen_vowel = false;
        }
    });
    return m;
}

bool ends_with_cvc(std::string_view letters, std::size_t length) {
    std::size_t n = std::min(length, letters.size());
    if (n < 3) return false;
    bool flags[3] = {};
    for_each_consonant_flag(letters, n, [&](std::size_t i, bool cons) {
        if (i + 3 >= n) flags[i + 3 - n] = cons;
    });
    char last = letters[n - 1];
    return flags[0] && !flags[1] && flags[2] && last != 'w' && last != 'x' && last != 'y';
}

std::string stem(std::string_view word) {
    if (word.size() <= 2) return std::string(word);
    for (char c : word)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return std::string(word);
    Word w{std::string(word), word.size()};
    w.b.reserve(word.size() + 1);
    step1a(w);
    step1b(w);
    step1c(w);
    replace_step(w, longest_match(w, kStep2, [](const Rule& r) { return r.suffix; }));
    replace_step(w, longest_match(w, kStep3, [](const Rule& r) { return r.suffix; }));
    step4(w);
    step5(w);
    w.b.resize(w.k);
    return std::move(w.b);
}

}  // namespace kc::crypto
