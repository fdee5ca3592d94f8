// vector_classes.hpp — the type objects of PFDLController and FFDLController, for code
// outside their classes that must recognise an instance (the tuning functions).
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py {

// Created on first use and kept for the process. Borrowed; null with an exception set.
PyTypeObject* pfdl_type();
PyTypeObject* ffdl_type();

}  // namespace vorn::py
