// Memory Taxonomy v1: the long-key claim format (schema version "1.0"),
// its enumerations and sub-records, the strict validator clients run before
// storing a v1 claim, the lossy type and source parsers, and the fixed map
// from a v1 type to the compact claim's short category tokens.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "claims/claim.hpp"
#include "claims/pins.hpp"
#include "frame/error.hpp"
#include "frame/json_reader.hpp"
#include "frame/json_writer.hpp"

namespace kc::claims {

// ---- enumerations (declaration order is part of the contract) -------------

enum class MemoryTypeV1 : std::uint8_t { Claim, Preference, Directive, Commitment, Episode, Summary };
inline constexpr std::array<std::string_view, 6> memory_type_tokens = {"claim",      "preference", "directive",
                                                                       "commitment", "episode",    "summary"};

enum class MemorySource : std::uint8_t { User, UserInferred, Assistant, External, Derived };
inline constexpr std::array<std::string_view, 5> memory_source_tokens = {"user", "user-inferred", "assistant",
                                                                         "external", "derived"};

enum class MemoryScope : std::uint8_t { Work, Personal, Health, Family, Creative, Finance, Misc, Unspecified };
inline constexpr std::array<std::string_view, 8> memory_scope_tokens = {
    "work", "personal", "health", "family", "creative", "finance", "misc", "unspecified"};

enum class MemoryVolatility : std::uint8_t { Stable, Updatable, Ephemeral };
inline constexpr std::array<std::string_view, 3> memory_volatility_tokens = {"stable", "updatable", "ephemeral"};

inline std::string_view to_token(MemoryTypeV1 v) { return memory_type_tokens[static_cast<std::size_t>(v)]; }
inline std::string_view to_token(MemorySource v) { return memory_source_tokens[static_cast<std::size_t>(v)]; }
inline std::string_view to_token(MemoryScope v) { return memory_scope_tokens[static_cast<std::size_t>(v)]; }
inline std::string_view to_token(MemoryVolatility v) {
    return memory_volatility_tokens[static_cast<std::size_t>(v)];
}

// The only schema version this module accepts.
inline constexpr std::string_view memory_schema_version = "1.0";

// Strict MemorySource token (exact, case-sensitive); error as read_token.
json::Read<MemorySource> read_memory_source(json::Element e, std::string_view what);

// Lossy parsers; never fail.
// Type: trim Unicode white space, lower-case ASCII A-Z, match exactly; else Claim.
MemoryTypeV1 parse_memory_type_lossy(std::string_view s);
// Source: as the type, and also every space and underscore becomes a hyphen;
// else UserInferred.
MemorySource parse_memory_source_lossy(std::string_view s);

// ---- records ---------------------------------------------------------------------

struct MemoryEntityV1 {
    std::string name;
    EntityType type = EntityType::Person;
    std::optional<std::string> role;
};

struct MemoryMetadataV1 {
    std::optional<std::string> subtype;
    std::optional<std::string> session_id;
    std::optional<std::string> context;
    std::vector<std::string> key_outcomes;
    std::vector<std::string> open_threads;
    std::vector<std::string> lessons;
    std::vector<std::string> topics_discussed;
    std::vector<std::string> files_affected;
    std::optional<std::string> import_source;

    // True when every text is absent and every list empty: such metadata
    // is not written at all.
    bool is_empty() const;
};

struct MemoryClaimV1 {
    std::string id;
    std::string text;
    MemoryTypeV1 type = MemoryTypeV1::Claim;
    MemorySource source = MemorySource::User;
    std::string created_at;  // carried as text, never parsed
    std::string schema_version{memory_schema_version};
    MemoryScope scope = MemoryScope::Unspecified;
    MemoryVolatility volatility = MemoryVolatility::Updatable;
    std::vector<MemoryEntityV1> entities;
    std::optional<std::string> reasoning;
    std::optional<std::string> expires_at;  // carried as text, never parsed
    std::optional<std::uint8_t> importance;
    std::optional<double> confidence;
    std::optional<std::string> superseded_by;
    std::optional<PinStatus> pin_status;
    std::optional<MemoryMetadataV1> metadata;
};

// ---- reading, validation, writing ------------------------------------------------

// Strictly reads one v1 claim from a parsed value. Required: id, text,
// type, source, created_at. Defaulted members (schema_version, scope,
// volatility, entities, and the metadata lists) must have their JSON type
// when present (null refused); plain optional members (reasoning,
// expires_at, importance 0..255, confidence, superseded_by, pin_status,
// metadata, the metadata texts, an entity's role) take null as absent.
// Tokens are exact. Unknown keys are ignored; a repeated key is an error.
// The error is the bare description; the schema version is not checked.
json::Read<MemoryClaimV1> read_memory_claim_v1(json::Element e);

// Strict parse of JSON text without the schema-version check.
// Error: Parse "invalid v1 claim: {description}".
Result<MemoryClaimV1> parse_memory_claim_v1(std::string_view text);

// parse_memory_claim_v1, then the schema check. Errors: Parse
// "invalid v1 claim: {description}"; Parse "unsupported schema_version {v}:
// only 1.0 is supported".
Result<MemoryClaimV1> validate_memory_claim_v1(std::string_view claim_json);

// Canonical writing: members in declared order, each left out by its rule
// (schema_version "1.0", scope "unspecified", volatility "updatable", empty
// entities, absent optionals, metadata with nothing in it).
void write_memory_claim_v1(json::Writer& w, const MemoryClaimV1& claim);
std::expected<std::string, std::string> to_json(const MemoryClaimV1& claim);

// ---- type names and categories ----------------------------------------------------

// v1 type token -> short category token, in the mapping's order. The first
// row maps to "claim", which is not a compact ClaimCategory token: the map
// is data, not a conversion between the formats.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 6> type_to_category = {{
    {"claim", "claim"},
    {"preference", "pref"},
    {"directive", "rule"},
    {"commitment", "goal"},
    {"episode", "epi"},
    {"summary", "sum"},
}};

// The six type tokens in declaration order.
std::vector<std::string> valid_memory_types();
// Exact, case-sensitive membership (no trimming).
bool is_valid_memory_type(std::string_view value);
// The category of an exact type token; nullopt for any other text.
std::optional<std::string_view> map_type_to_category(std::string_view value);

}  // namespace kc::claims
