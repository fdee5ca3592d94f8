// arrays.hpp — NumPy arrays in and out of the fleet classes, through the buffer protocol
// (the limited C API has no NumPy C API): arguments read as float64 values of a known
// shape, pinned in place when they already are contiguous float64, copied otherwise;
// results created by numpy.empty and filled through their buffers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "python/binding/ref.hpp"

namespace vorn::py::fleet {

// Imports numpy once per process; false with the exception set.
bool init_numpy();

// The accepted shapes of an argument: `rows` × `cols` (cols 0: one-dimensional of `rows`),
// or, when `broadcast` is set, one row of `cols` (or a scalar when cols is 0) for everyone.
struct Shape {
    std::size_t rows;
    std::size_t cols = 0;
    bool broadcast = false;
};

// float64 values read from an argument. `data` points into the argument's own buffer
// (held, so the object cannot resize or free it) or into `copy`. A read with `defer`
// set leaves a contiguous float64 array unpinned (`data` null) until pin(): a call that
// converts several arguments pins only after every conversion that can run Python code,
// since such code may reallocate an array's memory even while its buffer is held.
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

    // Pins the array left by a deferred read, checking its shape again (Python code that ran
    // since may have changed it); runs no Python code of the caller's. True when there is none.
    bool pin() { return !pending || pin_pending(); }

    std::vector<double> copy;
    Py_buffer view{};
    bool held = false;
    void release();

    // What a deferred read left to pin: the array, its parameter's name and expected shape.
    Ref pending;
    const char* pending_name = nullptr;
    Shape pending_shape{0};

private:
    bool pin_pending();
};


// Reads `o` as float64 values of `shape`. Float and integer data convert; strings,
// objects and complex numbers raise TypeError, a wrong shape ValueError naming `name` and
// both shapes; every failure adds the note naming `name`.
// With `defer`, a contiguous float64 array is pinned only by out.pin().
bool read_doubles(PyObject* o, const char* name, const Shape& shape, Doubles& out, bool defer = false);

// numpy.ndarray itself (after init_numpy).
PyTypeObject* ndarray_type();

// True when reading `o` as arguments are read runs no Python code of the caller's: `o` is
// absent, None, an exact float or int, or an exact numpy.ndarray (`ndarray`, whose buffer
// and conversion are numpy's own code). A call whose arguments all are needs no deferred reads.
inline bool reads_without_python(PyObject* o, PyTypeObject* ndarray) {
    return !o || o == Py_None || PyFloat_CheckExact(o) || PyLong_CheckExact(o) || Py_IS_TYPE(o, ndarray);
}

// A new float64 array of shape (rows,) or (rows, cols) and its writable data.
Ref new_array(std::size_t rows, std::size_t cols, double*& data);
// A new bool array of shape (rows,) and its writable bytes (0 or 1).
Ref new_flags(std::size_t rows, unsigned char*& data);

// A writable float64 array of shape (n,) given as `out`: its data, pinned while `pin`
// lives, or null with ValueError/TypeError set.
double* writable_out(PyObject* o, std::size_t n, Doubles& pin, std::ptrdiff_t& stride);

}  // namespace vorn::py::fleet
