// The recall block placed into the agent's prompt, and the confirmation
// that a submitted fact is indexed. The host owns the clock and the polling
// loop; these operations take the time and the indexer's answer as input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "frame/error.hpp"

namespace kc::search {

// Polling interval and total timeout the host uses while confirming.
inline constexpr std::int64_t confirm_indexed_default_poll_ms = 1000;
inline constexpr std::int64_t confirm_indexed_default_timeout_ms = 30000;

// UTC date "YYYY-MM-DD" of Unix seconds; the empty text for 0 or less and
// for days after the end of year 262142 (years past 9999 print in full).
std::string format_memory_date(std::int64_t secs);

// The two header lines stating the date of `now_unix` (empty when it does
// not format); ends with a line feed.
std::string recall_context_header(std::int64_t now_unix);

// Header plus one "- [category] (date) text" line per item of the JSON
// array `items_json` ({category?, text?, created_at?}), joined by line
// feeds, no final line feed. Unreadable input counts as no items; never fails.
std::string format_recall_context(std::string_view items_json, std::int64_t now_unix);

// The ConfirmIndexed GraphQL query (variable $id).
std::string_view confirm_indexed_query();

// Whether the indexer's answer ({"data":{"fact":…}} or {"fact":…}) shows the
// fact indexed with isActive true; a null data or fact is false. Errors
// (Parse): "confirm_indexed: response is not valid JSON ({}). Body: {}",
// "confirm_indexed: wrapped response missing `fact` field under `data`",
// "confirm_indexed: response did not match either {data:{fact}} or {fact} shape: {}"
// (bodies are the first 200 characters of the input).
Result<bool> parse_indexed_response(std::string_view text);

}  // namespace kc::search
