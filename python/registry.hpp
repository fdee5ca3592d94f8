// registry.hpp — the module's member groups, registered in this order by the module's
// execution step: CFDLController; PFDLController, FFDLController; the three MIMO classes;
// the nine functions. Each returns 0, or -1 with an exception set. The classes' types are
// made for the module given and kept in its class table (its state).
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py {

int add_cfdl_class(PyObject* module);
int add_vector_classes(PyObject* module);
int add_mimo_classes(PyObject* module);
int add_functions(PyObject* module);

}  // namespace vorn::py
