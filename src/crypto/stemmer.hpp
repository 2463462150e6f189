// The Porter word stemmer (M. F. Porter, 1980, the rule set of the original
// paper), over bytes of the ASCII letters a–z. The blind indices hash these
// stems, so every client must stem identically.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kc::crypto {

// The stem of `word`. A word of at most 2 bytes, or one containing any byte
// that is not an ASCII letter, is returned unchanged. Upper-case letters
// are not folded (callers lower-case first); they count as consonants.
// Cannot fail.
std::string stem(std::string_view word);

// m in [C](VC)^m[V] for the first `length` letters of `letters` (clamped to
// its size). A letter is a vowel if it is a, e, i, o or u, or a y that
// follows a consonant; a y at position 0 is a consonant. Cannot fail.
std::size_t measure(std::string_view letters, std::size_t length);

// True when `length` >= 3 and the letters at length-3, length-2, length-1
// are consonant, vowel, consonant, the last not w, x or y (`length` clamped
// to the size of `letters`). Cannot fail.
bool ends_with_cvc(std::string_view letters, std::size_t length);

}  // namespace kc::crypto
