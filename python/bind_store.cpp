#include "families.hpp"
#include "store/calldata.hpp"
#include "store/prepared_fact.hpp"

namespace kc::py {

std::vector<PyMethodDef> store_functions() { return {}; }

namespace {

PyObject* build_single_calldata_from_prepared(std::string_view prepared_json) {
    auto fact = store::parse_prepared_fact(prepared_json);
    if (!fact) {
        to_pyerr(fact.error());
        return nullptr;
    }
    return ret(store::build_single_calldata(*fact));
}

PyObject* build_batch_calldata_from_prepared(std::string_view prepared_array_json) {
    auto facts = store::parse_prepared_fact_array(prepared_array_json);
    if (!facts) {
        to_pyerr(facts.error());
        return nullptr;
    }
    return ret(store::build_batch_calldata(*facts));
}

}  // namespace

std::vector<PyMethodDef> store_calldata_functions() {
    return {
        def<"build_single_calldata_from_prepared(prepared_json)", build_single_calldata_from_prepared>(
            "SimpleAccount execute() call data for the protobuf_bytes of one PreparedFact JSON text,\n"
            "aimed at the default DataEdge address. The whole record must parse."),
        def<"build_batch_calldata_from_prepared(prepared_array_json)", build_batch_calldata_from_prepared>(
            "SimpleAccount call data for a JSON array of 1 to 30 PreparedFact objects, aimed at the\n"
            "default DataEdge address: executeBatch(), or execute() for a single fact."),
    };
}

}  // namespace kc::py
