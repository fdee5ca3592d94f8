// arrays_nd.hpp — the arrays of more than two dimensions that the MIMO fleets take and
// give: results of any shape, a (n, dim) `out`, and stacks of dim×dim layers read with the
// MIMO classes' layer-count and row/column messages.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

#include "python/fleet/arrays.hpp"

namespace vorn::py::fleet {

// A new C-contiguous float64 array of `shape` and its writable data.
Ref new_array_nd(std::initializer_list<std::size_t> shape, double*& data);

// A writable C-contiguous float64 array of shape (rows, cols) given as `out`: its data,
// pinned while `pin` lives, or null with ValueError/TypeError set.
double* writable_out_2d(PyObject* o, std::size_t rows, std::size_t cols, Doubles& pin);

// What a stack of layers must be: n × layers × dim × dim, or (with `broadcast`) one
// layers × dim × dim stack for everyone. `upper` names the form in the layer-count message.
struct LayerShape {
    std::size_t n, layers, dim;
    const char* upper;
};

// Reads `o` as such a stack into `out` (n·layers·dim² values, or layers·dim² with
// out.scalar set). A wrong layer count, row count or column count raises the message of the
// MIMO classes' set_phi_hat; any other shape, or values that are not real, as read_doubles.
bool read_layers(PyObject* o, const char* name, const LayerShape& shape, bool compact, Doubles& out);

}  // namespace vorn::py::fleet
