// module.cpp — entry point of vorn._vorn_fleet.
//
// The module's Python face:
//   CFDLFleet, PFDLFleet, FFDLFleet   n SISO controllers stepped by one call on arrays
//   _full_state(controller)           a controller's pickle state plus its estimate's reset value
#include "python/errors.hpp"
#include "python/fleet/arrays.hpp"
#include "python/fleet/bridge.hpp"
#include "python/fleet/fleet_classes.hpp"

namespace vorn::py::fleet {
namespace {

PyMethodDef functions[] = {
    {"_full_state", full_state, METH_O,
     "_full_state(controller, /)\n--\n\n"
     "The controller's __getstate__() dictionary plus \"phi_reset\", the reset value of its estimate."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    return guard([&] {
        if (!init_numpy() || !init_bridge()) return -1;
        if (add_fleet_classes(module) < 0) return -1;
        return PyModule_AddFunctions(module, functions);
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_vorn_fleet",
    "Controller fleets: many SISO controllers of one form stepped by one call on NumPy arrays.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vorn::py::fleet

PyMODINIT_FUNC PyInit__vorn_fleet() { return PyModuleDef_Init(&vorn::py::fleet::module_def); }
