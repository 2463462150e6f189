#include "families.hpp"

namespace kc::py {

std::vector<PyMethodDef> reranker_functions() { return {}; }

}  // namespace kc::py
