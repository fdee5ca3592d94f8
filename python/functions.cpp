// functions.cpp — placeholder until these members are built.
#include "python/registry.hpp"

namespace vorn::py {

int add_functions(PyObject*) { return 0; }

}  // namespace vorn::py
