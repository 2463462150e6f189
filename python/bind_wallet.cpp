#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> wallet_functions() { return {}; }

}  // namespace kc::py
