// index.hpp — reading a Python index into a sequence of known length: negative indices
// count from the end, anything out of range is an IndexError; and the length and items of
// an object whose core is such a sequence (its size()), each read under shared access.
#pragma once

#include <cstddef>
#include <optional>

#include "python/binding/call.hpp"
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

// len(self): core.size(); -1 with the error set when the access is refused.
template <class Core>
Py_ssize_t sequence_length(PyObject* self) {
    SharedCall<Core> call(self);
    if (!call) return -1;
    return static_cast<Py_ssize_t>(call.core().size());
}

// self[key]: make(core, i) for the position i that `key` names among core.size(), or
// IndexError(out_of_range); null with the error set.
template <class Core, class Make>
PyObject* sequence_item(PyObject* self, PyObject* key, const char* out_of_range, Make&& make) {
    return read_core<Core>(self, [&](Core& core) -> PyObject* {
        const auto i = sequence_index(key, core.size(), out_of_range);
        if (!i) return nullptr;
        return make(core, *i);
    });
}

}  // namespace vorn::py
