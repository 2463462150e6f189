// Blind search against the indexer: the GraphQL texts the host sends, the
// indexer's fact record, and the readers of its answers. The module never
// talks to the indexer itself; it only supplies texts and parses answers.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/error.hpp"
#include "frame/json_reader.hpp"
#include "frame/json_writer.hpp"
#include "frame/text.hpp"

namespace kc::search {

// The GraphQL texts, ASCII, sent verbatim by the host.
// The blind search query (variables $trapdoors, $owner, $first).
std::string_view search_query();
// The fallback listing of the owner's most recent active facts ($owner, $first).
std::string_view broadened_search_query();
// The export pager over all active facts ($owner, $first, $skip); no contentFp.
std::string_view export_query();

// One fact as the indexer returns it. Members in their JSON order.
struct SubgraphFact {
    std::string id;                                  // `id`
    std::string encrypted_blob;                      // `encryptedBlob`: hex, normally 0x-prefixed
    std::optional<std::string> encrypted_embedding;  // `encryptedEmbedding`
    std::optional<std::string> decay_score;          // `decayScore`, decimal text
    std::optional<std::string> timestamp;            // `timestamp`
    std::optional<std::string> created_at;           // `createdAt`
    std::optional<bool> is_active;                   // `isActive`: false for a tombstoned fact
    std::optional<std::string> content_fp;           // `contentFp`
};

// Writes `fact` as an object with all eight members in order, absent ones as null.
void write_subgraph_fact(json::Writer& w, const SubgraphFact& fact);
// The JSON array of `facts`; fails only on text that is not valid UTF-8.
std::expected<std::string, std::string> to_json(const std::vector<SubgraphFact>& facts);

// Strict reader of one fact object: `id` and `encryptedBlob` required strings,
// the rest string/boolean or null or absent; unknown members ignored. Errors:
// not an object, "duplicate field `x`", "missing field `x`", "invalid type for `x`: …".
json::Read<SubgraphFact> read_subgraph_fact(json::Element e);
// Strict reader of a JSON array of fact objects (same errors, plus not an array).
json::Read<std::vector<SubgraphFact>> read_subgraph_facts(json::Element e);

// Reads the `data` object of a blind search answer ({"blindIndexes": [...]}):
// entries in order, skipping those without a fact and facts whose isActive is
// false, each fact id kept once at its first hit. Missing/null blindIndexes
// gives an empty list. Error (Parse): "failed to parse search response: {reader's description}".
Result<std::vector<SubgraphFact>> parse_search_response(std::string_view text);

// Reads the `data` object of a broadened or export answer ({"facts": [...]}):
// facts in order, dropping those whose isActive is false; duplicates kept.
// Error (Parse): "failed to parse broadened response: {reader's description}".
Result<std::vector<SubgraphFact>> parse_broadened_response(std::string_view text);

// The bytes of a hex blob (an optional leading "0x", then an even number of
// hex digits of either case); nullopt for any other text.
std::optional<Bytes> hex_blob_bytes(std::string_view hex);

// A hex blob's bytes as padded standard base64; nullopt when
// hex_blob_bytes refuses the text.
std::optional<std::string> hex_blob_to_base64(std::string_view hex);

}  // namespace kc::search
