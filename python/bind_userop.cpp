// Smart-account call data and ERC-4337 user operations.
#include "crypto/primitives.hpp"
#include "families.hpp"
#include "store/userop.hpp"

namespace kc::py {

// ---- user operation hash and signature --------------------------------------
namespace {

PyObject* hash_userop(std::string_view userop_json, std::string_view entrypoint, std::uint64_t chain_id) {
    auto op = store::parse_userop_json(userop_json);
    if (!op) {
        to_pyerr(op.error());
        return nullptr;
    }
    return ret(store::hash_userop(*op, entrypoint, chain_id));
}

PyObject* sign_userop(ByteView hash, ByteView private_key) {
    // The hash length is checked first, even when the key is malformed too.
    if (hash.size() != 32) {
        raise(PyExc_ValueError, cat("Hash must be 32 bytes, got ", hash.size()));
        return nullptr;
    }
    if (!require_len(private_key, 32)) return nullptr;
    store::Hash32 h{};
    crypto::Key32 key{};
    std::copy(hash.begin(), hash.end(), h.begin());
    std::copy(private_key.begin(), private_key.end(), key.begin());
    auto sig = store::sign_userop(h, key);
    crypto::wipe(key.data(), key.size());
    return ret(sig);
}

}  // namespace
// ---- end of user operation hash and signature --------------------------------

std::vector<PyMethodDef> userop_functions() {
    return {
        // ---- user operation hash and signature (keep last) ----
        def<"hash_userop(userop_json, entrypoint, chain_id)", hash_userop>(
            "The ERC-4337 v0.7 user-operation hash (32 bytes) of a UserOperationV7 JSON object for an EntryPoint "
            "address and chain id.\n\n"
            "Structure is read strictly; faulty hex inside the operation is read leniently and never raises."),
        def<"sign_userop(hash, private_key)", sign_userop>(
            "Sign a 32-byte user-operation hash as an EIP-191 personal message with a 32-byte secp256k1 key.\n\n"
            "Returns 65 bytes r | s | v (RFC 6979 nonce, low s, v = 27 + recovery id)."),
    };
}

}  // namespace kc::py
