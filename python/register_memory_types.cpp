#include "families.hpp"

namespace kc::py::memory_types {

int register_python_functions(PyObject* module) { return add_functions(module, {}); }

}  // namespace kc::py::memory_types
