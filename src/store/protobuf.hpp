// The on-chain fact message and its tombstone, written by a hand-rolled
// single-pass protobuf encoder: a fixed field sequence with fixed tag bytes,
// so every client produces the same bytes for the same fact.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/clock.hpp"
#include "frame/error.hpp"
#include "frame/text.hpp"

namespace kc::store {

// The schema version written when a record or caller leaves it at 0.
inline constexpr std::uint32_t default_fact_version = 3;
// The version that marks Memory Taxonomy v1 tombstones.
inline constexpr std::uint32_t taxonomy_v1_fact_version = 4;

// The fact record the encoder reads. `source` and `agent_id` travel with the
// record but never reach the wire.
struct FactPayload {
    std::string id;
    std::string timestamp;           // RFC 3339 text
    std::string owner;               // 0x-prefixed smart-account address
    std::string encrypted_blob_hex;  // hex of the encrypted envelope, no prefix
    std::vector<std::string> blind_indices;
    double decay_score = 0.0;
    std::string source;
    std::string content_fp;
    std::string agent_id;
    std::optional<std::string> encrypted_embedding;
    std::uint32_t version = 0;  // 0 stands for default_fact_version
};

// The fact message bytes: fields 1-3 (texts, skipped when empty), 4 (the
// hex-decoded blob; left out when the hex does not decode), 5 (one per
// non-empty blind index), 6 (decay score), 7 (active = 1), 8 (version),
// 10 (fingerprint, when non-empty), 13 (embedding, when present and
// non-empty). Cannot fail.
Bytes encode_fact_protobuf(const FactPayload& payload);

// The lenient JSON form of a fact: each key is read on its own and a missing
// key or a value of another JSON type takes the key's default (decay_score
// 0.8, version 3, texts empty, no embedding; only the string elements of
// `blind_indices` are kept). Unknown keys are ignored; of a repeated key the
// last occurrence counts.
// Errors (Parse): the JSON reader's description of a syntax error;
// "expected JSON object" for valid JSON that is not an object.
Result<Bytes> encode_fact_protobuf_json(std::string_view json_text);

// The same lenient reading into a record.
// Errors: as encode_fact_protobuf_json.
Result<FactPayload> fact_payload_from_json(std::string_view json_text);

// The tombstone message that soft-deletes `fact_id`: field 1 (skipped when
// empty), field 2 (`now` as format_tombstone_timestamp), field 3 (skipped
// when empty), an empty blob, decay 0.0, active = 0 and the version (0 means
// default_fact_version). Cannot fail.
Bytes encode_tombstone_protobuf(std::string_view fact_id, std::string_view owner, std::uint32_t version,
                                UtcTime now);

// RFC 3339 UTC text with the offset "+00:00" and the shortest of 0, 3, 6 or
// 9 fraction digits that shows `t.nanos` exactly, e.g.
// "2025-01-02T03:04:05.123456+00:00". Years outside 0..9999 are written with
// a sign and at least four digits. Nanoseconds above 999,999,999 are treated
// as 999,999,999.
std::string format_tombstone_timestamp(UtcTime t);

}  // namespace kc::store
