// bridge.hpp — the fleets' way into the single controllers of vorn._vorn_core.
//
// Layout contract: both extension modules are built from the same headers in one build,
// so a controller object of vorn._vorn_core is an Instance<Core> (python/binding/types.hpp) here
// too. An object is reached only after its type has been checked to be exactly the class
// that vorn._vorn_core registered in this interpreter (the fleet module's state keeps the
// classes it found there), and only while holding its access state (shared to read,
// like the class's own readers). A new controller is allocated through the class's own
// tp_alloc, and the class's dealloc destroys it.
#pragma once

#include <cstddef>
#include <vector>

#include "core/forms/mimo_forms.hpp"
#include "core/forms/siso_forms.hpp"
#include "python/binding/args.hpp"
#include "python/binding/ref.hpp"
#include "python/binding/types.hpp"
#include "python/mimo_object.hpp"

namespace vorn::py::fleet {

// The state of one instance of vorn._vorn_fleet: the fleet classes it made, then the SISO
// and the MIMO classes of vorn._vorn_core that it found at its execution, each in DlForm's
// order, strong references.
struct FleetState {
    ClassTable classes;  // first, as in every module's state
    PyObject* singles[forms::kSisoForms.size()];
    PyObject* mimo_singles[forms::kMimoForms.size()];

    int traverse(visitproc visit, void* arg) const;
    void clear();
};

inline FleetState& fleet_state(PyObject* module) { return *static_cast<FleetState*>(PyModule_GetState(module)); }

// The module that made `fleet_class`, one of the fleet classes (which cannot be subclassed,
// so an instance's exact type is one). Borrowed; null with an exception set.
inline PyObject* fleet_module(PyTypeObject* fleet_class) { return PyType_GetModule(fleet_class); }

// Keeps in the module's state the SISO classes of vorn._vorn_core as imported in this
// interpreter, by their forms' names; false with the exception set.
bool init_bridge(PyObject* module);

// The class of vorn._vorn_core of `form`, as `module` found it. Borrowed.
inline PyTypeObject* single_class(PyObject* module, DlForm form) {
    return reinterpret_cast<PyTypeObject*>(fleet_state(module).singles[static_cast<std::size_t>(form)]);
}

// The class of vorn._vorn_core that holds a Core, as `module` found it. Borrowed.
template <class Core>
PyTypeObject* single_type(PyObject* module) {
    return single_class(module, forms::kFormOf<Core>);
}

// The MIMO class of vorn._vorn_core of `form`, as `module` found it. Borrowed.
inline PyTypeObject* mimo_single_class(PyObject* module, MimoForm form) {
    return reinterpret_cast<PyTypeObject*>(fleet_state(module).mimo_singles[static_cast<std::size_t>(form)]);
}

// The instance behind `o` when its type is exactly the MIMO class of `F`, else null (no exception).
template <MimoForm F>
Instance<MimoObject<F>>* mimo_single_instance(PyObject* module, PyObject* o) {
    return Py_IS_TYPE(o, mimo_single_class(module, F)) ? &instance<MimoObject<F>>(o) : nullptr;
}

// The instance behind `o` when its type is exactly the class of Core, else null (no exception).
template <class Core>
Instance<Core>* single_instance(PyObject* module, PyObject* o) {
    return Py_IS_TYPE(o, single_type<Core>(module)) ? &instance<Core>(o) : nullptr;
}

// The argument of a fleet class's from_controllers(controllers).
struct Controllers {
    PyObject* module = nullptr;   // the fleet module that made the class, borrowed
    Ref items;                    // a list of its own, so that no conversion changes the items meanwhile
    std::vector<PyObject*> objs;  // its items, borrowed, each an instance of exactly the single class
};

// Binds `sig` (the one parameter "controllers") for the fleet class `cls` and reads the list
// into `out`; `single_class(module)` is the class every item must be. False with the
// exception set: the binding's error, the list's own (note "controllers"), or TypeError
// naming `single_name` for the first other item (note "controllers[i]").
bool read_controllers(PyObject* cls, const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      PyTypeObject* (*single_class)(PyObject* module), const char* single_name, Controllers& out);

// _full_state(controller): the controller's __getstate__ dictionary plus the rows of its
// form's state table that pickling leaves out ("phi_reset", the reset value of its estimate:
// a float, or a list of floats for the vector forms).
PyObject* full_state(PyObject* module, PyObject* controller);

}  // namespace vorn::py::fleet
