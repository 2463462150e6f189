// Every binding family's contribution to the module, in the order the
// module entry registers them.
#pragma once

#include "frame.hpp"

namespace kc::py {

std::vector<PyMethodDef> bundle_functions();
std::vector<PyMethodDef> crypto_functions();
// Adds the LshHasher class.
int add_lsh_type(PyObject* module);
std::vector<PyMethodDef> protobuf_functions();
std::vector<PyMethodDef> extraction_functions();
std::vector<PyMethodDef> reranker_functions();
std::vector<PyMethodDef> wallet_functions();
// prepare_fact … prepare_tombstone.
std::vector<PyMethodDef> store_functions();
std::vector<PyMethodDef> userop_functions();
// build_single_calldata_from_prepared, build_batch_calldata_from_prepared.
std::vector<PyMethodDef> store_calldata_functions();
std::vector<PyMethodDef> search_functions();
std::vector<PyMethodDef> kg_functions();
std::vector<PyMethodDef> recall_functions();

// The four families that register themselves.
namespace consolidation {
int register_python_functions(PyObject* module);
}
namespace smart_import {
int register_python_functions(PyObject* module);
}
namespace import_parsers {
int register_python_functions(PyObject* module);
}
namespace memory_types {
int register_python_functions(PyObject* module);
}

}  // namespace kc::py
