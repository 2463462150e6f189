#include "frame/unicode.hpp"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <vector>

#include "frame/text.hpp"

namespace kc {
namespace {

std::string normalize(const icu::Normalizer2* n, std::string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString src = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    if (n == nullptr) return std::string(s);
    icu::UnicodeString out = n->normalize(src, status);
    if (U_FAILURE(status)) return std::string(s);
    std::string result;
    out.toUTF8String(result);
    return result;
}

// u_strToLower / u_strToUpper with the root locale: the full default
// mappings, final sigma included.
template <class Fn>
std::string map_case(std::string_view s, Fn fn) {
    icu::UnicodeString src = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
    std::vector<UChar> dest(static_cast<std::size_t>(src.length()) * 3 + 16);
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = fn(dest.data(), static_cast<int32_t>(dest.size()), src.getBuffer(), src.length(), "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        dest.resize(static_cast<std::size_t>(len) + 1);
        status = U_ZERO_ERROR;
        len = fn(dest.data(), static_cast<int32_t>(dest.size()), src.getBuffer(), src.length(), "", &status);
    }
    if (U_FAILURE(status)) return std::string(s);
    std::string out;
    icu::UnicodeString(dest.data(), len).toUTF8String(out);
    return out;
}

}  // namespace

std::string nfc(std::string_view s) {
    if (is_ascii(s)) return std::string(s);
    UErrorCode status = U_ZERO_ERROR;
    return normalize(icu::Normalizer2::getNFCInstance(status), s);
}

std::string nfkd(std::string_view s) {
    if (is_ascii(s)) return std::string(s);
    UErrorCode status = U_ZERO_ERROR;
    return normalize(icu::Normalizer2::getNFKDInstance(status), s);
}

std::string to_lower(std::string_view s) {
    if (is_ascii(s)) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    return map_case(s, u_strToLower);
}

std::string to_upper(std::string_view s) {
    if (is_ascii(s)) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return out;
    }
    return map_case(s, u_strToUpper);
}

bool is_alphabetic(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC); }

bool is_numeric(char32_t c) {
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_N_MASK) != 0;
}

bool is_alphanumeric(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    return is_alphabetic(c) || is_numeric(c);
}

}  // namespace kc
