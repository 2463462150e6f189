#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> kg_functions() { return {}; }

}  // namespace kc::py
