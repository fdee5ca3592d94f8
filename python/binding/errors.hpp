// errors.hpp — core error values and C++ exceptions turned into Python exceptions.
#pragma once

#include <new>
#include <string>
#include <type_traits>

#include "core/checked_size.hpp"
#include "python/binding/py.hpp"

namespace vorn::py {

// ValueError carrying exactly `message`; returns null for the caller to return.
inline PyObject* raise_value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return nullptr;
}

// Any core error value (ParamError, MimoParamError, TuningError, ...): ValueError with its text.
template <class E>
PyObject* raise_error(const E& error) {
    return raise_value_error(error.message());
}

// Runs `body` so that no C++ exception reaches the interpreter.
template <class F>
auto guard(F&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unexpected internal error in vorn._vorn_core");
    }
    if constexpr (std::is_pointer_v<decltype(body())>) {
        return nullptr;
    } else {
        return -1;
    }
}

// Refuses, before anything is allocated, a state whose byte count overflows a machine word
// (OverflowError) or exceeds the machine's physical memory (MemoryError).
bool check_storage(Size bytes);

}  // namespace vorn::py
