// bridge.hpp — the fleets' way into the single controllers of vorn._vorn_core.
//
// Layout contract: both extension modules are built from the same headers in one build,
// so a controller object of vorn._vorn_core is an Instance<Core> (python/binding/types.hpp) here
// too. An object is reached only after its type has been checked to be exactly the class
// that vorn._vorn_core registered, and only while holding its access state (shared to read,
// like the class's own readers). A new controller is allocated through the class's own
// tp_alloc, and the class's dealloc destroys it.
#pragma once

#include "core/forms/siso_forms.hpp"
#include "python/binding/types.hpp"

namespace vorn::py::fleet {

// Fetches the SISO classes from vorn._vorn_core, by their forms' names; false with the
// exception set.
bool init_bridge();

// The class of vorn._vorn_core of `form`. Borrowed.
PyTypeObject* single_class(DlForm form);

// The class of vorn._vorn_core that holds a Core. Borrowed.
template <class Core>
PyTypeObject* single_type() {
    return single_class(forms::kFormOf<Core>);
}

// The instance behind `o` when its type is exactly the class of Core, else null (no exception).
template <class Core>
Instance<Core>* single_instance(PyObject* o) {
    return Py_IS_TYPE(o, single_type<Core>()) ? &instance<Core>(o) : nullptr;
}

// _full_state(controller): the controller's __getstate__ dictionary plus the rows of its
// form's state table that pickling leaves out ("phi_reset", the reset value of its estimate:
// a float, or a list of floats for the vector forms).
PyObject* full_state(PyObject* module, PyObject* controller);

}  // namespace vorn::py::fleet
