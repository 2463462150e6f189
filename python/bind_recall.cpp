#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> recall_functions() { return {}; }

}  // namespace kc::py
