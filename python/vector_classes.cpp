// vector_classes.cpp — placeholder until these members are built.
#include "python/registry.hpp"

namespace vorn::py {

int add_vector_classes(PyObject*) { return 0; }

}  // namespace vorn::py
