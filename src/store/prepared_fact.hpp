// The result of preparing one fact for storage, its JSON form and the strict
// reader the calldata builders use to take it back.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/error.hpp"
#include "frame/json_reader.hpp"
#include "frame/text.hpp"

namespace kc::store {

// Members in their JSON order.
struct PreparedFact {
    std::string fact_id;             // version 7 UUID, lower-case hyphenated
    std::string timestamp;           // RFC 3339, milliseconds, "Z"
    std::string owner;
    std::string encrypted_blob_hex;  // lower-case hex of the envelope bytes
    std::vector<std::string> blind_indices;  // word indices, then LSH bucket hashes
    double decay_score = 0.0;
    std::string source;
    std::string content_fp;
    std::string agent_id;
    std::optional<std::string> encrypted_embedding;  // written as null when absent
    Bytes protobuf_bytes;                             // the encoded fact message
};

// Compact JSON with the members in declared order; `protobuf_bytes` as an
// array of byte integers, a non-finite decay score as null. Fails only when
// a text is not valid UTF-8 (the writer's reason).
std::expected<std::string, std::string> to_json(const PreparedFact& fact);

// Strict reading of one JSON object: every member but `encrypted_embedding`
// required with its exact type (`decay_score` any number, `protobuf_bytes`
// integers 0..255), `encrypted_embedding` missing, null or a string;
// unknown members ignored. Errors are descriptions ("missing field `x`",
// "duplicate field `x`", "invalid type for `x`: …").
json::Read<PreparedFact> read_prepared_fact(json::Element e);

// One PreparedFact JSON text.
// Errors (Parse): "Invalid PreparedFact JSON: " + the reader's description.
Result<PreparedFact> parse_prepared_fact(std::string_view text);

// A JSON array of PreparedFact objects (may be empty).
// Errors (Parse): "Invalid PreparedFact array JSON: " + the reader's
// description (a fault inside an element names its index).
Result<std::vector<PreparedFact>> parse_prepared_fact_array(std::string_view text);

}  // namespace kc::store
