// Standard-alphabet base64 with "=" padding. The decoder is strict
// (canonical padding, zero trailing bits, nothing outside the alphabet) and
// reports why it refused, in the forms other clients show:
//   "Invalid symbol {byte}, offset {index}."
//   "Invalid input length: {symbols}"
//   "Invalid last symbol {byte}, offset {index}."
//   "Invalid padding"
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "frame/text.hpp"

namespace kc {

std::string base64_encode(ByteView bytes);

// Decoded bytes, or the decoder's reason.
std::expected<Bytes, std::string> base64_decode(std::string_view text);

}  // namespace kc
