// vector_classes.hpp — the type objects of PFDLController and FFDLController, for code
// outside their classes that must recognise an instance (the tuning functions).
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py {

// The classes as `module` (an instance of vorn._vorn_core) made them: each interpreter has
// its own. Borrowed; null with an exception set.
PyTypeObject* pfdl_type(PyObject* module);
PyTypeObject* ffdl_type(PyObject* module);

}  // namespace vorn::py
