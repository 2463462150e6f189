// The derived key bundle: derivation, reading and validation.
#include "crypto/bundle.hpp"
#include "families.hpp"
#include "frame/clock.hpp"

namespace kc::py {
namespace {

PyObject* derive_bundle_from_mnemonic(std::string_view mnemonic, std::uint64_t chain_id,
                                      std::string_view provisioned_by, std::string_view smart_account) {
    auto bundle = crypto::derive_bundle_from_mnemonic(mnemonic, chain_id, provisioned_by, smart_account,
                                                      now_utc().seconds);
    if (!bundle) {
        to_pyerr(bundle.error());
        return nullptr;
    }
    return ret(crypto::bundle_to_json(*bundle));
}

PyObject* bundle_to_dict(const crypto::DerivedBundleV1& b) {
    PyObject* grant = nullptr;
    if (b.signing.grant) {
        grant = to_py(json::to_compact_json(*b.signing.grant));
    } else {
        grant = Py_NewRef(Py_None);
    }
    return make_dict({
        {"vault", make_dict({
                      {"encryption_key", to_py(b.vault.encryption_key)},
                      {"dedup_key", to_py(b.vault.dedup_key)},
                      {"auth_key", to_py(b.vault.auth_key)},
                      {"lsh_seed", to_py(b.vault.lsh_seed)},
                  })},
        {"signing", make_dict({
                        {"kind", to_py(crypto::signing_kind_tag(b.signing.kind))},
                        {"private_key", to_py(b.signing.private_key)},
                        {"address", to_py(b.signing.address)},
                        {"grant", grant},
                    })},
        {"account", make_dict({
                        {"smart_account", to_py(b.account.smart_account)},
                        {"chain_id", to_py(b.account.chain_id)},
                    })},
        {"provisioned_at", to_py(b.provisioned_at)},
        {"provisioned_by", to_py(b.provisioned_by)},
    });
}

PyObject* parse_bundle_v1(std::string_view json) {
    auto bundle = crypto::parse_bundle_v1(json);
    if (!bundle) {
        to_pyerr(bundle.error());
        return nullptr;
    }
    return bundle_to_dict(*bundle);
}

PyObject* validate_bundle_v1(std::string_view json) {
    auto bundle = crypto::parse_bundle_v1(json);
    if (!bundle) {
        to_pyerr(bundle.error());
        return nullptr;
    }
    Py_RETURN_NONE;
}

}  // namespace

std::vector<PyMethodDef> bundle_functions() {
    return {
        def<"derive_bundle_from_mnemonic(mnemonic, chain_id, provisioned_by, smart_account)",
            derive_bundle_from_mnemonic>(
            "Derive a derived-bundle-v1 document (vault keys, owner account, smart-account reference) from a "
            "strictly valid BIP-39 phrase.\n\n"
            "provisioned_by is a short lower-case slug; smart_account may be in any case, with or without 0x, and "
            "comes out in EIP-55 casing. Returns the canonical compact JSON text, stamped with the current UTC "
            "time."),
        def<"parse_bundle_v1(json)", parse_bundle_v1>(
            "Read and fully validate a derived-bundle-v1 document.\n\n"
            "Returns a dict with vault (four 32-byte keys), signing (kind, private_key, address, grant as compact "
            "JSON or None), account (smart_account, chain_id), provisioned_at and provisioned_by."),
        def<"validate_bundle_v1(json)", validate_bundle_v1>(
            "Validate a derived-bundle-v1 document exactly as parse_bundle_v1() does; returns None or raises."),
    };
}

}  // namespace kc::py
