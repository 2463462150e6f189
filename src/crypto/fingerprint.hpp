// Text normalisation and the keyed content fingerprint that lets the
// service recognise the same fact without reading it.
#pragma once

#include <string>
#include <string_view>

#include "frame/text.hpp"

namespace kc::crypto {

// `text` (valid UTF-8) in NFC, then lower-cased with the full default
// mapping (final sigma included, no second NFC pass), every run of
// White_Space collapsed to one U+0020, and trimmed. Cannot fail.
std::string normalize_text(std::string_view text);

// Lower-case hex of HMAC-SHA256(key = `dedup_key`, message =
// normalize_text(`plaintext`)). The key is used as given (callers pass the
// 32-byte dedup key; the binding checks its length). Cannot fail.
std::string generate_content_fingerprint(std::string_view plaintext, ByteView dedup_key);

}  // namespace kc::crypto
