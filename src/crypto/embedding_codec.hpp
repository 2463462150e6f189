// The canonical embedding payload: padded standard base64 of the packed
// components, binary16 for exactly 640 components (the production model's
// width) and binary32 for every other length, all little-endian. The reader
// infers the width from the byte count and also accepts the older JSON
// array form.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/error.hpp"

namespace kc::crypto {

constexpr std::size_t kHalfEmbeddingDims = 640;
constexpr std::size_t kHalfPayloadBytes = kHalfEmbeddingDims * 2;  // 1280
constexpr float kHalfMax = 65504.0f;                               // largest finite binary16

// The payload of `embedding`: empty text for no components; 640 components
// as binary16 (round to nearest, ties to even; subnormals and signed zeros
// kept); any other count as the binary32 bits. Components are checked in
// index order and the first bad one stops the encoding. Errors
// (InvalidInput):
//   "embedding[{i}] is {v} — non-finite components are not encodable (they
//    would permanently poison cosine similarity on-chain)"
//   "embedding[{i}] = {v} exceeds the f16 range (|x| <= 65504); refusing to
//    silently saturate to ±inf"  (640 components only)
//   "embedding has 320 components — its f32 payload would be exactly 1280
//    bytes, which decoders read back as 640 f16 values; refusing to write a
//    payload that cannot round-trip"  (after the finiteness check)
Result<std::string> encode_embedding_canonical(std::span<const float> embedding);

// The embedding of a payload, after trimming White_Space: a text starting
// with "[" is read as a JSON array of numbers (any JSON number, integers
// beyond 64 bits included), each rounded once from its text to the nearest
// binary32 (beyond the binary32 range: an infinity or a zero); otherwise strict padded base64 whose 1280-byte buffers
// hold 640 binary16 values (widened exactly) and other multiples of 4 hold
// binary32 values. Empty or blank text gives the empty embedding. Errors:
//   Parse "invalid JSON embedding array: {reader's description}"
//   Parse "base64 decode failed: {decoder's reason}"
//   InvalidInput "decoded embedding buffer has length {n} (expected 1280 for
//    f16, or a multiple of 4 for f32)"
Result<std::vector<float>> decode_embedding_universal(std::string_view payload);

// ---- conversions the codec is built on (exposed for their tests) ----------

// binary32 -> binary16, round to nearest, ties to even; overflow gives ±inf,
// NaN stays NaN (quiet, top payload bits kept, as x86 F16C does).
std::uint16_t f32_to_f16_software(float value);
// True when the processor has the F16C conversion instructions.
bool has_f16c();
// The same conversion with F16C (the software rule where the processor
// lacks it); gives the bits of f32_to_f16_software for every input.
std::uint16_t f32_to_f16_hardware(float value);
// Converts a block with the fastest available path; `out` holds in.size().
void f32_to_f16(std::span<const float> in, std::uint16_t* out);
// binary16 -> binary32, exact (NaN payload bits kept).
float f16_to_f32(std::uint16_t half);

// Shortest decimal that reads back to the same binary32, in plain notation
// (70000, 0.1, 0.0000001, -0), or NaN, inf, -inf.
std::string format_f32_plain(float value);

}  // namespace kc::crypto
