#include "families.hpp"
#include "store/calldata.hpp"

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
    };
}

}  // namespace kc::py
