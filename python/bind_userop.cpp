// Smart-account call data and ERC-4337 user operations.
#include "crypto/primitives.hpp"
#include "families.hpp"
#include "store/calldata.hpp"
#include "store/userop.hpp"

namespace kc::py {
namespace {

// ---- smart-account call data ----------------------------------------------

PyObject* encode_single_call(ByteView protobuf_payload, std::optional<std::string_view> data_edge_address) {
    return ret(store::encode_single_call_to(protobuf_payload,
                                            data_edge_address.value_or(store::default_data_edge_address)));
}

PyObject* encode_batch_call(std::vector<Bytes> payloads, std::optional<std::string_view> data_edge_address) {
    return ret(store::encode_batch_call_to(std::span<const Bytes>(payloads),
                                           data_edge_address.value_or(store::default_data_edge_address)));
}

// ---- end of smart-account call data ---------------------------------------

// ---- user operation hash and signature --------------------------------------
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

// ---- end of user operation hash and signature --------------------------------

}  // namespace

std::vector<PyMethodDef> userop_functions() {
    return {
        // ---- smart-account call data ----
        def<"encode_single_call(protobuf_payload, data_edge_address=None)", encode_single_call>(
            "SimpleAccount execute(DataEdge, 0, payload) call data. data_edge_address defaults to the\n"
            "built-in production DataEdge address."),
        def<"encode_batch_call(payloads, data_edge_address=None)", encode_batch_call>(
            "SimpleAccount executeBatch() call data for 1 to 30 payloads, each sent to the DataEdge\n"
            "address with value 0; a single payload gives execute() call data."),
        // ---- end of smart-account call data ----
        // ---- user operation hash and signature ----
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
