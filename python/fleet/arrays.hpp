// arrays.hpp — NumPy arrays in and out of the fleet classes, through the buffer protocol
// (the limited C API has no NumPy C API): arguments read as float64 values of a known
// shape, pinned in place when they already are contiguous float64, copied otherwise;
// results created by numpy.empty and filled through their buffers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "python/ref.hpp"

namespace vorn::py::fleet {

// Imports numpy once per process; false with the exception set.
bool init_numpy();

// float64 values read from an argument. `data` points into the argument's own buffer
// (held, so the object cannot resize or free it) or into `copy`.
class Doubles {
public:
    Doubles() = default;
    Doubles(const Doubles&) = delete;
    Doubles& operator=(const Doubles&) = delete;
    ~Doubles() { release(); }

    const double* data = nullptr;
    std::size_t size = 0;
    bool scalar = false;  // one value for every member (data[0])

    // The values as an owned copy (no longer pinned to the argument).
    void own();
    // True when [data, data + size) shares memory with [p, p + bytes).
    bool overlaps(const void* p, std::size_t bytes) const;

    std::vector<double> copy;
    Py_buffer view{};
    bool held = false;
    void release();
};

// The accepted shapes of an argument: `rows` × `cols` (cols 0: one-dimensional of `rows`),
// or, when `broadcast` is set, one row of `cols` (or a scalar when cols is 0) for everyone.
struct Shape {
    std::size_t rows;
    std::size_t cols = 0;
    bool broadcast = false;
};

// Reads `o` as float64 values of `shape`. Float and integer data convert; strings,
// objects and complex numbers raise TypeError, a wrong shape ValueError naming `name` and
// both shapes; every failure adds the note naming `name`.
bool read_doubles(PyObject* o, const char* name, const Shape& shape, Doubles& out);

// A new float64 array of shape (rows,) or (rows, cols) and its writable data.
Ref new_array(std::size_t rows, std::size_t cols, double*& data);
// A new bool array of shape (rows,) and its writable bytes (0 or 1).
Ref new_flags(std::size_t rows, unsigned char*& data);

// A writable float64 array of shape (n,) given as `out`: its data, pinned while `pin`
// lives, or null with ValueError/TypeError set.
double* writable_out(PyObject* o, std::size_t n, Doubles& pin, std::ptrdiff_t& stride);

}  // namespace vorn::py::fleet
