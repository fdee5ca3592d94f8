// module_def.hpp — the definition of an extension module with multi-phase initialisation:
// its name, docstring, module-level functions, state, exec step and the interpreters it
// loads in, every field named, made once by the module's PyInit function.
#pragma once

#include <array>
#include <type_traits>

#include "python/binding/errors.hpp"
#include "python/binding/interpreter.hpp"
#include "python/binding/py.hpp"

namespace vorn::py {

// The interpreters a module loads in.
//   Isolated: any, each with its own GIL; everything the module holds lives in its state
//     (one per interpreter) and nothing it caches for the process crosses interpreters.
//   MainOnly: the main one alone, for a module whose dependency refuses subinterpreters.
//     The slot makes an isolated subinterpreter refuse the import; a legacy one ignores it,
//     so the exec step refuses there too, with the same ImportError, before any of the
//     module is touched.
enum class Interpreters { Isolated, MainOnly };

template <Interpreters Where>
PyModuleDef_Slot interpreters_slot() {
    return {Py_mod_multiple_interpreters, Where == Interpreters::Isolated ? Py_MOD_PER_INTERPRETER_GIL_SUPPORTED
                                                                          : Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED};
}

inline bool refuse_outside_main(PyObject* module) {
    if (in_main_interpreter()) return true;
    PyErr_Format(PyExc_ImportError, "module %s does not support loading in subinterpreters", PyModule_GetName(module));
    return false;
}

// The slots of a module: its exec step, which checks the interpreter where it must and then
// runs `Exec` (when given) so that no C++ exception leaves it, and the interpreters it loads in.
template <Interpreters Where, int (*Exec)(PyObject*)>
auto module_slots() {
    int (*const exec)(PyObject*) = [](PyObject* module) {
        if (Where == Interpreters::MainOnly && !refuse_outside_main(module)) return -1;
        if constexpr (Exec != nullptr) {
            return guard([&] { return Exec(module); });
        } else {
            return 0;
        }
    };
    return std::to_array<PyModuleDef_Slot>(
        {{Py_mod_exec, reinterpret_cast<void*>(exec)}, interpreters_slot<Where>(), {0, nullptr}});
}

// The steps the collector and the interpreter run on a module's `State`: a standard-layout
// record of strong references, zeroed at the module's creation, with traverse(visit, arg)
// and clear(). Python calls neither before the state exists.
template <class State>
struct StateSteps {
    static_assert(std::is_standard_layout_v<State> && std::is_trivially_copyable_v<State>,
                  "a module's state is zeroed memory, read without construction");
    static State* of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }
    static int traverse(PyObject* module, visitproc visit, void* arg) {
        State* state = of(module);
        return state ? state->traverse(visit, arg) : 0;
    }
    static int clear(PyObject* module) {
        if (State* state = of(module)) state->clear();
        return 0;
    }
    static void free(void* module) { clear(static_cast<PyObject*>(module)); }
};

// What PyInit_<name> returns. `functions` are added to the module before `Exec` runs; they
// receive the module, and through it its `State` (none when State is void).
template <Interpreters Where, class State = void, int (*Exec)(PyObject*) = nullptr>
PyObject* init_module(const char* name, const char* doc, PyMethodDef* functions = nullptr) {
    static auto slots = module_slots<Where, Exec>();
    static PyModuleDef def = [&] {
        PyModuleDef d{
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
        if constexpr (!std::is_void_v<State>) {
            d.m_size = static_cast<Py_ssize_t>(sizeof(State));
            d.m_traverse = StateSteps<State>::traverse;
            d.m_clear = StateSteps<State>::clear;
            d.m_free = StateSteps<State>::free;
        }
        return d;
    }();
    return PyModuleDef_Init(&def);
}

}  // namespace vorn::py
