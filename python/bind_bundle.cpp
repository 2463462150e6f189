#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> bundle_functions() { return {}; }

}  // namespace kc::py
