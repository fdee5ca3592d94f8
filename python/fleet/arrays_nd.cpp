// arrays_nd.cpp — results of any shape, the (n, dim) `out` and stacks of layers.
#include "python/fleet/arrays_nd.hpp"

#include <vector>

#include "python/binding/convert.hpp"
#include "python/binding/errors.hpp"

namespace vorn::py::fleet {

namespace {

Ref shape_tuple(const std::vector<std::size_t>& shape) {
    Ref t(PyTuple_New(static_cast<Py_ssize_t>(shape.size())));
    if (!t) return t;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        PyObject* v = PyLong_FromSize_t(shape[i]);
        if (!v) return Ref();
        PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), v);
    }
    return t;
}

std::string dims_message(const std::string& label, const char* what, std::size_t given, std::size_t dim) {
    return label + " " + what + " " + std::to_string(given) + " ≠ dim " + std::to_string(dim);
}

}  // namespace

Ref new_array_nd(std::initializer_list<std::size_t> shape, double*& data) {
    const std::vector<std::size_t> dims(shape);
    Ref numpy(PyImport_ImportModule("numpy"));
    Ref t = shape_tuple(dims);
    if (!numpy || !t) return Ref();
    Ref arr(PyObject_CallMethod(numpy.get(), "empty", "(O)", t.get()));
    if (!arr) return arr;
    Py_buffer v;
    if (PyObject_GetBuffer(arr.get(), &v, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) return Ref();
    // The array owns its memory and nobody else holds it yet: the pointer stays valid.
    data = static_cast<double*>(v.buf);
    PyBuffer_Release(&v);
    return arr;
}

double* writable_out_2d(PyObject* o, std::size_t rows, std::size_t cols, Doubles& pin) {
    Py_buffer v;
    const char* wrong_type = "out must be a writable C-contiguous float64 array";
    if (PyObject_GetBuffer(o, &v, PyBUF_RECORDS) < 0) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, wrong_type);
        add_note("out");
        return nullptr;
    }
    const char* f = v.format;
    if (f && (*f == '@' || *f == '=' || *f == '<')) ++f;
    const bool doubles = f && f[0] == 'd' && f[1] == '\0' && v.itemsize == sizeof(double);
    const bool shape_ok = v.ndim == 2 && static_cast<std::size_t>(v.shape[0]) == rows &&
                          static_cast<std::size_t>(v.shape[1]) == cols;
    const bool contiguous = shape_ok && PyBuffer_IsContiguous(&v, 'C');
    if (!doubles || !shape_ok || !contiguous) {
        std::string message = wrong_type;
        if (doubles && !shape_ok) {
            message = "out has shape (";
            for (int i = 0; i < v.ndim; ++i) message += (i ? ", " : "") + std::to_string(v.shape[i]);
            message += std::string(v.ndim == 1 ? ",)" : ")") + ", expected (" + std::to_string(rows) + ", " +
                       std::to_string(cols) + ")";
        }
        PyBuffer_Release(&v);
        PyErr_SetString(doubles && !shape_ok ? PyExc_ValueError : PyExc_TypeError, message.c_str());
        add_note("out");
        return nullptr;
    }
    pin.view = v;
    pin.held = true;
    pin.size = rows * cols;
    pin.data = static_cast<const double*>(v.buf);
    return static_cast<double*>(v.buf);
}

bool read_layers(PyObject* o, const char* name, const LayerShape& e, bool compact, Doubles& out) {
    Ref numpy(PyImport_ImportModule("numpy"));
    Ref arr(numpy ? PyObject_CallMethod(numpy.get(), "asarray", "(O)", o) : nullptr);
    Ref shape(arr ? PyObject_GetAttrString(arr.get(), "shape") : nullptr);
    if (!shape) return add_note(name);
    std::vector<std::size_t> dims;
    for (Py_ssize_t i = 0; i < PyTuple_Size(shape.get()); ++i) {
        dims.push_back(PyLong_AsSize_t(PyTuple_GetItem(shape.get(), i)));
    }
    if (PyErr_Occurred()) return add_note(name);
    // The member axis, when present, comes first; then layers, rows and columns.
    const bool per_member = dims.size() == 4 && dims[0] == e.n;
    if (per_member || dims.size() == 3) {
        const std::size_t* d = dims.data() + (per_member ? 1 : 0);
        const std::size_t d2 = e.dim * e.dim;
        if (d[0] != e.layers) {
            raise_value_error(std::string(e.upper) + " 的 phi 层数应为 " + std::to_string(e.layers) + "，实际为 " +
                              std::to_string(d[0]));
            return add_note(name);
        }
        const std::string label = compact ? "phi" : "phi[0]";
        if (d[1] != e.dim) return raise_value_error(dims_message(label, "行数", d[1], e.dim)), add_note(name);
        if (d[2] != e.dim) return raise_value_error(dims_message(label, "列数", d[2], e.dim)), add_note(name);
        // Read as a matrix of one row of layers per member, through the one reader of values.
        const std::size_t rows = per_member ? e.n : 1;
        Ref flat(PyObject_CallMethod(arr.get(), "reshape", "nn", static_cast<Py_ssize_t>(rows),
                                     static_cast<Py_ssize_t>(e.layers * d2)));
        if (!flat) return add_note(name);
        if (!read_doubles(flat.get(), name, Shape{rows, e.layers * d2}, out)) return false;
        out.scalar = !per_member;
        return true;
    }
    std::string message = std::string(name) + " has shape (";
    for (std::size_t i = 0; i < dims.size(); ++i) message += (i ? ", " : "") + std::to_string(dims[i]);
    message += std::string(dims.size() == 1 ? ",)" : ")") + ", expected (" + std::to_string(e.n) + ", " +
               std::to_string(e.layers) + ", " + std::to_string(e.dim) + ", " + std::to_string(e.dim) + ") or (" +
               std::to_string(e.layers) + ", " + std::to_string(e.dim) + ", " + std::to_string(e.dim) + ")";
    raise_value_error(message);
    return add_note(name);
}

}  // namespace vorn::py::fleet
