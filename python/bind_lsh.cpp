// The LshHasher class: a heap type whose instances each hold one library
// hasher, built once in __new__ and never changed afterwards.
//
// The class is final (no Py_TPFLAGS_BASETYPE): a subclass could add a
// __dict__ and mutable state to an object other calls borrow as a read-only
// hasher, so lsh_unwrap accepts exactly this type. Instances have no
// __dict__ and only read-only properties; the type itself is immutable.
#include <new>

#include "crypto/lsh.hpp"
#include "families.hpp"

namespace kc::py {
namespace {

struct PyLshHasher {
    PyObject_HEAD
    crypto::LshHasher hasher;
};

// Created once per process (the module is single-phase) and kept.
PyTypeObject* lsh_type = nullptr;

const crypto::LshHasher& hasher_of(PyObject* self) { return reinterpret_cast<PyLshHasher*>(self)->hasher; }

// `type` is the class being instantiated (always LshHasher: it is final).
PyObject* construct(PyObject* type, ByteView seed, std::uint64_t dims, std::uint64_t n_tables,
                    std::uint64_t n_bits) {
    auto built = crypto::with_params(seed, dims, n_tables, n_bits);
    if (!built) {
        to_pyerr(built.error());
        return nullptr;
    }
    auto* tp = reinterpret_cast<PyTypeObject*>(type);
    PyObject* self = tp->tp_alloc(tp, 0);
    if (!self) return nullptr;
    new (&reinterpret_cast<PyLshHasher*>(self)->hasher) crypto::LshHasher(std::move(*built));
    return self;
}

constexpr Lit kConstructor = "LshHasher(seed, dims, n_tables=20, n_bits=32)";

PyObject* lsh_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call_with_tuple(&method_fastcall<kConstructor, construct>, reinterpret_cast<PyObject*>(type), args,
                           kwargs);
}

void lsh_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    reinterpret_cast<PyLshHasher*>(self)->hasher.~LshHasher();
    tp->tp_free(self);
    Py_DECREF(tp);  // instances of a heap type own a reference to it
}

PyObject* hash_method(PyObject* self, Floats64 embedding) {
    return ret(crypto::hash(hasher_of(self), std::span<const double>(embedding)));
}

PyObject* get_tables(PyObject* self, void*) { return to_py(std::uint64_t{hasher_of(self).n_tables()}); }
PyObject* get_bits(PyObject* self, void*) { return to_py(std::uint64_t{hasher_of(self).n_bits()}); }
PyObject* get_dimensions(PyObject* self, void*) { return to_py(std::uint64_t{hasher_of(self).dims()}); }

PyGetSetDef getset[] = {
    {"tables", get_tables, nullptr, "Number of hash tables.", nullptr},
    {"bits", get_bits, nullptr, "Number of bits per table.", nullptr},
    {"dimensions", get_dimensions, nullptr, "Embedding dimensionality.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kClassDoc =
    "LshHasher(seed, dims, n_tables=20, n_bits=32)\n--\n\n"
    "Random-hyperplane locality-sensitive hashing.\n\n"
    "Constructed from a seed (bytes, at least 16) and the embedding dimensionality, with "
    "n_tables tables of n_bits Gaussian hyperplanes drawn deterministically from the seed. "
    "hash() turns an embedding into blind-hashed bucket identifiers: one SHA-256 hex digest "
    "per table, so similar embeddings share some of them while the buckets stay unreadable.";

}  // namespace

const crypto::LshHasher* lsh_unwrap(PyObject* o) {
    if (!o || !lsh_type || Py_TYPE(o) != lsh_type) return nullptr;
    return &hasher_of(o);
}

int add_lsh_type(PyObject* module) {
    if (!lsh_type) {
        static PyMethodDef methods[] = {
            method<"hash($self, embedding)", hash_method>(
                "Bucket hashes of an embedding (a sequence of numbers used at full double precision, "
                "as many as the hasher's dimensions): a list of one 64-character hex string per table, "
                "in table order."),
            {nullptr, nullptr, 0, nullptr},
        };
        static PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>(kClassDoc)},
            {Py_tp_new, reinterpret_cast<void*>(&lsh_new)},
            {Py_tp_dealloc, reinterpret_cast<void*>(&lsh_dealloc)},
            {Py_tp_methods, methods},
            {Py_tp_getset, getset},
            {0, nullptr},
        };
        static PyType_Spec type_spec = {
            "kelvane_core.LshHasher",
            static_cast<int>(sizeof(PyLshHasher)),
            0,
            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
            slots,
        };
        PyObject* type = PyType_FromSpec(&type_spec);
        if (!type) return -1;
        lsh_type = reinterpret_cast<PyTypeObject*>(type);
    }
    return PyModule_AddObjectRef(module, "LshHasher", reinterpret_cast<PyObject*>(lsh_type));
}

}  // namespace kc::py
