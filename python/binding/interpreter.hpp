// interpreter.hpp — which interpreter runs the current call. Process-wide caches of Python
// objects (interned names, a call site's keyword tuple, a recognised type) are filled and read
// in the main interpreter only: it lives as long as the process, so what it made stays its
// own, and only one thread at a time runs it. A subinterpreter, with its own objects, its
// own allocator and possibly its own GIL, takes the uncached path.
#pragma once

#include "python/binding/py.hpp"

namespace vorn::py {

inline bool in_main_interpreter() { return PyInterpreterState_GetID(PyInterpreterState_Get()) == 0; }

}  // namespace vorn::py
