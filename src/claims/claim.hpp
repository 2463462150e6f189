// The compact claim: one unit of knowledge about the user, stored encrypted
// with one- to three-letter keys. Every client must write byte-identical
// JSON for the same claim, so the canonical writer is part of the record.
//
// Two JSON forms are read strictly:
//   - the object form {"t":…,"c":…,"cf":…,"i":…,"sa":…, …} that every client
//     writes;
//   - a positional array form that no client writes but readers accept:
//       [t, c, cf, i, cc, sa, sc, ea, e, sup, sby, vf, st]
//     The first six positions (t through sa) must be present, so `cc` is
//     always given there. Positions 7 to 13 may be left off the end and then
//     take their defaults. Each position follows the same value rules as the
//     member of that name (null only where the object form allows it). More
//     than thirteen elements is an error ("too many elements …"): surplus
//     positions have no meaning and most likely come from another layout.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/error.hpp"
#include "frame/json_reader.hpp"
#include "frame/json_writer.hpp"

namespace kc::claims {

// ---- enumerations (declaration order is part of the contract) -------------

enum class ClaimCategory : std::uint8_t { Fact, Pref, Dec, Epi, Goal, Ctx, Sum, Rule, Ent, Dig };
inline constexpr std::array<std::string_view, 10> claim_category_tokens = {
    "fact", "pref", "dec", "epi", "goal", "ctx", "sum", "rule", "ent", "dig"};

// `Active` ("a") is the default and never written; `Pinned` ("p") marks a
// claim the user pinned. "s", "r" and "c" carry no behaviour here and are
// named after their tokens.
enum class ClaimStatus : std::uint8_t { Active, S, R, C, Pinned };
inline constexpr std::array<std::string_view, 5> claim_status_tokens = {"a", "s", "r", "c", "p"};

enum class EntityType : std::uint8_t { Person, Project, Tool, Company, Concept, Place };
inline constexpr std::array<std::string_view, 6> entity_type_tokens = {"person",  "project", "tool",
                                                                       "company", "concept", "place"};

inline std::string_view to_token(ClaimCategory v) { return claim_category_tokens[static_cast<std::size_t>(v)]; }
inline std::string_view to_token(ClaimStatus v) { return claim_status_tokens[static_cast<std::size_t>(v)]; }
inline std::string_view to_token(EntityType v) { return entity_type_tokens[static_cast<std::size_t>(v)]; }

// Strict token reading shared by the claim families: `e` must be a string
// equal (case-sensitively) to one of `tokens`; the result is its index.
// Errors: "invalid type for `what`: …" for a non-string,
// "invalid value for `what`: unknown token `x`, expected one of `a`, `b`, …".
json::Read<std::size_t> read_token(json::Element e, std::string_view what,
                                   std::span<const std::string_view> tokens);

// The text a lossy token parser compares: leading and trailing Unicode
// white space removed, ASCII A-Z lower-cased, everything else kept.
std::string lossy_token_text(std::string_view s);

// ---- records -----------------------------------------------------------------

struct EntityRef {
    std::string n;                 // name as extracted (not normalised)
    EntityType tp = EntityType::Person;
    std::optional<std::string> r;  // role, free text
};

struct Claim {
    std::string t;  // text
    ClaimCategory c = ClaimCategory::Fact;
    double cf = 0;                  // confidence, any number
    std::uint8_t i = 0;             // importance 0..255
    std::uint32_t cc = 1;           // corroboration count
    std::string sa;                 // source agent
    std::optional<std::string> sc;  // carried unchanged
    std::optional<std::string> ea;  // extraction time, RFC 3339 text (not parsed here)
    std::vector<EntityRef> e;
    std::optional<std::string> sup;  // carried unchanged
    std::optional<std::string> sby;  // carried unchanged
    std::optional<std::string> vf;   // carried unchanged
    ClaimStatus st = ClaimStatus::Active;
};

// ---- strict reading ------------------------------------------------------------

// Reads one claim from a parsed JSON value (object or positional array
// form, see the top of this file). Required keys t, c, cf, i, sa; cf is any
// number; i an integer 0..255; cc an integer 0..4294967295; null means
// absent only for sc, ea, sup, sby, vf and an entity's r; unknown keys are
// ignored; a repeated key is an error. The error is the bare description
// ("missing field `sa`", "duplicate field `t`", "invalid value for `c`: …",
// "in `e` element 2: missing field `tp`", …); callers add their own prefix.
json::Read<Claim> read_claim(json::Element e);

// Strictly parses one claim from JSON text (nothing but white space may
// follow it). Error: Parse "invalid claim JSON: {description}".
Result<Claim> parse_claim(std::string_view text);

// Tolerant reading of a decrypted blob of any vintage; never fails:
//   1. a strictly valid claim is returned as is;
//   2. text that is not JSON becomes the text of a fallback claim;
//   3. a JSON string gives a fallback claim with the string's content;
//   4. a JSON object gives a fallback claim with the string under "t"
//      (else "text"; a present non-string value means the whole input),
//      and source agent "a" (else metadata.source) when that is a string;
//   5. any other JSON value gives a fallback claim with the whole input.
// Fallback claims: c fact, cf 0.7, i 5, cc 1, st a, sa "unknown" unless
// step 4 found one, nothing else.
Claim parse_claim_or_legacy(std::string_view decrypted);

// ---- canonical writing ------------------------------------------------------------

// Writes the claim as one compact object in key order t, c, cf, i, cc, sa,
// sc, ea, e, sup, sby, vf, st, leaving out cc when 1, absent texts, an
// empty e and st "a"; each entity as n, tp, then r when present.
void write_claim(json::Writer& w, const Claim& claim);

// The canonical JSON text of a claim. Fails only when a text is not valid
// UTF-8 (the writer's reason).
std::expected<std::string, std::string> to_json(const Claim& claim);

// ---- entity names -----------------------------------------------------------------

// Collapses every run of Unicode White_Space to one space and trims both
// ends, lower-cases each character by its own full lower-case mapping (no
// context rules: a capital sigma is always σ), then applies NFC. Input must
// be valid UTF-8. Never fails.
std::string normalize_entity_name(std::string_view name);

// The first 8 bytes of SHA-256 over the normalised name, as 16 lower-case
// hexadecimal characters. Never fails.
std::string deterministic_entity_id(std::string_view name);

}  // namespace kc::claims
