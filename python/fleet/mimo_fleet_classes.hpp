// mimo_fleet_classes.hpp — registration of the three MIMO fleet classes.
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py::fleet {

// Registers MimoCfdlFleet, MimoPfdlFleet and MimoFfdlFleet; 0, or -1 with an exception set.
int add_mimo_fleet_classes(PyObject* module);

}  // namespace vorn::py::fleet
