// bridge.cpp — the single controller classes seen from the fleet module, and _full_state.
#include "python/fleet/bridge.hpp"

#include "python/access.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"

namespace vorn::py::fleet {

namespace {

PyTypeObject* cfdl_class = nullptr;
PyTypeObject* pfdl_class = nullptr;
PyTypeObject* ffdl_class = nullptr;

bool fetch(PyObject* module, const char* name, PyTypeObject*& out) {
    Ref cls(PyObject_GetAttrString(module, name));
    if (!cls) return false;
    if (!PyType_Check(cls.get())) {
        PyErr_Format(PyExc_ImportError, "vorn._vorn_core.%s is not a class", name);
        return false;
    }
    out = reinterpret_cast<PyTypeObject*>(cls.release());  // kept for the process
    return true;
}

}  // namespace

template <>
PyTypeObject* single_type<CfdlController>() {
    return cfdl_class;
}
template <>
PyTypeObject* single_type<PfdlController>() {
    return pfdl_class;
}
template <>
PyTypeObject* single_type<FfdlController>() {
    return ffdl_class;
}

namespace {

// The reset value of a controller's estimate, read under shared access.
template <class Core>
Ref reset_value(PyObject* o) {
    Instance<Core>* inst = single_instance<Core>(o);
    SharedAccess access(inst->access);
    if (!access) return Ref();
    if constexpr (std::is_same_v<Core, CfdlController>) {
        return Ref(to_py(inst->core.phi_reset()));
    } else {
        return Ref(to_py(inst->core.initial_phi_vector()));
    }
}

}  // namespace

bool init_bridge() {
    if (cfdl_class) return true;
    Ref core(PyImport_ImportModule("vorn._vorn_core"));
    if (!core) return false;
    return fetch(core.get(), "PFDLController", pfdl_class) && fetch(core.get(), "FFDLController", ffdl_class) &&
           fetch(core.get(), "CFDLController", cfdl_class);
}

PyObject* full_state(PyObject*, PyObject* controller) {
    return guard([&]() -> PyObject* {
        Ref (*reader)(PyObject*) = nullptr;
        if (single_instance<CfdlController>(controller)) reader = reset_value<CfdlController>;
        if (single_instance<PfdlController>(controller)) reader = reset_value<PfdlController>;
        if (single_instance<FfdlController>(controller)) reader = reset_value<FfdlController>;
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
