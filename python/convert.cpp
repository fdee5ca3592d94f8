// convert.cpp — the conversions that are not small enough to inline.
#include "python/convert.hpp"

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
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) return false;
    Ref owned(exc);
    Ref note(PyUnicode_FromFormat("while processing '%s'", name));
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
