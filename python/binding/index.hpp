// index.hpp — reading a Python index into a sequence of known length: negative indices
// count from the end, anything out of range is an IndexError.
#pragma once

#include <cstddef>
#include <optional>

#include "python/binding/py.hpp"

namespace vorn::py {

// The position `key` names among `count` items, or nullopt with the error set: the
// conversion's own error, or IndexError(out_of_range) past either end.
inline std::optional<std::size_t> sequence_index(PyObject* key, std::size_t count, const char* out_of_range) {
    const auto n = static_cast<Py_ssize_t>(count);
    Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return std::nullopt;
    if (i < 0) i += n;
    if (i < 0 || i >= n) {
        PyErr_SetString(PyExc_IndexError, out_of_range);
        return std::nullopt;
    }
    return static_cast<std::size_t>(i);
}

}  // namespace vorn::py
