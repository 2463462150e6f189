// The Memory Taxonomy v1 type names and their short category tokens.
#include "claims/memory_v1.hpp"
#include "families.hpp"

namespace kc::py::memory_types {
namespace {

PyObject* get_valid_memory_types() { return to_py(claims::valid_memory_types()); }

// A dict in the mapping's order.
PyObject* get_type_to_category() {
    PyObject* dict = PyDict_New();
    if (!dict) return nullptr;
    for (const auto& [type, category] : claims::type_to_category) {
        PyObject* key = to_py(type);
        PyObject* value = key ? to_py(category) : nullptr;
        int rc = value ? PyDict_SetItem(dict, key, value) : -1;
        Py_XDECREF(key);
        Py_XDECREF(value);
        if (rc < 0) {
            Py_DECREF(dict);
            return nullptr;
        }
    }
    return dict;
}

PyObject* py_map_type_to_category(std::string_view value) { return to_py(claims::map_type_to_category(value)); }

PyObject* py_is_valid_memory_type(std::string_view value) { return to_py(claims::is_valid_memory_type(value)); }

}  // namespace

int register_python_functions(PyObject* module) {
    return add_functions(
        module, {
                    def<"get_valid_memory_types()", get_valid_memory_types>(
                        "The six Memory Taxonomy v1 type tokens in declaration order."),
                    def<"get_type_to_category()", get_type_to_category>(
                        "Dict from each v1 type token to its short category token."),
                    def<"py_map_type_to_category(value)", py_map_type_to_category>(
                        "The category token of an exact v1 type token, or None."),
                    def<"py_is_valid_memory_type(value)", py_is_valid_memory_type>(
                        "Whether the text is exactly one of the six v1 type tokens."),
                });
}

}  // namespace kc::py::memory_types
