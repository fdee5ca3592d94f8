// fleet_classes.hpp — registration of the three fleet classes.
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py::fleet {

// Registers CFDLFleet, PFDLFleet and FFDLFleet; 0, or -1 with an exception set.
int add_fleet_classes(PyObject* module);

// _use_kernels(fleet, variant): steps `fleet` with the block steps of one instruction set
// ("portable", "avx2", "avx512"; the portable ones where the processor lacks it). For tests
// and benchmarks that compare the variants.
PyObject* use_kernels(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace vorn::py::fleet
