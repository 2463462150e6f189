#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> extraction_functions() { return {}; }

}  // namespace kc::py
