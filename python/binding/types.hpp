// types.hpp — instances that hold one core object by value, the heap types that carry
// them, kept in the state of the module that made them, and registration of module members
// (attribute plus `__all__` entry).
#pragma once

#include <cstddef>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/binding/access.hpp"
#include "python/binding/ref.hpp"

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

// What a class consists of: plain data, shared by the process. Each instance of the module
// (one per interpreter) makes its own type object from it and keeps it in its state.
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
};

// The classes one module instance made, each beside the definition it was made from. Every
// module state begins with one (zeroed memory is an empty table); the table holds a strong
// reference to each type, which the module's traverse and clear steps visit and drop.
struct ClassTable {
    static constexpr std::size_t kCapacity = 8;
    const ClassDef* defs[kCapacity];
    PyObject* types[kCapacity];
    std::size_t count;

    int traverse(visitproc visit, void* arg) const;
    void clear();
};
static_assert(std::is_standard_layout_v<ClassTable> && std::is_trivially_copyable_v<ClassTable>,
              "a module's state is zeroed memory, read without construction");

// The class table of `module`, one of this project's modules.
inline ClassTable& classes_of(PyObject* module) { return *static_cast<ClassTable*>(PyModule_GetState(module)); }

template <class Core>
constexpr int instance_size() {
    return static_cast<int>(sizeof(Instance<Core>));
}

// The type object that `module` made from `def`: a heap type of base object that cannot be
// subclassed and has neither an instance dictionary nor weak references. Borrowed; null with
// an exception set when the module has made none.
PyTypeObject* type_object(PyObject* module, const ClassDef& def);
// The same, for the module that made `cls` (one of this project's classes, which cannot be
// subclassed: an instance's exact type leads to its module).
PyTypeObject* type_object(PyTypeObject* cls, const ClassDef& def);

// Sets `module.<name>` and appends `name` to `module.__all__` (creating the list).
int add_member(PyObject* module, const char* name, PyObject* value);
// Makes the class's type for `module`, keeps it in the module's class table and registers it
// under its bare name.
int add_class(PyObject* module, const char* name, const ClassDef& def);

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

// A method table from its parts in order (entries, or arrays of entries), ended by the
// sentinel. It lives as long as the process, as the type that reads it does.
template <class... Parts>
PyMethodDef* method_table(const Parts&... parts) {
    auto* table = new std::vector<PyMethodDef>();
    auto append = [&](const auto& part) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(part)>, PyMethodDef>) {
            table->push_back(part);
        } else {
            table->insert(table->end(), std::begin(part), std::end(part));
        }
    };
    (append(parts), ...);
    table->push_back(end_of_methods());
    return table->data();
}

}  // namespace vorn::py
