// types.cpp — heap-type creation in a module's class table, and module registration.
#include "python/binding/types.hpp"

#include <vector>

namespace vorn::py {

namespace {

// A new heap type made from `def` for `module` (which its instances' type then names).
PyObject* make_type(PyObject* module, const ClassDef& def) {
    std::vector<PyType_Slot> slots = {
        {Py_tp_new, reinterpret_cast<void*>(def.new_fn)},
        {Py_tp_repr, reinterpret_cast<void*>(def.repr_fn)},
        {Py_tp_doc, const_cast<char*>(def.doc)},
        {Py_tp_methods, def.methods},
        {Py_tp_dealloc, reinterpret_cast<void*>(def.dealloc_fn)},
    };
    if (def.getset) slots.push_back({Py_tp_getset, def.getset});
    for (const PyType_Slot* s = def.extra_slots; s && s->slot; ++s) slots.push_back(*s);
    slots.push_back({0, nullptr});
    PyType_Spec type_spec = {
        .name = def.qualified_name,
        .basicsize = def.basic_size,
        .itemsize = 0,
        .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        .slots = slots.data(),
    };
    return PyType_FromModuleAndSpec(module, &type_spec, nullptr);
}

}  // namespace

int ClassTable::traverse(visitproc visit, void* arg) const {
    for (std::size_t i = 0; i < count; ++i) Py_VISIT(types[i]);
    return 0;
}

void ClassTable::clear() {
    for (std::size_t i = 0; i < count; ++i) Py_CLEAR(types[i]);
}

PyTypeObject* type_object(PyObject* module, const ClassDef& def) {
    const ClassTable& table = classes_of(module);
    for (std::size_t i = 0; i < table.count; ++i) {
        if (table.defs[i] == &def && table.types[i]) return reinterpret_cast<PyTypeObject*>(table.types[i]);
    }
    PyErr_Format(PyExc_SystemError, "module %s has no class %s", PyModule_GetName(module), def.qualified_name);
    return nullptr;
}

PyTypeObject* type_object(PyTypeObject* cls, const ClassDef& def) {
    PyObject* module = PyType_GetModule(cls);  // borrowed
    return module ? type_object(module, def) : nullptr;
}

int add_member(PyObject* module, const char* name, PyObject* value) {
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    if (PyModule_AddObjectRef(module, name, value) < 0) return -1;
    Ref text(PyUnicode_FromString(name));
    if (!text) return -1;
    return PyList_Append(all.get(), text.get());
}

int add_class(PyObject* module, const char* name, const ClassDef& def) {
    ClassTable& table = classes_of(module);
    if (table.count == ClassTable::kCapacity) {
        PyErr_Format(PyExc_SystemError, "module %s holds at most %zu classes", PyModule_GetName(module),
                     ClassTable::kCapacity);
        return -1;
    }
    PyObject* type = make_type(module, def);
    if (!type) return -1;
    table.defs[table.count] = &def;
    table.types[table.count] = type;  // the table's reference, dropped by the module's clear step
    ++table.count;
    return add_member(module, name, type);
}

}  // namespace vorn::py
