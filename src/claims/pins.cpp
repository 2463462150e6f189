#include "claims/pins.hpp"

#include <cmath>
#include <limits>

#include "claims/claim.hpp"
#include "claims/memory_v1.hpp"
#include "frame/json_writer.hpp"
#include "frame/text.hpp"

namespace kc::claims {

PinStatus parse_pin_status_lossy(std::string_view s) {
    return lossy_token_text(s) == "pinned" ? PinStatus::Pinned : PinStatus::Unpinned;
}

bool is_pinned_claim(json::Element claim) {
    // A valid v1 claim is judged by pin_status alone, even when the same
    // text would also read as a compact claim.
    if (auto v1 = read_memory_claim_v1(claim)) return v1->pin_status == PinStatus::Pinned;
    if (auto compact = read_claim(claim)) return compact->st == ClaimStatus::Pinned;
    return false;
}

bool is_pinned_claim_json(std::string_view claim_json) {
    json::Document doc;
    auto root = doc.parse(claim_json);
    return root && is_pinned_claim(*root);
}

Result<PinTier> parse_pin_tier(std::string_view tier_json) {
    auto bad = [](const std::string& why) { return fail(Error::parse(cat("invalid PinTier json: ", why))); };
    json::Document doc;
    auto root = doc.parse(tier_json);
    if (!root) return bad(root.error());
    auto m = json::Members::collect(*root, {"tier", "pinned_at"}, json::Unknown::Ignore, "PinTier");
    if (!m) return bad(m.error());
    auto tag = m->require("tier");
    if (!tag) return bad(tag.error());
    auto kind = read_token(*tag, "tier", pin_tier_tokens);
    if (!kind) return bad(kind.error());
    PinTier tier;
    tier.kind = static_cast<PinTier::Kind>(*kind);
    if (tier.kind == PinTier::Kind::Soft) {
        auto at = m->i64("pinned_at");
        if (!at) return bad(at.error());
        tier.pinned_at = *at;
    }
    return tier;
}

Result<PinConfig> parse_pin_config(std::string_view config_json) {
    auto bad = [](const std::string& why) { return fail(Error::parse(cat("invalid PinConfig json: ", why))); };
    json::Document doc;
    auto root = doc.parse(config_json);
    if (!root) return bad(root.error());
    auto m = json::Members::collect(*root, {"soft_half_life_days", "soft_max_boost", "hard_boost"},
                                    json::Unknown::Ignore, "PinConfig");
    if (!m) return bad(m.error());
    PinConfig config;
    auto half_life = m->u32("soft_half_life_days");
    if (!half_life) return bad(half_life.error());
    config.soft_half_life_days = *half_life;
    auto soft = m->f64("soft_max_boost");
    if (!soft) return bad(soft.error());
    config.soft_max_boost = *soft;
    auto hard = m->f64("hard_boost");
    if (!hard) return bad(hard.error());
    config.hard_boost = *hard;
    return config;
}

PinConfig default_pin_config() { return PinConfig{}; }

std::expected<std::string, std::string> to_json(const PinConfig& config) {
    json::Writer w;
    w.begin_object()
        .key("soft_half_life_days")
        .unsigned_integer(config.soft_half_life_days)
        .key("soft_max_boost")
        .number(config.soft_max_boost)
        .key("hard_boost")
        .number(config.hard_boost)
        .end_object();
    return std::move(w).finish();
}

namespace {

// a - b, clamped to the int64 range instead of wrapping.
std::int64_t saturating_sub(std::int64_t a, std::int64_t b) {
    std::int64_t out = 0;
    if (!__builtin_sub_overflow(a, b, &out)) return out;
    // Overflow happens only when the operands have opposite signs; the true
    // result then has the sign of `a`.
    return a < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
}

}  // namespace

double pin_boost(const PinTier& tier, std::int64_t now_unix, const PinConfig& config) {
    switch (tier.kind) {
        case PinTier::Kind::None: return 1.0;
        case PinTier::Kind::Hard: return config.hard_boost;
        case PinTier::Kind::Soft: break;
    }
    const double age_days = static_cast<double>(saturating_sub(now_unix, tier.pinned_at)) / 86400.0;
    if (!(age_days > 0.0) || config.soft_half_life_days == 0) return config.soft_max_boost;
    const double x = (age_days * -0.6931471805599453) / static_cast<double>(config.soft_half_life_days);
    return 1.0 + (config.soft_max_boost - 1.0) * std::exp(x);
}

}  // namespace kc::claims
