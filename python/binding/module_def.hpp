// module_def.hpp — the definition of an extension module with multi-phase initialisation:
// its name, docstring, module-level functions and exec step, every field named, made once
// by the module's PyInit function.
#pragma once

#include <array>

#include "python/binding/errors.hpp"
#include "python/binding/py.hpp"

namespace vorn::py {

// The slots of a module: its exec step `Exec`, run so that no C++ exception leaves it, or
// none when there is no exec step.
template <int (*Exec)(PyObject*)>
auto module_slots() {
    if constexpr (Exec != nullptr) {
        int (*const exec)(PyObject*) = [](PyObject* module) { return guard([&] { return Exec(module); }); };
        return std::to_array<PyModuleDef_Slot>({{Py_mod_exec, reinterpret_cast<void*>(exec)}, {0, nullptr}});
    } else {
        return std::to_array<PyModuleDef_Slot>({{0, nullptr}});
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
