// types.cpp — heap-type creation and module registration.
#include "python/types.hpp"

#include <vector>

namespace vorn::py {

PyTypeObject* type_object(ClassDef& def) {
    if (def.type) return reinterpret_cast<PyTypeObject*>(def.type);
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
        def.qualified_name,
        def.basic_size,
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots.data(),
    };
    def.type = PyType_FromSpec(&type_spec);
    return reinterpret_cast<PyTypeObject*>(def.type);
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

int add_class(PyObject* module, const char* name, ClassDef& def) {
    PyTypeObject* type = type_object(def);
    if (!type) return -1;
    return add_member(module, name, reinterpret_cast<PyObject*>(type));
}

}  // namespace vorn::py
