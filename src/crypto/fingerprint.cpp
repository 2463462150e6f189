#include "crypto/fingerprint.hpp"

#include "crypto/primitives.hpp"
#include "frame/unicode.hpp"

namespace kc::crypto {
namespace {

constexpr bool is_ascii_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Collapses White_Space runs to one space and trims, in one pass: a run is
// written only when a later non-space character follows it.
std::string collapse_white_space(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    bool pending = false;
    std::size_t pos = 0;
    while (pos < s.size()) {
        std::size_t start = pos;
        char32_t c = next_char(s, pos);
        if (is_white_space(c)) {
            pending = true;
            continue;
        }
        if (pending && !out.empty()) out.push_back(' ');
        pending = false;
        out.append(s.data() + start, std::min(pos, s.size()) - start);
    }
    return out;
}

// ASCII text is its own NFC and lower-cases letter by letter, so the three
// steps fuse into one pass with identical results.
std::string normalize_ascii(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    bool pending = false;
    for (unsigned char c : s) {
        if (is_ascii_space(c)) {
            pending = true;
            continue;
        }
        if (pending && !out.empty()) out.push_back(' ');
        pending = false;
        out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
    }
    return out;
}

}  // namespace

std::string normalize_text(std::string_view text) {
    if (is_ascii(text)) return normalize_ascii(text);
    return collapse_white_space(to_lower(nfc(text)));
}

std::string generate_content_fingerprint(std::string_view plaintext, ByteView dedup_key) {
    std::string normal = normalize_text(plaintext);
    return to_hex(hmac_sha256(dedup_key, as_bytes(normal)));
}

}  // namespace kc::crypto
