// step_inputs.hpp — the inputs of a fleet's step call, y and yd, read as float64 values of
// their shapes. When no argument of the call (out included) can run Python code of the
// caller's while it is read, each input is pinned as it is read: one buffer export per
// array. Otherwise every read is deferred to Doubles::pin(), which the call runs after its
// last conversion, so that such code cannot move memory the step would then read. (What
// the call does after its reads, numpy.empty for a result, runs no bytecode, and so no
// finalizer of the caller's: the collector runs only between bytecodes.)
#pragma once

#include "python/fleet/arrays.hpp"

namespace vorn::py::fleet {

template <class Call>
bool read_step_inputs(const Call& call, const Shape& y_shape, const Shape& yd_shape, Doubles& y, Doubles& yd) {
    PyTypeObject* const nd = ndarray_type();
    const bool defer = !(reads_without_python(call.raw(0), nd) && reads_without_python(call.raw(1), nd) &&
                         reads_without_python(call.raw(2), nd));
    return read_doubles(call.raw(0), "y", y_shape, y, defer) && read_doubles(call.raw(1), "yd", yd_shape, yd, defer);
}

}  // namespace vorn::py::fleet
