// Compact claims, entity names and the claim pin test; the contradiction,
// digest, decision-log and feedback entries of this family sit between
// them in registration order.
#include "claims/claim.hpp"
#include "claims/pins.hpp"
#include "families.hpp"

namespace kc::py {
namespace {

PyObject* normalize_entity_name(std::string_view name) { return to_py(claims::normalize_entity_name(name)); }

PyObject* deterministic_entity_id(std::string_view name) { return to_py(claims::deterministic_entity_id(name)); }

PyObject* parse_claim_or_legacy(std::string_view decrypted) {
    return ret_json(claims::to_json(claims::parse_claim_or_legacy(decrypted)));
}

PyObject* canonicalize_claim(std::string_view claim_json) {
    return ret_json(claims::parse_claim(claim_json), [](const claims::Claim& c) { return claims::to_json(c); });
}

PyObject* is_pinned_claim(std::string_view claim_json) { return to_py(claims::is_pinned_claim_json(claim_json)); }

}  // namespace

std::vector<PyMethodDef> kg_functions() {
    return {
        def<"normalize_entity_name(name)", normalize_entity_name>(
            "Canonical form of an entity name: white space collapsed and trimmed, lower-cased, NFC."),
        def<"deterministic_entity_id(name)", deterministic_entity_id>(
            "16 hex characters of SHA-256 over the normalised entity name."),
        def<"parse_claim_or_legacy(decrypted)", parse_claim_or_legacy>(
            "Read a decrypted claim blob of any vintage (compact claim, older JSON, plain text) and return the "
            "canonical JSON of the resulting claim. Never raises."),
        def<"canonicalize_claim(claim_json)", canonicalize_claim>(
            "Strictly parse a compact claim and return its canonical JSON, the form every client stores."),

        // build_template_digest … feedback_to_counterexample join here, in
        // registration order, before is_pinned_claim.

        def<"is_pinned_claim(claim_json)", is_pinned_claim>(
            "Whether a v1 or compact claim is pinned; unreadable text is not pinned."),

        // respect_pin_in_resolution … filter_shadow_mode follow here.
    };
}

}  // namespace kc::py
