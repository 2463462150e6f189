#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> store_functions() { return {}; }

std::vector<PyMethodDef> store_calldata_functions() { return {}; }

}  // namespace kc::py
