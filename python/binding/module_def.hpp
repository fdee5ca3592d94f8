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
// the process, so a subinterpreter's import is refused with ImportError before any of it
// is touched.
inline constexpr PyModuleDef_Slot kMainInterpreterOnly{Py_mod_multiple_interpreters,
                                                      Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED};

// The slots of a module: its exec step `Exec`, run so that no C++ exception leaves it
// (none when there is no exec step), and the interpreters it loads in.
template <int (*Exec)(PyObject*)>
auto module_slots() {
    if constexpr (Exec != nullptr) {
        int (*const exec)(PyObject*) = [](PyObject* module) { return guard([&] { return Exec(module); }); };
        return std::to_array<PyModuleDef_Slot>(
            {{Py_mod_exec, reinterpret_cast<void*>(exec)}, kMainInterpreterOnly, {0, nullptr}});
    } else {
        return std::to_array<PyModuleDef_Slot>({kMainInterpreterOnly, {0, nullptr}});
    }
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
