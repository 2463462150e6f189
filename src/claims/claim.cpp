#include "claims/claim.hpp"

#include "crypto/primitives.hpp"
#include "frame/text.hpp"
#include "frame/unicode.hpp"

namespace kc::claims {

using simdjson::dom::element_type;

json::Read<std::size_t> read_token(json::Element e, std::string_view what,
                                   std::span<const std::string_view> tokens) {
    auto s = json::as_string(e, what);
    if (!s) return std::unexpected(std::move(s.error()));
    for (std::size_t k = 0; k < tokens.size(); ++k)
        if (tokens[k] == *s) return k;
    std::string msg = cat("invalid value for `", what, "`: unknown token `", *s, "`, expected one of ");
    for (std::size_t k = 0; k < tokens.size(); ++k) msg += cat(k ? ", `" : "`", tokens[k], "`");
    return json::read_error(std::move(msg));
}

std::string lossy_token_text(std::string_view s) {
    std::string out(trim_white_space(s));
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return out;
}

namespace {

// Keys in canonical order; also the positions of the array form.
constexpr std::array<std::string_view, 13> claim_keys = {"t",  "c",  "cf", "i",   "cc",  "sa", "sc",
                                                         "ea", "e",  "sup", "sby", "vf", "st"};
enum Key : std::size_t { T, C, CF, I, CC, SA, SC, EA, E, SUP, SBY, VF, ST };

using Fields = std::array<std::optional<json::Element>, claim_keys.size()>;

json::Read<Fields> collect_fields(json::Element e) {
    Fields f;
    if (e.type() == element_type::ARRAY) {
        json::Array a = e.get_array().value_unsafe();
        std::size_t n = a.size();
        if (n > claim_keys.size())
            return json::read_error(
                cat("too many elements in claim array: expected at most ", claim_keys.size(), ", found ", n));
        std::size_t k = 0;
        for (json::Element v : a) f[k++] = v;
        return f;
    }
    auto m = json::Members::collect(
        e, {"t", "c", "cf", "i", "cc", "sa", "sc", "ea", "e", "sup", "sby", "vf", "st"}, json::Unknown::Ignore,
        "claim");
    if (!m) return std::unexpected(std::move(m.error()));
    for (std::size_t k = 0; k < claim_keys.size(); ++k) f[k] = m->find(claim_keys[k]);
    return f;
}

json::Read<json::Element> required(const Fields& f, Key k) {
    if (!f[k]) return json::read_error(cat("missing field `", claim_keys[k], "`"));
    return *f[k];
}

// Optional free text: absent or null is none.
json::Read<std::optional<std::string>> optional_text(const std::optional<json::Element>& v, std::string_view what) {
    if (!v || v->is_null()) return std::optional<std::string>();
    auto s = json::as_string(*v, what);
    if (!s) return std::unexpected(std::move(s.error()));
    return std::optional<std::string>(std::string(*s));
}

json::Read<EntityRef> read_entity(json::Element e) {
    auto m = json::Members::collect(e, {"n", "tp", "r"}, json::Unknown::Ignore, "entity");
    if (!m) return std::unexpected(std::move(m.error()));
    EntityRef ref;
    auto n = m->str("n");
    if (!n) return std::unexpected(std::move(n.error()));
    ref.n = std::string(*n);
    auto tp_elem = m->require("tp");
    if (!tp_elem) return std::unexpected(std::move(tp_elem.error()));
    auto tp = read_token(*tp_elem, "tp", entity_type_tokens);
    if (!tp) return std::unexpected(std::move(tp.error()));
    ref.tp = static_cast<EntityType>(*tp);
    auto r = optional_text(m->find("r"), "r");
    if (!r) return std::unexpected(std::move(r.error()));
    ref.r = std::move(*r);
    return ref;
}

#define KC_TRY(var, expr)                                      \
    auto var = (expr);                                         \
    if (!var) return std::unexpected(std::move(var.error()))

json::Read<Claim> read_fields(const Fields& f) {
    Claim claim;
    KC_TRY(t_elem, required(f, T));
    KC_TRY(t, json::as_string(*t_elem, "t"));
    claim.t = std::string(*t);

    KC_TRY(c_elem, required(f, C));
    KC_TRY(c, read_token(*c_elem, "c", claim_category_tokens));
    claim.c = static_cast<ClaimCategory>(*c);

    KC_TRY(cf_elem, required(f, CF));
    KC_TRY(cf, json::as_f64(*cf_elem, "cf"));
    claim.cf = *cf;

    KC_TRY(i_elem, required(f, I));
    KC_TRY(i, json::as_u64(*i_elem, "i"));
    if (*i > 255) return json::read_error(cat("invalid value for `i`: integer ", *i, " is out of range 0..255"));
    claim.i = static_cast<std::uint8_t>(*i);

    if (f[CC]) {
        KC_TRY(cc, json::as_u32(*f[CC], "cc"));
        claim.cc = *cc;
    }

    KC_TRY(sa_elem, required(f, SA));
    KC_TRY(sa, json::as_string(*sa_elem, "sa"));
    claim.sa = std::string(*sa);

    KC_TRY(sc, optional_text(f[SC], "sc"));
    claim.sc = std::move(*sc);
    KC_TRY(ea, optional_text(f[EA], "ea"));
    claim.ea = std::move(*ea);

    if (f[E]) {
        KC_TRY(list, json::as_array(*f[E], "e"));
        std::size_t k = 0;
        for (json::Element item : *list) {
            auto ref = read_entity(item);
            if (!ref) return json::read_error(cat("in `e` element ", k, ": ", ref.error()));
            claim.e.push_back(std::move(*ref));
            ++k;
        }
    }

    KC_TRY(sup, optional_text(f[SUP], "sup"));
    claim.sup = std::move(*sup);
    KC_TRY(sby, optional_text(f[SBY], "sby"));
    claim.sby = std::move(*sby);
    KC_TRY(vf, optional_text(f[VF], "vf"));
    claim.vf = std::move(*vf);

    if (f[ST]) {
        KC_TRY(st, read_token(*f[ST], "st", claim_status_tokens));
        claim.st = static_cast<ClaimStatus>(*st);
    }
    return claim;
}

#undef KC_TRY

Claim fallback_claim(std::string text, std::string source_agent = "unknown") {
    Claim c;
    c.t = std::move(text);
    c.c = ClaimCategory::Fact;
    c.cf = 0.7;
    c.i = 5;
    c.cc = 1;
    c.sa = std::move(source_agent);
    c.st = ClaimStatus::Active;
    return c;
}

// The value of a key in an object; a repeated key keeps its last value,
// as for every free JSON object.
std::optional<json::Element> find_last(json::Element obj, std::string_view key) {
    if (obj.type() != element_type::OBJECT) return std::nullopt;
    json::Object members = obj.get_object().value_unsafe();
    std::optional<json::Element> found;
    for (auto field : members)
        if (field.key == key) found = field.value;
    return found;
}

void write_optional_text(json::Writer& w, std::string_view key, const std::optional<std::string>& v) {
    if (v) w.key(key).string(*v);
}

}  // namespace

json::Read<Claim> read_claim(json::Element e) {
    auto fields = collect_fields(e);
    if (!fields) return std::unexpected(std::move(fields.error()));
    return read_fields(*fields);
}

Result<Claim> parse_claim(std::string_view text) {
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return fail(Error::parse(cat("invalid claim JSON: ", root.error())));
    auto claim = read_claim(*root);
    if (!claim) return fail(Error::parse(cat("invalid claim JSON: ", claim.error())));
    return std::move(*claim);
}

Claim parse_claim_or_legacy(std::string_view decrypted) {
    json::Document doc;
    auto root = doc.parse(decrypted);
    if (!root) return fallback_claim(std::string(decrypted));
    if (auto claim = read_claim(*root)) return std::move(*claim);

    switch (root->type()) {
        case element_type::STRING:
            return fallback_claim(std::string(root->get_string().value_unsafe()));
        case element_type::OBJECT: {
            // A key that exists is taken even when its value is unusable;
            // only an absent key passes over to the next one.
            auto text_value = find_last(*root, "t");
            if (!text_value) text_value = find_last(*root, "text");
            std::optional<std::string_view> text;
            if (text_value) text = json::string_of(*text_value);

            auto source_value = find_last(*root, "a");
            if (!source_value) {
                if (auto meta = find_last(*root, "metadata")) source_value = find_last(*meta, "source");
            }
            std::optional<std::string_view> source;
            if (source_value) source = json::string_of(*source_value);

            return fallback_claim(std::string(text ? *text : decrypted), std::string(source.value_or("unknown")));
        }
        default: return fallback_claim(std::string(decrypted));
    }
}

void write_claim(json::Writer& w, const Claim& claim) {
    w.begin_object();
    w.key("t").string(claim.t);
    w.key("c").string(to_token(claim.c));
    w.key("cf").number(claim.cf);
    w.key("i").unsigned_integer(claim.i);
    if (claim.cc != 1) w.key("cc").unsigned_integer(claim.cc);
    w.key("sa").string(claim.sa);
    write_optional_text(w, "sc", claim.sc);
    write_optional_text(w, "ea", claim.ea);
    if (!claim.e.empty()) {
        w.key("e").begin_array();
        for (const EntityRef& ref : claim.e) {
            w.begin_object().key("n").string(ref.n).key("tp").string(to_token(ref.tp));
            write_optional_text(w, "r", ref.r);
            w.end_object();
        }
        w.end_array();
    }
    write_optional_text(w, "sup", claim.sup);
    write_optional_text(w, "sby", claim.sby);
    write_optional_text(w, "vf", claim.vf);
    if (claim.st != ClaimStatus::Active) w.key("st").string(to_token(claim.st));
    w.end_object();
}

std::expected<std::string, std::string> to_json(const Claim& claim) {
    json::Writer w;
    write_claim(w, claim);
    return std::move(w).finish();
}

std::string normalize_entity_name(std::string_view name) {
    // 1. One space for every run of white space, none at the ends.
    std::string collapsed;
    collapsed.reserve(name.size());
    bool pending_space = false;
    for (std::size_t pos = 0; pos < name.size();) {
        std::size_t start = pos;
        char32_t ch = next_char(name, pos);
        if (pos > name.size()) pos = name.size();  // a cut-off sequence at the end
        if (is_white_space(ch)) {
            pending_space = !collapsed.empty();
            continue;
        }
        if (pending_space) collapsed.push_back(' ');
        pending_space = false;
        collapsed.append(name.substr(start, pos - start));
    }

    // 2. Lower-case each character on its own. The only context-dependent
    // mapping of the default (root) lower-casing is the final sigma, so the
    // text is lowered piecewise around every capital sigma, which always
    // becomes σ.
    constexpr std::string_view capital_sigma = "\u03A3";
    constexpr std::string_view small_sigma = "\u03C3";
    std::string lowered;
    lowered.reserve(collapsed.size());
    std::string_view rest = collapsed;
    for (;;) {
        std::size_t at = rest.find(capital_sigma);
        lowered += to_lower(rest.substr(0, at));
        if (at == std::string_view::npos) break;
        lowered += small_sigma;
        rest.remove_prefix(at + capital_sigma.size());
    }

    // 3. Composed normal form.
    return nfc(lowered);
}

std::string deterministic_entity_id(std::string_view name) {
    std::string normalised = normalize_entity_name(name);
    auto digest = crypto::sha256(as_bytes(normalised));
    return to_hex(ByteView(digest.data(), 8));
}

}  // namespace kc::claims
