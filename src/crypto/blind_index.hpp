// Blind indices: keyless SHA-256 hashes of the words of a text and of their
// Porter stems, which let the service match keywords it cannot read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kc::crypto {

// The blind indices of `text` (valid UTF-8): the text is lower-cased (full
// default mapping, final sigma included, no normalisation); tokens are the
// maximal runs of alphanumeric characters (Alphabetic or general category
// N) of at least 2 UTF-8 bytes; each token in text order contributes
// hex(SHA-256(token)) and, when its stem has at least 2 bytes,
// hex(SHA-256("stem:" + stem)). Duplicates are dropped, keeping the order of
// first production. Cannot fail.
std::vector<std::string> generate_blind_indices(std::string_view text);

}  // namespace kc::crypto
