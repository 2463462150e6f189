#include "crypto/bundle.hpp"

#include <algorithm>

#include "crypto/ec.hpp"
#include "crypto/primitives.hpp"
#include "crypto/wallet.hpp"
#include "frame/clock.hpp"
#include "frame/json_reader.hpp"
#include "frame/json_writer.hpp"

namespace kc::crypto {
namespace {

constexpr std::uint32_t kBundleVersion = 2;
constexpr std::string_view kBundleSchema = "derived-bundle-v1";
constexpr std::string_view kOwnerEoaTag = "owner-eoa";
constexpr std::string_view kSessionKeyTag = "session-key";

bool is_hex_digit(char c) { return hex_value(c) >= 0; }

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view signing_kind_tag(SigningKind kind) {
    return kind == SigningKind::OwnerEoa ? kOwnerEoaTag : kSessionKeyTag;
}

Result<std::string> to_eip55_checksum(std::string_view address) {
    std::string_view digits = address.starts_with("0x") ? address.substr(2) : address;
    if (digits.size() != 40 || !std::all_of(digits.begin(), digits.end(), is_hex_digit))
        return fail(Error::invalid_input(cat("not a valid 20-byte hex address: ", address)));
    std::string lower(digits);
    std::transform(lower.begin(), lower.end(), lower.begin(), ascii_lower);
    std::string hash = to_hex(keccak256(as_bytes(lower)));
    std::string out = "0x";
    for (std::size_t i = 0; i < 40; ++i) {
        char c = lower[i];
        if (c >= 'a' && hex_value(hash[i]) >= 8) c = static_cast<char>(c - 'a' + 'A');
        out.push_back(c);
    }
    return out;
}

Result<Unit> require_valid_address(std::string_view value, std::string_view field) {
    if (!value.starts_with("0x"))
        return fail(Error::invalid_input(cat(field, " must be 0x-prefixed, got ", quote_escaped(value))));
    std::string_view digits = value.substr(2);
    if (value.size() != 42 || !std::all_of(digits.begin(), digits.end(), is_hex_digit))
        return fail(
            Error::invalid_input(cat(field, " is not a valid 20-byte hex address: ", quote_escaped(value))));
    return Unit{};
}

Result<Unit> require_eip55_checksum(std::string_view value, std::string_view field) {
    auto checksummed = to_eip55_checksum(value);
    if (!checksummed) return fail(checksummed.error());
    if (*checksummed != value)
        return fail(Error::invalid_input(cat(field, " is not EIP-55 checksummed (expected ", *checksummed, ", got ",
                                             value,
                                             ") — load-bearing for cross-client byte-equality parity, see "
                                             "derived-bundle-v1.md §4.1")));
    return Unit{};
}

Result<Unit> require_bounded_provisioned_by(std::string_view slug) {
    bool ok = !slug.empty() && slug.size() <= 32 && std::all_of(slug.begin(), slug.end(), [](char c) {
        return c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
    });
    if (!ok)
        return fail(Error::invalid_input(
            cat("provisioned_by must match ^[a-z0-9-]{1,32}$ (a short lowercase slug — \"spa\" | "
                "\"local-migration\" | \"external\" today, others may be added later), got ",
                quote_escaped(slug))));
    return Unit{};
}

bool addresses_equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

Result<Key32> parse_hex32(std::string_view text) {
    // Counted in characters, as the message says; text that is not
    // well-formed UTF-8 is counted in bytes instead of being walked.
    bool utf8 = !validate_utf8(as_bytes(text)).has_value();
    std::size_t count = utf8 ? char_count(text) : text.size();
    if (count != 64) return fail(Error::parse(cat("expected exactly 64 lowercase hex chars, got ", count, " chars")));
    const auto not_hex = [] { return fail(Error::parse("key material must be lowercase hex with no 0x prefix")); };
    if (text.size() != 64) return not_hex();  // 64 characters, some of them not ASCII
    Key32 out{};
    for (std::size_t i = 0; i < 32; ++i) {
        char hi = text[2 * i], lo = text[2 * i + 1];
        auto lower_hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
        if (!lower_hex(hi) || !lower_hex(lo)) return not_hex();
        out[i] = static_cast<std::uint8_t>(hex_value(hi) << 4 | hex_value(lo));
    }
    return out;
}

// ---- writing ------------------------------------------------------------------

Result<std::string> bundle_to_json(const DerivedBundleV1& b) {
    json::Writer w;
    w.begin_object();
    w.key("version").unsigned_integer(kBundleVersion);
    w.key("schema").string(kBundleSchema);
    w.key("vault").begin_object();
    w.key("encryption_key").string(to_hex(b.vault.encryption_key));
    w.key("dedup_key").string(to_hex(b.vault.dedup_key));
    w.key("auth_key").string(to_hex(b.vault.auth_key));
    w.key("lsh_seed").string(to_hex(b.vault.lsh_seed));
    w.end_object();
    w.key("signing").begin_object();
    w.key("kind").string(signing_kind_tag(b.signing.kind));
    w.key("private_key").string(to_hex(b.signing.private_key));
    w.key("address").string(b.signing.address);
    if (b.signing.kind == SigningKind::SessionKey) {
        w.key("grant");
        if (b.signing.grant)
            json::write_value(w, *b.signing.grant);
        else
            w.null();
    }
    w.end_object();
    w.key("account").begin_object();
    w.key("smart_account").string(b.account.smart_account);
    w.key("chain_id").unsigned_integer(b.account.chain_id);
    w.end_object();
    w.key("provisioned_at").string(b.provisioned_at);
    w.key("provisioned_by").string(b.provisioned_by);
    w.end_object();
    auto text = std::move(w).finish();
    if (!text) return fail(Error::parse(cat("bundle serialisation failed: ", text.error())));
    return std::move(*text);
}

// ---- reading ------------------------------------------------------------------

namespace {

// The wire record as read, before the semantic checks.
struct BundleWire {
    std::uint32_t version = 0;
    std::string schema;
    DerivedBundleV1 bundle;
};

// Reader errors carry where they happened, as a member path.
std::unexpected<std::string> at(std::string message, std::string_view path) {
    if (path.empty()) return std::unexpected(std::move(message));
    return std::unexpected(cat(message, " (at `", path, "`)"));
}

template <class T>
bool take(json::Read<T>&& r, T& out, std::string& error, std::string_view path) {
    if (!r) {
        error = at(std::move(r.error()), path).error();
        return false;
    }
    out = std::move(*r);
    return true;
}

json::Read<Key32> read_hex32(const json::Members& m, std::string_view name, std::string_view parent) {
    std::string path = cat(parent, ".", name);
    auto text = m.str(name);
    if (!text) return at(std::move(text.error()), parent);
    auto key = parse_hex32(*text);
    if (!key) return at(std::move(key.error().message), path);
    return *key;
}

json::Read<json::Members> members(json::Element e, std::initializer_list<std::string_view> names,
                                  std::string_view path) {
    std::string_view what = path.empty() ? "bundle" : path;
    if (auto obj = json::as_object(e, what); !obj) return std::unexpected(std::move(obj.error()));
    auto m = json::Members::collect(e, names, json::Unknown::Refuse, what);
    if (!m) return at(std::move(m.error()), path);
    return std::move(*m);
}

json::Read<BundleWire> read_wire(std::string_view text) {
    json::Document doc;
    auto root = doc.parse(text);
    if (!root) return std::unexpected(std::move(root.error()));
    auto top = members(*root, {"version", "schema", "vault", "signing", "account", "provisioned_at", "provisioned_by"},
                       "");
    if (!top) return std::unexpected(std::move(top.error()));

    BundleWire wire;
    DerivedBundleV1& b = wire.bundle;
    std::string error;
    auto bad = [&]() { return std::unexpected(std::move(error)); };

    if (!take(top->u32("version"), wire.version, error, "")) return bad();
    std::string_view schema;
    if (!take(top->str("schema"), schema, error, "")) return bad();
    wire.schema = schema;

    // vault
    auto vault_el = top->require("vault");
    if (!vault_el) return std::unexpected(std::move(vault_el.error()));
    auto vault = members(*vault_el, {"encryption_key", "dedup_key", "auth_key", "lsh_seed"}, "vault");
    if (!vault) return std::unexpected(std::move(vault.error()));
    if (!take(read_hex32(*vault, "encryption_key", "vault"), b.vault.encryption_key, error, "")) return bad();
    if (!take(read_hex32(*vault, "dedup_key", "vault"), b.vault.dedup_key, error, "")) return bad();
    if (!take(read_hex32(*vault, "auth_key", "vault"), b.vault.auth_key, error, "")) return bad();
    if (!take(read_hex32(*vault, "lsh_seed", "vault"), b.vault.lsh_seed, error, "")) return bad();

    // signing, tagged by "kind"
    auto signing_el = top->require("signing");
    if (!signing_el) return std::unexpected(std::move(signing_el.error()));
    auto signing = members(*signing_el, {"kind", "private_key", "address", "grant"}, "signing");
    if (!signing) return std::unexpected(std::move(signing.error()));
    std::string_view kind;
    if (!take(signing->str("kind"), kind, error, "signing")) return bad();
    if (kind == kOwnerEoaTag) {
        b.signing.kind = SigningKind::OwnerEoa;
    } else if (kind == kSessionKeyTag) {
        b.signing.kind = SigningKind::SessionKey;
    } else {
        return at(cat("unknown variant `", kind, "`, expected `owner-eoa` or `session-key`"),
                  "signing.kind");
    }
    if (!take(read_hex32(*signing, "private_key", "signing"), b.signing.private_key, error, "")) return bad();
    std::string_view address;
    if (!take(signing->str("address"), address, error, "signing")) return bad();
    b.signing.address = address;
    auto grant = signing->find("grant");
    if (b.signing.kind == SigningKind::OwnerEoa) {
        if (grant) return at("unknown field `grant`", "signing");
    } else {
        if (!grant) return at("missing field `grant`", "signing");
        b.signing.grant = json::to_value(*grant);
    }

    // account
    auto account_el = top->require("account");
    if (!account_el) return std::unexpected(std::move(account_el.error()));
    auto account = members(*account_el, {"smart_account", "chain_id"}, "account");
    if (!account) return std::unexpected(std::move(account.error()));
    std::string_view smart_account;
    if (!take(account->str("smart_account"), smart_account, error, "account")) return bad();
    b.account.smart_account = smart_account;
    if (!take(account->u64("chain_id"), b.account.chain_id, error, "account")) return bad();

    std::string_view provisioned_at, provisioned_by;
    if (!take(top->str("provisioned_at"), provisioned_at, error, "")) return bad();
    if (!take(top->str("provisioned_by"), provisioned_by, error, "")) return bad();
    b.provisioned_at = provisioned_at;
    b.provisioned_by = provisioned_by;
    return wire;
}

Result<Unit> check_grant(const DerivedBundleV1& b) {
    const json::Value& grant = *b.signing.grant;
    const json::Value* account = grant.get("account");
    if (!account || account->kind != json::Value::Kind::String)
        return fail(Error::invalid_input("session-key grant is missing required field \"account\""));
    if (!addresses_equal_ignoring_case(account->string, b.account.smart_account))
        return fail(Error::invalid_input(cat("session-key grant.account (", account->string,
                                             ") does not match account.smart_account (", b.account.smart_account,
                                             ")")));
    const json::Value* signer = grant.get("signer");
    if (!signer || signer->kind != json::Value::Kind::String)
        return fail(Error::invalid_input("session-key grant is missing required field \"signer\""));
    if (!addresses_equal_ignoring_case(signer->string, b.signing.address))
        return fail(Error::invalid_input(cat("session-key grant.signer (", signer->string,
                                             ") does not match signing.address (", b.signing.address, ")")));
    const json::Value* domain = grant.get("domain");
    const json::Value* chain_id = domain ? domain->get("chainId") : nullptr;
    // Only a non-negative JSON integer counts; "84532" or 84532.0 do not.
    if (!chain_id || chain_id->kind != json::Value::Kind::UInt)
        return fail(Error::invalid_input("session-key grant is missing required field \"domain.chainId\""));
    if (chain_id->uint_value != b.account.chain_id)
        return fail(Error::invalid_input(cat("session-key grant.domain.chainId (", chain_id->uint_value,
                                             ") does not match account.chain_id (", b.account.chain_id, ")")));
    return Unit{};
}

}  // namespace

Result<DerivedBundleV1> parse_bundle_v1(std::string_view json_text) {
    auto wire = read_wire(json_text);
    if (!wire) return fail(Error::parse(cat("malformed bundle JSON: ", wire.error())));
    if (wire->version != kBundleVersion)
        return fail(Error::parse(cat("unsupported bundle version ", wire->version, " (expected ", kBundleVersion,
                                     ") — refusing to guess, never a silent downgrade")));
    if (wire->schema != kBundleSchema)
        return fail(Error::parse(cat("unsupported bundle schema ", quote_escaped(wire->schema), " (expected ",
                                     quote_escaped(kBundleSchema), ")")));
    DerivedBundleV1& b = wire->bundle;

    auto derived = ec::address_of_secret(b.signing.private_key);
    if (!derived) return fail(Error::crypto(cat("invalid private key: ", derived.error())));
    auto derived_checksummed = to_eip55_checksum(*derived);
    if (!derived_checksummed) return fail(derived_checksummed.error());
    if (!addresses_equal_ignoring_case(*derived_checksummed, b.signing.address))
        return fail(Error::invalid_input(cat("signing.address ", b.signing.address,
                                             " does not match the address derived from signing.private_key (",
                                             *derived_checksummed, ") — corrupt or tampered provisioning payload")));

    if (auto r = require_valid_address(b.account.smart_account, "account.smart_account"); !r) return fail(r.error());
    if (auto r = require_valid_address(b.signing.address, "signing.address"); !r) return fail(r.error());
    if (auto r = require_eip55_checksum(b.account.smart_account, "account.smart_account"); !r)
        return fail(r.error());
    if (auto r = require_eip55_checksum(b.signing.address, "signing.address"); !r) return fail(r.error());
    if (auto r = require_bounded_provisioned_by(b.provisioned_by); !r) return fail(r.error());
    if (b.signing.kind == SigningKind::SessionKey) {
        if (auto r = check_grant(b); !r) return fail(r.error());
    }
    return std::move(b);
}

// ---- derivation ---------------------------------------------------------------

Result<DerivedBundleV1> derive_bundle_from_mnemonic(std::string_view phrase, std::uint64_t chain_id,
                                                    std::string_view provisioned_by, std::string_view smart_account,
                                                    std::int64_t now_unix_seconds) {
    if (auto r = require_bounded_provisioned_by(provisioned_by); !r) return fail(r.error());
    // One strict validation and one seed serve the key set and the account.
    auto seed = strict_seed(phrase);
    if (!seed) return fail(seed.error());
    auto keys = derive_keys_from_seed(*seed);
    if (!keys) {
        wipe(seed->data(), seed->size());
        return fail(keys.error());
    }
    auto wallet = derive_eoa_from_seed(*seed);
    wipe(seed->data(), seed->size());
    auto lsh_seed = derive_lsh_seed(phrase, keys->salt);
    if (!lsh_seed) return fail(lsh_seed.error());
    if (!wallet) return fail(wallet.error());
    auto owner = to_eip55_checksum(wallet->address);
    if (!owner) return fail(owner.error());
    auto account = to_eip55_checksum(smart_account);
    if (!account) return fail(account.error());

    DerivedBundleV1 b;
    b.vault = {keys->encryption_key, keys->dedup_key, keys->auth_key, *lsh_seed};
    b.signing.kind = SigningKind::OwnerEoa;
    b.signing.private_key = wallet->private_key;
    b.signing.address = std::move(*owner);
    b.account = {std::move(*account), chain_id};
    b.provisioned_at = format_utc_seconds(now_unix_seconds);
    b.provisioned_by = provisioned_by;
    return b;
}

}  // namespace kc::crypto
