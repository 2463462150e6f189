#include "families.hpp"

namespace kc::py::import_parsers {

int register_python_functions(PyObject* module) { return add_functions(module, {}); }

}  // namespace kc::py::import_parsers
