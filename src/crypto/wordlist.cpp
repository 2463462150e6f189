#include "crypto/wordlist.hpp"

#include <algorithm>

namespace kc::crypto {

const std::array<std::string_view, 2048>& bip39_english() {
    static constexpr std::array<std::string_view, 2048> words = {
#include "bip39_words.inc"
    };
    return words;
}

std::optional<unsigned> bip39_index(std::string_view word) {
    const auto& words = bip39_english();
    auto it = std::lower_bound(words.begin(), words.end(), word);
    if (it == words.end() || *it != word) return std::nullopt;
    return static_cast<unsigned>(it - words.begin());
}

}  // namespace kc::crypto
