// The BIP-39 English word list (2048 words, sorted), generated at build
// time from data/bip39_english.txt after checking its published SHA-256.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kc::crypto {

const std::array<std::string_view, 2048>& bip39_english();

// Index of an exact, case-sensitive match, or nothing.
std::optional<unsigned> bip39_index(std::string_view word);

}  // namespace kc::crypto
