#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> protobuf_functions() { return {}; }

}  // namespace kc::py
