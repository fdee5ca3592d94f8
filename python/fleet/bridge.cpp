// bridge.cpp — the single controller classes seen from the fleet module, and _full_state.
#include "python/fleet/bridge.hpp"

#include <array>
#include <string>

#include "python/binding/access.hpp"
#include "python/binding/convert.hpp"
#include "python/binding/errors.hpp"

namespace vorn::py::fleet {

namespace {

// In DlForm's order; kept for the process.
std::array<PyTypeObject*, forms::kSisoForms.size()> classes{};

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

// The value of the reset row of a controller's state table.
PyObject* reset_value(const CfdlController& c) { return to_py(c.phi_reset()); }
PyObject* reset_value(const PpdVectorController& c) { return to_py(c.initial_phi_vector()); }

// Adds the rows that pickling leaves out to `state`, read under shared access.
template <class Form>
bool add_unpickled(PyObject* o, PyObject* state) {
    Instance<typename Form::Core>* inst = single_instance<typename Form::Core>(o);
    SharedAccess access(inst->access);
    if (!access) return false;
    for (const forms::StateArray& a : forms::kStateRows<Form>) {
        if (a.pickled) continue;
        Ref value(a.role == forms::StateRole::Reset ? reset_value(inst->core) : nullptr);
        if (!value || PyDict_SetItemString(state, a.key, value.get()) < 0) return false;
    }
    return true;
}

// "CFDLController | PFDLController | FFDLController"
const char* class_names() {
    static const std::string names = [] {
        std::string s;
        for (const forms::Descriptor& d : forms::kSisoForms) s += (s.empty() ? "" : " | ") + std::string(d.names.single_class);
        return s;
    }();
    return names.c_str();
}

}  // namespace

PyTypeObject* single_class(DlForm form) { return classes[static_cast<std::size_t>(form)]; }

bool init_bridge() {
    if (classes.back()) return true;  // the last one fetched
    Ref core(PyImport_ImportModule("vorn._vorn_core"));
    if (!core) return false;
    return forms::all_siso_forms([&](auto form) {
        return fetch(core.get(), form.names.single_class, classes[static_cast<std::size_t>(form.form)]);
    });
}

PyObject* full_state(PyObject*, PyObject* controller) {
    return guard([&]() -> PyObject* {
        bool (*add)(PyObject*, PyObject*) = nullptr;
        forms::all_siso_forms([&](auto form) {
            if (single_instance<typename decltype(form)::Core>(controller)) add = add_unpickled<decltype(form)>;
            return !add;
        });
        if (!add) {
            fail_not_instance(controller, class_names());
            add_note("controller");
            return nullptr;
        }
        Ref state(PyObject_CallMethod(controller, "__getstate__", nullptr));
        if (!state || !add(controller, state.get())) return nullptr;
        return state.release();
    });
}

}  // namespace vorn::py::fleet
