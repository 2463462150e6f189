// Pins: how "pinned" is recorded in both claim formats, the tolerant
// pin-status parser, and pin tiers with their time-decaying rank boost (a
// multiplier the host applies; the reranker does not).
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "frame/error.hpp"
#include "frame/json_reader.hpp"

namespace kc::claims {

// The `pin_status` of a Memory Taxonomy v1 claim.
enum class PinStatus : std::uint8_t { Pinned, Unpinned };
inline constexpr std::array<std::string_view, 2> pin_status_tokens = {"pinned", "unpinned"};
inline std::string_view to_token(PinStatus v) { return pin_status_tokens[static_cast<std::size_t>(v)]; }

// Lossy parse: trims Unicode white space, lower-cases ASCII A-Z, and gives
// Pinned only for exactly "pinned"; every other text is Unpinned. Never
// fails.
PinStatus parse_pin_status_lossy(std::string_view s);

// Whether claim JSON text is pinned: a strictly valid v1 claim is pinned
// exactly when its pin_status is "pinned" (and nothing else is looked at);
// otherwise a strictly valid compact claim is pinned when st is "p";
// anything else is not pinned. Never fails.
bool is_pinned_claim_json(std::string_view claim_json);
// The same test on an already parsed value.
bool is_pinned_claim(json::Element claim);

// ---- tiers and boosts -----------------------------------------------------------

struct PinTier {
    enum class Kind : std::uint8_t { None, Soft, Hard };
    Kind kind = Kind::None;
    std::int64_t pinned_at = 0;  // Unix seconds; meaningful for Soft only
};
inline constexpr std::array<std::string_view, 3> pin_tier_tokens = {"none", "soft", "hard"};

struct PinConfig {
    std::uint32_t soft_half_life_days = 90;
    double soft_max_boost = 1.5;
    double hard_boost = 1.5;
};

// Reads {"tier":"none"|"soft"|"hard"}, a soft tier also needing the signed
// 64-bit integer pinned_at; other keys are ignored. Error: Parse
// "invalid PinTier json: {description}" (missing tier, unknown token, soft
// without pinned_at, wrong types, repeated keys, not JSON).
Result<PinTier> parse_pin_tier(std::string_view tier_json);

// Reads a configuration whose three keys are all required
// (soft_half_life_days an unsigned 32-bit integer, the boosts any number);
// other keys are ignored. Error: Parse "invalid PinConfig json: {description}".
Result<PinConfig> parse_pin_config(std::string_view config_json);

// {"soft_half_life_days":90,"soft_max_boost":1.5,"hard_boost":1.5}.
PinConfig default_pin_config();
std::expected<std::string, std::string> to_json(const PinConfig& config);

// The multiplicative boost at `now_unix`: 1.0 for None, hard_boost for
// Hard; for Soft, soft_max_boost when the pin is not older than now or the
// half-life is 0, else 1 + (soft_max_boost - 1) * e^(age_days * -ln 2 /
// half_life), with the age computed in saturating 64-bit arithmetic. Never
// fails.
double pin_boost(const PinTier& tier, std::int64_t now_unix, const PinConfig& config);

}  // namespace kc::claims
