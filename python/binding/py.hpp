// py.hpp — the one way this module includes CPython: limited C API of 3.12.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030C0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static_assert(Py_LIMITED_API == 0x030C0000, "built against the limited C API of CPython 3.12");
