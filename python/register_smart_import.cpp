#include "families.hpp"

namespace kc::py::smart_import {

int register_python_functions(PyObject* module) { return add_functions(module, {}); }

}  // namespace kc::py::smart_import
