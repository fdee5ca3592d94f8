// convert.hpp — conversions between Python objects and the core's value types.
// A failed conversion returns false with the conversion's own exception set; `arg`
// adds the note "while processing '<name>'" that names the call's parameter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "python/ref.hpp"

namespace vorn::py {

// TypeError "'<type>' object is not an instance of '<expected>'" ("'None' is not ..." for None).
bool fail_not_instance(PyObject* o, const char* expected);
// Adds "while processing '<name>'" to the current exception; returns false.
bool add_note(const char* name);
// Adds `text` as a note to the current exception; returns false.
bool add_note_text(const char* text);

inline bool convert(PyObject* o, double& out) {
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool convert(PyObject* o, std::uint64_t& out);

inline bool convert(PyObject* o, std::optional<double>& out) {
    if (o == Py_None) {
        out.reset();
        return true;
    }
    double v;
    if (!convert(o, v)) return false;
    out = v;
    return true;
}

// Refuses a str, then anything that fails the sequence check.
bool check_sequence(PyObject* o);

// A one-dimensional buffer of C doubles (a NumPy float64 array, array('d'), ...) read in
// one pass: the same values the item-by-item conversion gives. Returns false, with no
// exception set, when `o` exports no such buffer.
bool read_double_buffer(PyObject* o, std::vector<double>& out);

// A sequence whose items each convert to T (T may itself be a vector, for nested lists).
// `out` is reused as a buffer; it is complete only when true is returned.
template <class T>
bool convert(PyObject* o, std::vector<T>& out) {
    if (!check_sequence(o)) return false;
    if constexpr (std::is_same_v<T, double>) {
        if (read_double_buffer(o, out)) return true;
    }
    const Py_ssize_t n = PySequence_Size(o);
    if (n < 0) return false;
    out.clear();
    // A sequence may report any length: reserve modestly and let the items decide.
    out.reserve(static_cast<std::size_t>(std::min<Py_ssize_t>(n, 1 << 12)));
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
        // Indexed, each item held while it converts (a conversion may change the list).
        const bool list = PyList_CheckExact(o);
        for (Py_ssize_t i = 0; i < (list ? PyList_Size(o) : n); ++i) {
            Ref item = Ref::borrow(list ? PyList_GetItem(o, i) : PyTuple_GetItem(o, i));
            T v{};
            if (!convert(item.get(), v)) return false;
            out.push_back(std::move(v));
        }
        return true;
    }
    Ref it(PyObject_GetIter(o));
    if (!it) return false;
    while (Ref item{PyIter_Next(it.get())}) {
        T v{};
        if (!convert(item.get(), v)) return false;
        out.push_back(std::move(v));
    }
    return !PyErr_Occurred();
}

// An optional vector: None gives absent, anything else converts as a sequence.
template <class T>
bool convert(PyObject* o, std::optional<std::vector<T>>& out) {
    if (o == Py_None) {
        out.reset();
        return true;
    }
    std::vector<T> v;
    if (!convert(o, v)) return false;
    out = std::move(v);
    return true;
}

// Converts a call argument; a parameter not given (null) keeps the default in `out`.
template <class T>
bool arg(PyObject* o, const char* name, T& out) {
    if (!o) return true;
    return convert(o, out) || add_note(name);
}

// --- results: each returns a new reference, or null with an exception set ---

inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* to_py(const std::optional<double>& v) { return v ? PyFloat_FromDouble(*v) : Py_NewRef(Py_None); }
inline PyObject* none() { return Py_NewRef(Py_None); }
PyObject* list_of(const double* values, std::size_t n);
inline PyObject* to_py(std::span<const double> v) { return list_of(v.data(), v.size()); }

template <class T>
PyObject* to_py(const std::vector<T>& v) {
    if constexpr (std::is_same_v<T, double>) {
        return list_of(v.data(), v.size());
    } else {
        Ref list(PyList_New(static_cast<Py_ssize_t>(v.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < v.size(); ++i) {
            PyObject* x = to_py(v[i]);
            if (!x) return nullptr;
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), x);
        }
        return list.release();
    }
}

template <class T>
PyObject* to_py(const std::optional<std::vector<T>>& v) {
    return v ? to_py(*v) : Py_NewRef(Py_None);
}

// A tuple of the converted values.
template <class... A>
PyObject* tuple_of(const A&... values) {
    PyObject* items[] = {to_py(values)...};
    Ref tuple(PyTuple_New(sizeof...(A)));
    bool ok = static_cast<bool>(tuple);
    for (PyObject* x : items) ok = ok && x;
    if (!ok) {
        for (PyObject* x : items) Py_XDECREF(x);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(sizeof...(A)); ++i) PyTuple_SetItem(tuple.get(), i, items[i]);
    return tuple.release();
}

}  // namespace vorn::py
