#include "families.hpp"

namespace kc::py::consolidation {

int register_python_functions(PyObject* module) { return add_functions(module, {}); }

}  // namespace kc::py::consolidation
