// arrays.cpp — reading arguments as float64 values of a known shape, and making result arrays.
#include "python/fleet/arrays.hpp"

#include <bit>
#include <cstring>

#include "python/binding/convert.hpp"

namespace vorn::py::fleet {

namespace {

// numpy.asarray, numpy.empty, numpy.ndarray and the dtypes the fleets create, kept for
// the process (like the type objects of the classes).
PyObject* np_asarray = nullptr;
PyObject* np_empty = nullptr;
PyObject* np_ndarray = nullptr;
PyObject* np_float64 = nullptr;
PyObject* np_bool = nullptr;
PyObject* np_masked_array = nullptr;

std::string shape_text(const Py_ssize_t* shape, int ndim) {
    std::string s = "(";
    for (int i = 0; i < ndim; ++i) s += (i ? ", " : "") + std::to_string(shape[i]);
    return s + (ndim == 1 ? ",)" : ")");
}

std::string expected_text(const Shape& e) {
    std::string s = "(";
    s += std::to_string(e.rows);
    s += e.cols ? ", " + std::to_string(e.cols) + ")" : std::string(",)");
    if (e.broadcast) {
        s += e.cols ? " or (" : " or a scalar";
        if (e.cols) s += std::to_string(e.cols) + ",)";
    }
    return s;
}

bool is_float64(const char* f) {
    const char native = std::endian::native == std::endian::little ? '<' : '>';
    if (f && (*f == '@' || *f == '=' || *f == native)) ++f;
    return f && f[0] == 'd' && f[1] == '\0';
}

// Checks the buffer's shape against `e`; sets out.size/out.scalar. ValueError otherwise.
bool fit_shape(const Py_buffer& v, const char* name, const Shape& e, Doubles& out) {
    const auto dim = [&](int i) { return static_cast<std::size_t>(v.shape[i]); };
    if (v.ndim == 0 && e.broadcast && e.cols == 0) {
        out.scalar = true;
        out.size = 1;
        return true;
    }
    if (v.ndim == 1 && e.cols == 0 && dim(0) == e.rows) {
        out.size = e.rows;
        return true;
    }
    if (v.ndim == 1 && e.cols && e.broadcast && dim(0) == e.cols) {
        out.scalar = true;
        out.size = e.cols;
        return true;
    }
    if (v.ndim == 2 && e.cols && dim(0) == e.rows && dim(1) == e.cols) {
        out.size = e.rows * e.cols;
        return true;
    }
    const std::string message =
        std::string(name) + " has shape " + shape_text(v.shape, v.ndim) + ", expected " + expected_text(e);
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

bool c_contiguous(const Py_buffer& v) {
    Py_ssize_t expect = v.itemsize;
    for (int i = v.ndim - 1; i >= 0; --i) {
        if (v.shape[i] > 1 && v.strides[i] != expect) return false;
        expect *= v.shape[i];
    }
    return true;
}

// Copies a float64 buffer of any strides, in C order.
void copy_strided(const Py_buffer& v, std::vector<double>& to, std::size_t size) {
    to.resize(size);
    const char* base = static_cast<const char*>(v.buf);
    if (v.ndim == 0) {
        std::memcpy(to.data(), base, sizeof(double));
    } else if (v.ndim == 1) {
        for (std::size_t i = 0; i < size; ++i) std::memcpy(&to[i], base + static_cast<Py_ssize_t>(i) * v.strides[0], 8);
    } else {
        const auto cols = static_cast<std::size_t>(v.shape[1]);
        for (std::size_t i = 0; i < size; ++i) {
            const Py_ssize_t r = static_cast<Py_ssize_t>(i / cols), c = static_cast<Py_ssize_t>(i % cols);
            std::memcpy(&to[i], base + r * v.strides[0] + c * v.strides[1], 8);
        }
    }
}

// What a read does with a contiguous float64 buffer: copy it, pin it, or leave it to pin().
enum class Pin { No, Now, Later };

// Reads a float64 buffer of `o` into `out`; pins it when contiguous as `pin` says.
// Returns 1 on success, 0 when `o` exports no float64 buffer (no exception), -1 on error.
// A float64 buffer of any number of dimensions is judged by its shape.
int from_float64_buffer(PyObject* o, const char* name, const Shape& e, Pin pin, Doubles& out) {
    Py_buffer v;
    if (PyObject_GetBuffer(o, &v, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();
        return 0;
    }
    if (!is_float64(v.format) || v.itemsize != sizeof(double)) {
        PyBuffer_Release(&v);
        return 0;
    }
    if (!fit_shape(v, name, e, out)) {
        PyBuffer_Release(&v);
        return -1;
    }
    if (pin == Pin::Later && c_contiguous(v)) {
        PyBuffer_Release(&v);
        out.pending = Ref::borrow(o);
        out.pending_name = name;
        out.pending_shape = e;
        return 1;
    }
    if (pin == Pin::Now && c_contiguous(v)) {
        out.view = v;
        out.held = true;
        out.data = static_cast<const double*>(v.buf);
        return 1;
    }
    copy_strided(v, out.copy, out.size);
    out.data = out.copy.data();
    PyBuffer_Release(&v);
    return 1;
}

bool read_any(PyObject* o, const char* name, const Shape& e, Doubles& out, Pin pin) {
    // Plain numbers first: the common scalar argument costs no array.
    if (e.broadcast && e.cols == 0 &&
        (PyFloat_Check(o) || PyLong_Check(o) || (!PyObject_CheckBuffer(o) && !PySequence_Check(o)))) {
        out.copy.assign(1, 0.0);
        if (!convert(o, out.copy[0])) return false;
        out.data = out.copy.data();
        out.size = 1;
        out.scalar = true;
        return true;
    }
    if (Py_IS_TYPE(o, reinterpret_cast<PyTypeObject*>(np_ndarray))) {
        const int r = from_float64_buffer(o, name, e, pin, out);
        if (r != 0) return r > 0;
    }
    // numpy.asarray would drop the mask and hand over the hidden values as if they were data.
    const int masked = PyObject_IsInstance(o, np_masked_array);
    if (masked < 0) return false;
    if (masked) {
        PyErr_Format(PyExc_TypeError, "%s is a masked array; fill its masked entries first (numpy.ma.filled)", name);
        return false;
    }
    Ref arr(PyObject_CallFunctionObjArgs(np_asarray, o, nullptr));
    if (!arr) return false;
    Ref dtype(PyObject_GetAttrString(arr.get(), "dtype"));
    Ref kind(dtype ? PyObject_GetAttrString(dtype.get(), "kind") : nullptr);
    if (!kind) return false;
    const char* k = PyUnicode_AsUTF8AndSize(kind.get(), nullptr);
    if (!k) return false;
    if (k[0] == '\0' || !std::strchr("biuf", k[0])) {
        PyErr_Format(PyExc_TypeError, "%s must hold real numbers, not values of dtype %S", name, dtype.get());
        return false;
    }
    Ref f64(PyObject_CallMethod(arr.get(), "astype", "O", np_float64));
    if (!f64) return false;
    const int r = from_float64_buffer(f64.get(), name, e, Pin::No, out);
    if (r == 0) PyErr_Format(PyExc_TypeError, "%s did not convert to float64 values", name);
    return r > 0;
}

}  // namespace

bool init_numpy() {
    if (np_empty) return true;
    Ref np(PyImport_ImportModule("numpy"));
    if (!np) return false;
    Ref asarray(PyObject_GetAttrString(np.get(), "asarray"));
    Ref empty(PyObject_GetAttrString(np.get(), "empty"));
    Ref ndarray(PyObject_GetAttrString(np.get(), "ndarray"));
    Ref float64(PyObject_GetAttrString(np.get(), "float64"));
    Ref bool_(PyObject_GetAttrString(np.get(), "bool_"));
    Ref ma(PyImport_ImportModule("numpy.ma"));
    Ref masked_array(ma ? PyObject_GetAttrString(ma.get(), "MaskedArray") : nullptr);
    if (!asarray || !empty || !ndarray || !float64 || !bool_ || !masked_array) return false;
    np_masked_array = masked_array.release();
    np_asarray = asarray.release();
    np_ndarray = ndarray.release();
    np_float64 = float64.release();
    np_bool = bool_.release();
    np_empty = empty.release();
    return true;
}

void Doubles::release() {
    if (held) {
        PyBuffer_Release(&view);
        held = false;
    }
}

void Doubles::own() {
    if (!held) return;
    copy.assign(data, data + size);
    data = copy.data();
    release();
}

bool Doubles::overlaps(const void* p, std::size_t bytes) const {
    const auto a = reinterpret_cast<std::uintptr_t>(data), b = reinterpret_cast<std::uintptr_t>(p);
    return size && bytes && a < b + bytes && b < a + size * sizeof(double);
}

bool read_doubles(PyObject* o, const char* name, const Shape& shape, Doubles& out, bool defer) {
    return read_any(o, name, shape, out, defer ? Pin::Later : Pin::Now) || add_note(name);
}

PyTypeObject* ndarray_type() { return reinterpret_cast<PyTypeObject*>(np_ndarray); }

bool Doubles::pin_pending() {
    // An exact numpy.ndarray: its buffer and, should its dtype have been changed meanwhile,
    // its conversion run numpy's code alone.
    const Ref o = std::move(pending);
    data = nullptr;
    size = 0;
    scalar = false;
    return read_doubles(o.get(), pending_name, pending_shape, *this);
}

namespace {

Ref empty_of(std::size_t rows, std::size_t cols, PyObject* dtype, void*& data) {
    // numpy.empty(rows) makes float64 by default: the common call passes one int and no dtype.
    Ref shape(cols ? Py_BuildValue("(nn)", static_cast<Py_ssize_t>(rows), static_cast<Py_ssize_t>(cols))
                   : PyLong_FromSsize_t(static_cast<Py_ssize_t>(rows)));
    if (!shape) return Ref();
    PyObject* args[] = {shape.get(), dtype};
    const bool plain = dtype == np_float64;
    Ref arr(PyObject_Vectorcall(np_empty, args, plain ? 1 : 2, nullptr));
    if (!arr) return arr;
    Py_buffer v;
    if (PyObject_GetBuffer(arr.get(), &v, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) return Ref();
    // The array owns its memory and nobody else holds it yet: the pointer stays valid.
    data = v.buf;
    PyBuffer_Release(&v);
    return arr;
}

}  // namespace

Ref new_array(std::size_t rows, std::size_t cols, double*& data) {
    void* p = nullptr;
    Ref arr = empty_of(rows, cols, np_float64, p);
    data = static_cast<double*>(p);
    return arr;
}

Ref new_flags(std::size_t rows, unsigned char*& data) {
    void* p = nullptr;
    Ref arr = empty_of(rows, 0, np_bool, p);
    data = static_cast<unsigned char*>(p);
    return arr;
}

double* writable_out(PyObject* o, std::size_t n, Doubles& pin, std::ptrdiff_t& stride) {
    Py_buffer v;
    if (PyObject_GetBuffer(o, &v, PyBUF_RECORDS) < 0) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "out must be a writable float64 array");
        add_note("out");
        return nullptr;
    }
    const bool doubles = is_float64(v.format) && v.itemsize == sizeof(double);
    if (!doubles || v.ndim != 1 || static_cast<std::size_t>(v.shape[0]) != n) {
        // A wrong element type is a TypeError, a wrong shape a ValueError.
        const std::string message = doubles ? "out has shape " + shape_text(v.shape, v.ndim) + ", expected (" +
                                                  std::to_string(n) + ",)"
                                            : std::string("out must be a writable float64 array");
        PyBuffer_Release(&v);
        PyErr_SetString(doubles ? PyExc_ValueError : PyExc_TypeError, message.c_str());
        add_note("out");
        return nullptr;
    }
    pin.view = v;
    pin.held = true;
    pin.size = n;
    pin.data = static_cast<const double*>(v.buf);
    stride = v.strides[0];
    return static_cast<double*>(v.buf);
}

}  // namespace vorn::py::fleet
