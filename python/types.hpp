// types.hpp — instances that hold one core object by value, the heap types that carry
// them, and registration of module members (attribute plus `__all__` entry).
#pragma once

#include <new>
#include <utility>

#include "python/access.hpp"
#include "python/ref.hpp"

namespace vorn::py {

// The object layout of every class: the header, the access state and the core by value.
// Shared between extension modules: vorn._vorn_fleet, built from these same headers in the
// same build, reaches the core of a vorn._vorn_core controller through this layout (after
// checking the object's exact type) and honours its access state. A change here changes
// both modules together.
template <class Core>
struct Instance {
    PyObject_HEAD
    AccessState access;
    Core core;
};

template <class Core>
Instance<Core>& instance(PyObject* self) {
    return *reinterpret_cast<Instance<Core>*>(self);
}

// Allocates an instance of `type` and moves a fully built core into it.
template <class Core>
PyObject* new_instance(PyTypeObject* type, Core&& core) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    auto* inst = reinterpret_cast<Instance<Core>*>(self);
    new (&inst->access) AccessState();
    new (&inst->core) Core(std::move(core));
    return self;
}

// Destroys the core, frees the object and drops the reference every instance holds on its type.
template <class Core>
void dealloc_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* inst = reinterpret_cast<Instance<Core>*>(self);
    inst->core.~Core();
    inst->access.~AccessState();
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
}

// What a class consists of; the type object is made from it once per process.
struct ClassDef {
    const char* qualified_name;  // "vorn._vorn_core.<Class>"
    int basic_size;
    const char* doc;
    newfunc new_fn;
    reprfunc repr_fn;
    destructor dealloc_fn;
    PyMethodDef* methods;
    PyGetSetDef* getset = nullptr;
    const PyType_Slot* extra_slots = nullptr;  // further slots (e.g. mapping), ended by {0, nullptr}
    PyObject* type = nullptr;  // created on first use, kept for the process
};

template <class Core>
constexpr int instance_size() {
    return static_cast<int>(sizeof(Instance<Core>));
}

// The type object of `def`: a heap type of base object that cannot be subclassed and has
// neither an instance dictionary nor weak references. Borrowed; null with an exception set.
PyTypeObject* type_object(ClassDef& def);

// Sets `module.<name>` and appends `name` to `module.__all__` (creating the list).
int add_member(PyObject* module, const char* name, PyObject* value);
// Creates the class's type and registers it under its bare name.
int add_class(PyObject* module, const char* name, ClassDef& def);

// Method table entries.
using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
using NoArgsMethod = PyObject* (*)(PyObject*, PyObject*);

inline PyMethodDef method(const char* name, FastMethod fn, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)), METH_FASTCALL | METH_KEYWORDS, doc};
}
inline PyMethodDef method(const char* name, NoArgsMethod fn, const char* doc) {
    return {name, fn, METH_NOARGS, doc};
}
inline PyMethodDef end_of_methods() { return {nullptr, nullptr, 0, nullptr}; }

}  // namespace vorn::py
