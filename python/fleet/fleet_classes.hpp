// fleet_classes.hpp — registration of the three fleet classes.
#pragma once

#include "python/py.hpp"

namespace vorn::py::fleet {

// Registers CFDLFleet, PFDLFleet and FFDLFleet; 0, or -1 with an exception set.
int add_fleet_classes(PyObject* module);

}  // namespace vorn::py::fleet
