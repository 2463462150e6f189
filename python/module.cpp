// The extension module entry: creates `kelvane_core` and registers every
// name in its fixed order. Single-phase, no module state.
#include "families.hpp"

namespace {

constexpr const char* kModuleDoc =
    "Core cryptographic primitives of the Kelvane memory client, byte-for-byte compatible with the "
    "other clients: key derivation, XChaCha20-Poly1305 encryption, blind indices, content "
    "fingerprinting, LSH hashing, protobuf encoding and debrief parsing.";

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kelvane_core",
    kModuleDoc,
    0,  // no per-module state
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

int register_all(PyObject* m) {
    using namespace kc::py;
    if (add_functions(m, bundle_functions()) < 0) return -1;
    if (add_functions(m, crypto_functions()) < 0) return -1;
    if (add_lsh_type(m) < 0) return -1;
    if (add_functions(m, protobuf_functions()) < 0) return -1;
    if (add_functions(m, extraction_functions()) < 0) return -1;
    if (add_functions(m, reranker_functions()) < 0) return -1;
    if (add_functions(m, wallet_functions()) < 0) return -1;
    if (add_functions(m, store_functions()) < 0) return -1;
    if (add_functions(m, userop_functions()) < 0) return -1;
    if (add_functions(m, store_calldata_functions()) < 0) return -1;
    if (add_functions(m, search_functions()) < 0) return -1;
    if (add_functions(m, kg_functions()) < 0) return -1;
    if (consolidation::register_python_functions(m) < 0) return -1;
    if (smart_import::register_python_functions(m) < 0) return -1;
    if (import_parsers::register_python_functions(m) < 0) return -1;
    if (memory_types::register_python_functions(m) < 0) return -1;
    if (add_functions(m, recall_functions()) < 0) return -1;
    return 0;
}

}  // namespace

PyMODINIT_FUNC PyInit_kelvane_core() {
    PyObject* m = PyModule_Create(&module_def);
    if (!m) return nullptr;
    if (register_all(m) < 0) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}
