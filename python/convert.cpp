// convert.cpp — the conversions that are not small enough to inline.
#include "python/convert.hpp"

#include <bit>
#include <cstring>

namespace vorn::py {

bool fail_not_instance(PyObject* o, const char* expected) {
    if (o == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return false;
    }
    Ref name(PyType_GetName(Py_TYPE(o)));
    if (!name) return false;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), expected);
    return false;
}

bool add_note(const char* name) {
    const std::string text = std::string("while processing '") + name + "'";
    return add_note_text(text.c_str());
}

bool add_note_text(const char* text) {
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) return false;
    Ref owned(exc);
    Ref note(PyUnicode_FromString(text));
    if (note) {
        Ref r(PyObject_CallMethod(exc, "add_note", "O", note.get()));
        if (!r) PyErr_Clear();
    } else {
        PyErr_Clear();
    }
    PyErr_SetRaisedException(owned.release());
    return false;
}

bool convert(PyObject* o, std::uint64_t& out) {
    Ref index;
    if (!PyLong_Check(o)) {
        index = Ref(PyNumber_Index(o));
        if (!index) return false;
        o = index.get();
    }
    const unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool check_sequence(PyObject* o) {
    if (PyUnicode_Check(o)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(o)) return fail_not_instance(o, "Sequence");
    return true;
}

bool read_double_buffer(PyObject* o, std::vector<double>& out) {
    if (PyList_Check(o) || PyTuple_Check(o) || !PyObject_CheckBuffer(o)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(o, &view, PyBUF_FORMAT | PyBUF_STRIDES) < 0) {
        PyErr_Clear();
        return false;
    }
    const char* f = view.format;
    const char native_order = std::endian::native == std::endian::little ? '<' : '>';
    if (f && (*f == '@' || *f == '=' || *f == native_order)) ++f;
    const bool doubles = f && f[0] == 'd' && f[1] == '\0' && view.ndim == 1 && view.itemsize == sizeof(double);
    if (doubles) {
        const auto n = static_cast<std::size_t>(view.shape[0]);
        const Py_ssize_t stride = view.strides[0];
        const char* p = static_cast<const char*>(view.buf);
        out.resize(n);
        for (std::size_t i = 0; i < n; ++i) std::memcpy(&out[i], p + static_cast<Py_ssize_t>(i) * stride, sizeof(double));
    }
    PyBuffer_Release(&view);
    return doubles;
}

PyObject* list_of(const double* values, std::size_t n) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* x = PyFloat_FromDouble(values[i]);
        if (!x) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), x);
    }
    return list.release();
}

}  // namespace vorn::py
