// Unicode services backed by ICU: normalisation, full case mapping and
// character properties. White space itself lives in frame/text.hpp.
#pragma once

#include <string>
#include <string_view>

namespace kc {

// NFC / NFKD normal forms of valid UTF-8.
std::string nfc(std::string_view s);
std::string nfkd(std::string_view s);

// Full Unicode default lower-case / upper-case mapping (root locale), with
// the context-sensitive final-sigma rule.
std::string to_lower(std::string_view s);
std::string to_upper(std::string_view s);

// Unicode Alphabetic property, or general category N (Nd, Nl, No).
bool is_alphanumeric(char32_t c);
bool is_alphabetic(char32_t c);
bool is_numeric(char32_t c);

}  // namespace kc
