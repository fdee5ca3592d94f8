// bridge.hpp — the fleets' way into the single controllers of vorn._vorn_core.
//
// Layout contract: both extension modules are built from the same headers in one build,
// so a controller object of vorn._vorn_core is an Instance<Core> (python/types.hpp) here
// too. An object is reached only after its type has been checked to be exactly the class
// that vorn._vorn_core registered, and only while holding its access state (shared to read,
// like the class's own readers). A new controller is allocated through the class's own
// tp_alloc, and the class's dealloc destroys it.
#pragma once

#include "core/siso/cfdl_controller.hpp"
#include "core/siso/ffdl_controller.hpp"
#include "core/siso/pfdl_controller.hpp"
#include "python/types.hpp"

namespace vorn::py::fleet {

// Fetches the three SISO classes from vorn._vorn_core; false with the exception set.
bool init_bridge();

// The class of vorn._vorn_core that holds a Core. Borrowed.
template <class Core>
PyTypeObject* single_type();
template <>
PyTypeObject* single_type<CfdlController>();
template <>
PyTypeObject* single_type<PfdlController>();
template <>
PyTypeObject* single_type<FfdlController>();

// The instance behind `o` when its type is exactly the class of Core, else null (no exception).
template <class Core>
Instance<Core>* single_instance(PyObject* o) {
    return Py_IS_TYPE(o, single_type<Core>()) ? &instance<Core>(o) : nullptr;
}

// _full_state(controller): the controller's __getstate__ dictionary plus "phi_reset", the
// reset value of its estimate (a float, or a list of floats for the vector forms).
PyObject* full_state(PyObject* module, PyObject* controller);

}  // namespace vorn::py::fleet
