// bridge.cpp — the single controller classes seen from the fleet module, and _full_state.
#include "python/fleet/bridge.hpp"

#include "python/binding/access.hpp"
#include "python/binding/convert.hpp"
#include "python/binding/errors.hpp"

namespace vorn::py::fleet {

namespace {

// The class `name` of `core` (vorn._vorn_core), a new reference in `out`. Its instances are
// read through the layout contract above, so the attribute must be that very class: one the
// module made (its type names the module) under that name, not a stand-in put in its place.
bool fetch(PyObject* core, const char* name, PyObject*& out) {
    Ref cls(PyObject_GetAttrString(core, name));
    if (!cls) return false;
    bool genuine = PyType_Check(cls.get());
    if (genuine) {
        auto* type = reinterpret_cast<PyTypeObject*>(cls.get());
        PyObject* maker = PyType_GetModule(type);  // borrowed; TypeError for a class of no module
        Ref type_name(maker ? PyType_GetName(type) : nullptr);
        PyErr_Clear();
        genuine = maker == core && type_name && PyUnicode_CompareWithASCIIString(type_name.get(), name) == 0;
    }
    if (!genuine) {
        PyErr_Format(PyExc_ImportError, "vorn._vorn_core.%s is not the module's own class", name);
        return false;
    }
    Py_XDECREF(out);
    out = cls.release();
    return true;
}

}  // namespace

int FleetState::traverse(visitproc visit, void* arg) const {
    if (int r = classes.traverse(visit, arg)) return r;
    for (PyObject* single : singles) Py_VISIT(single);
    return 0;
}

void FleetState::clear() {
    classes.clear();
    for (PyObject*& single : singles) Py_CLEAR(single);
}

namespace {

// The reset value of a controller's estimate, read under shared access.
template <class Core>
Ref reset_value(PyObject* o) {
    Instance<Core>* inst = &instance<Core>(o);  // its type checked by the caller
    SharedAccess access(inst->access);
    if (!access) return Ref();
    if constexpr (std::is_same_v<Core, CfdlController>) {
        return Ref(to_py(inst->core.phi_reset()));
    } else {
        return Ref(to_py(inst->core.initial_phi_vector()));
    }
}

}  // namespace

bool init_bridge(PyObject* module) {
    Ref core(PyImport_ImportModule("vorn._vorn_core"));
    if (!core) return false;
    PyObject** singles = fleet_state(module).singles;
    return fetch(core.get(), "CFDLController", singles[single_index<CfdlController>()]) &&
           fetch(core.get(), "PFDLController", singles[single_index<PfdlController>()]) &&
           fetch(core.get(), "FFDLController", singles[single_index<FfdlController>()]);
}

PyObject* full_state(PyObject* module, PyObject* controller) {
    return guard([&]() -> PyObject* {
        Ref (*reader)(PyObject*) = nullptr;
        if (single_instance<CfdlController>(module, controller)) reader = reset_value<CfdlController>;
        if (single_instance<PfdlController>(module, controller)) reader = reset_value<PfdlController>;
        if (single_instance<FfdlController>(module, controller)) reader = reset_value<FfdlController>;
        if (!reader) {
            fail_not_instance(controller, "CFDLController | PFDLController | FFDLController");
            add_note("controller");
            return nullptr;
        }
        Ref state(PyObject_CallMethod(controller, "__getstate__", nullptr));
        if (!state) return nullptr;
        Ref reset = reader(controller);
        if (!reset || PyDict_SetItemString(state.get(), "phi_reset", reset.get()) < 0) return nullptr;
        return state.release();
    });
}

}  // namespace vorn::py::fleet
