// The fact protobuf and its tombstone.
#include "frame/clock.hpp"
#include "families.hpp"
#include "store/protobuf.hpp"

namespace kc::py {
namespace {

PyObject* encode_fact_protobuf(std::string_view json_str) {
    return ret(store::encode_fact_protobuf_json(json_str));
}

PyObject* encode_tombstone_protobuf(std::string_view fact_id, std::string_view owner,
                                    std::optional<std::uint32_t> version) {
    return to_py(store::encode_tombstone_protobuf(fact_id, owner, version.value_or(store::default_fact_version),
                                                  now_utc()));
}

}  // namespace

std::vector<PyMethodDef> protobuf_functions() {
    return {
        def<"encode_fact_protobuf(json_str)", encode_fact_protobuf>(
            "Encode a fact, given as a JSON object, as the on-chain FactPayload protobuf message.\n\n"
            "Keys: id, timestamp, owner, encrypted_blob_hex, blind_indices, decay_score, source,\n"
            "content_fp, agent_id, encrypted_embedding (version is read as well). Each key is read\n"
            "leniently: a missing key or a value of another type takes its default (decay_score 0.8,\n"
            "version 3, texts empty). Raises ValueError for invalid JSON or a non-object."),
        def<"encode_tombstone_protobuf(fact_id, owner, version=None)", encode_tombstone_protobuf>(
            "Encode the tombstone that soft-deletes a fact, stamped with the current UTC time.\n\n"
            "version defaults to 3; pass 4 for Memory Taxonomy v1 tombstones."),
    };
}

}  // namespace kc::py
