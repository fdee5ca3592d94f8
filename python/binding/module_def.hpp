// module_def.hpp — the definition of an extension module with multi-phase initialisation:
// its name, docstring, module-level functions and exec step, every field named, made once
// by the module's PyInit function.
#pragma once

#include <array>

#include "python/binding/errors.hpp"
#include "python/binding/py.hpp"

namespace vorn::py {

// The interpreters a module loads in: the main one alone. The classes are process-wide
// static types and the modules keep what they fetch (numpy, the controller classes) for
// the process. The slot makes an isolated subinterpreter refuse the import; a legacy one
// ignores it, so the exec step refuses there too, with the same ImportError, before any
// of the module is touched.
inline constexpr PyModuleDef_Slot kMainInterpreterOnly{Py_mod_multiple_interpreters,
                                                      Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED};

inline bool in_main_interpreter(PyObject* module) {
    if (PyInterpreterState_GetID(PyInterpreterState_Get()) == 0) return true;
    PyErr_Format(PyExc_ImportError, "module %s does not support loading in subinterpreters", PyModule_GetName(module));
    return false;
}

// The slots of a module: its exec step, which checks the interpreter and then runs `Exec`
// (when given) so that no C++ exception leaves it, and the interpreters it loads in.
template <int (*Exec)(PyObject*)>
auto module_slots() {
    int (*const exec)(PyObject*) = [](PyObject* module) {
        if (!in_main_interpreter(module)) return -1;
        if constexpr (Exec != nullptr) {
            return guard([&] { return Exec(module); });
        } else {
            return 0;
        }
    };
    return std::to_array<PyModuleDef_Slot>(
        {{Py_mod_exec, reinterpret_cast<void*>(exec)}, kMainInterpreterOnly, {0, nullptr}});
}

// What PyInit_<name> returns. `functions` are added to the module before `Exec` runs.
template <int (*Exec)(PyObject*) = nullptr>
PyObject* init_module(const char* name, const char* doc, PyMethodDef* functions = nullptr) {
    static auto slots = module_slots<Exec>();
    static PyModuleDef def{
        .m_base = PyModuleDef_HEAD_INIT,
        .m_name = name,
        .m_doc = doc,
        .m_size = 0,
        .m_methods = functions,
        .m_slots = slots.data(),
        .m_traverse = nullptr,
        .m_clear = nullptr,
        .m_free = nullptr,
    };
    return PyModuleDef_Init(&def);
}

}  // namespace vorn::py
