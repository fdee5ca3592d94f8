// module.cpp — entry point of vorn._vorn_fleet.
//
// The module's Python face:
//   CFDLFleet, PFDLFleet, FFDLFleet   n SISO controllers stepped by one call on arrays
//   MimoCfdlFleet, MimoPfdlFleet, MimoFfdlFleet   n MIMO controllers of one dim, likewise
//   _full_state(controller)           a controller's pickle state plus its estimate's reset value
//   _forms()                          the descriptors of the six controller forms, as dicts
#include "python/binding/module_def.hpp"
#include "python/fleet/arrays.hpp"
#include "python/fleet/bridge.hpp"
#include "python/fleet/fleet_classes.hpp"
#include "python/fleet/forms_table.hpp"
#include "python/fleet/mimo_fleet_classes.hpp"

namespace vorn::py::fleet {
namespace {

PyMethodDef functions[] = {
    {"_full_state", full_state, METH_O,
     "_full_state(controller, /)\n--\n\n"
     "The controller's __getstate__() dictionary plus \"phi_reset\", the reset value of its estimate."},
    {"_forms", forms_table, METH_NOARGS,
     "_forms($module, /)\n--\n\n"
     "The descriptors of the six controller forms: one dict per form, the SISO forms first."},
    {"_use_kernels", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(use_kernels)), METH_FASTCALL,
     "_use_kernels(fleet, variant, /)\n--\n\n"
     "Steps the fleet with the block steps of one instruction set: \"portable\", \"avx2\" or \"avx512\"."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
    if (!init_numpy() || !init_bridge(module)) return -1;
    return add_fleet_classes(module) < 0 ? -1 : add_mimo_fleet_classes(module);
}

}  // namespace
}  // namespace vorn::py::fleet

PyMODINIT_FUNC PyInit__vorn_fleet() {
    using vorn::py::Interpreters;
    // NumPy refuses subinterpreters, so the fleets, which run on its arrays, do too.
    return vorn::py::init_module<Interpreters::MainOnly, vorn::py::fleet::FleetState, vorn::py::fleet::exec_module>(
        "_vorn_fleet", "Controller fleets: many controllers of one form stepped by one call on NumPy arrays.",
        vorn::py::fleet::functions);
}
