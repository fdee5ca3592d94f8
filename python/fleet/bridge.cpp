// bridge.cpp — the single controller classes seen from the fleet module, and _full_state.
#include "python/fleet/bridge.hpp"

#include <string>

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

// The value of the reset row of a controller's state table.
PyObject* reset_value(const CfdlController& c) { return to_py(c.phi_reset()); }
PyObject* reset_value(const PpdVectorController& c) { return to_py(c.initial_phi_vector()); }

// Adds the rows that pickling leaves out to `state`, read under shared access. The caller
// has checked the controller's type.
template <class Form>
bool add_unpickled(PyObject* o, PyObject* state) {
    Instance<typename Form::Core>* inst = &instance<typename Form::Core>(o);
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

bool read_controllers(PyObject* cls, const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      PyTypeObject* (*single_class)(PyObject* module), const char* single_name, Controllers& out) {
    PyObject* a[1];
    if (!bind(sig, args, nargs, kwnames, a)) return false;
    out.module = fleet_module(reinterpret_cast<PyTypeObject*>(cls));
    if (!out.module) return false;
    out.items = Ref(PySequence_List(a[0]));
    if (!out.items) return add_note("controllers");
    const auto n = static_cast<std::size_t>(PyList_Size(out.items.get()));
    out.objs.assign(n, nullptr);
    PyTypeObject* const type = single_class(out.module);
    for (std::size_t i = 0; i < n; ++i) {
        out.objs[i] = PyList_GetItem(out.items.get(), static_cast<Py_ssize_t>(i));
        if (!Py_IS_TYPE(out.objs[i], type)) {
            fail_not_instance(out.objs[i], single_name);
            return add_note_text(("controllers[" + std::to_string(i) + "]").c_str());
        }
    }
    return true;
}

int FleetState::traverse(visitproc visit, void* arg) const {
    if (int r = classes.traverse(visit, arg)) return r;
    for (PyObject* single : singles) Py_VISIT(single);
    for (PyObject* single : mimo_singles) Py_VISIT(single);
    return 0;
}

void FleetState::clear() {
    classes.clear();
    for (PyObject*& single : singles) Py_CLEAR(single);
    for (PyObject*& single : mimo_singles) Py_CLEAR(single);
}

bool init_bridge(PyObject* module) {
    Ref core(PyImport_ImportModule("vorn._vorn_core"));
    if (!core) return false;
    PyObject** singles = fleet_state(module).singles;
    if (!forms::all_siso_forms([&](auto form) {
            return fetch(core.get(), form.names.single_class, singles[static_cast<std::size_t>(form.form)]);
        })) {
        return false;
    }
    for (const forms::Descriptor& d : forms::kMimoForms) {
        if (!fetch(core.get(), d.names.single_class, fleet_state(module).mimo_singles[static_cast<std::size_t>(d.form)])) {
            return false;
        }
    }
    return true;
}

PyObject* full_state(PyObject* module, PyObject* controller) {
    return guard([&]() -> PyObject* {
        bool (*add)(PyObject*, PyObject*) = nullptr;
        forms::all_siso_forms([&](auto form) {
            if (single_instance<typename decltype(form)::Core>(module, controller)) add = add_unpickled<decltype(form)>;
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
