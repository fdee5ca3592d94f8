// convert.cpp — the conversions that are not small enough to inline.
#include "python/binding/convert.hpp"

#include <atomic>
#include <bit>
#include <cstring>

#include "python/binding/interpreter.hpp"

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

namespace {

// Adds the note PyUnicode_FromFormat(format, text) to the current exception. Allocates
// nothing outside the interpreter, so it cannot throw.
bool add_formatted_note(const char* format, const char* text) {
    PyObject* exc = PyErr_GetRaisedException();
    if (!exc) return false;
    Ref owned(exc);
    Ref note(PyUnicode_FromFormat(format, text));
    if (note) {
        Ref r(PyObject_CallMethod(exc, "add_note", "O", note.get()));
        if (!r) PyErr_Clear();
    } else {
        PyErr_Clear();
    }
    PyErr_SetRaisedException(owned.release());
    return false;
}

}  // namespace

bool add_note(const char* name) { return add_formatted_note("while processing '%s'", name); }

bool add_note_text(const char* text) { return add_formatted_note("%s", text); }

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

namespace {

// Types whose sequence items are exactly the values of their buffer. A subclass may give
// other items (a masked array hides its masked values), so only these types themselves
// qualify; they are recognised by name, without importing their modules, and the types
// the main interpreter finds are kept (with a reference) so the next check is a pointer
// comparison. A subinterpreter's type may die with it, so it is compared by name each time.
struct BufferType {
    const char* module;
    const char* name;
    std::atomic<PyObject*> seen{nullptr};
};

BufferType buffer_types[] = {{"numpy", "ndarray"}, {"array", "array"}};

bool named(PyTypeObject* type, const char* module, const char* name) {
    Ref type_name(PyType_GetName(type));
    Ref module_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!type_name || !module_name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(module_name.get()) && PyUnicode_CompareWithASCIIString(module_name.get(), module) == 0 &&
           PyUnicode_CompareWithASCIIString(type_name.get(), name) == 0;
}

bool items_are_buffer(PyObject* o) {
    if (Py_IS_TYPE(o, &PyMemoryView_Type)) return true;
    auto* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    for (BufferType& t : buffer_types) {
        if (t.seen.load(std::memory_order_acquire) == type) return true;
    }
    for (BufferType& t : buffer_types) {
        if (!named(Py_TYPE(o), t.module, t.name)) continue;
        if (!in_main_interpreter()) return true;
        PyObject* expected = nullptr;
        Py_INCREF(type);
        if (!t.seen.compare_exchange_strong(expected, type, std::memory_order_acq_rel)) Py_DECREF(type);
        return true;
    }
    return false;
}

// A format that describes one native-order C double: "d", "@d", "=d" or the native "<d"/">d".
bool native_double_format(const char* f) {
    if (!f) return false;
    const char native_order = std::endian::native == std::endian::little ? '<' : '>';
    if (*f == '@' || *f == '=' || *f == native_order) ++f;
    return f[0] == 'd' && f[1] == '\0';
}

}  // namespace

DoubleBuffer::DoubleBuffer(PyObject* o) {
    // Lists and tuples, the common case, export no buffer: the cheap test comes first.
    if (!PyObject_CheckBuffer(o) || !items_are_buffer(o)) return;
    if (PyObject_GetBuffer(o, &view_, PyBUF_FORMAT | PyBUF_STRIDES) < 0) {
        PyErr_Clear();  // item access reports the problem, if there is one
        return;
    }
    held_ = true;
    const bool one_dimension = view_.ndim == 1 && view_.shape && view_.shape[0] >= 0 &&
                               view_.shape[0] <= PY_SSIZE_T_MAX / static_cast<Py_ssize_t>(sizeof(double));
    if (!one_dimension || view_.itemsize != static_cast<Py_ssize_t>(sizeof(double)) ||
        !native_double_format(view_.format) || view_.len != view_.shape[0] * view_.itemsize || !view_.buf) {
        PyBuffer_Release(&view_);
        held_ = false;
        return;
    }
    size_ = static_cast<std::size_t>(view_.shape[0]);
    // No strides means C-contiguous.
    stride_ = view_.strides ? view_.strides[0] : view_.itemsize;
}

DoubleBuffer::~DoubleBuffer() {
    if (held_) PyBuffer_Release(&view_);
}

void DoubleBuffer::copy_to(double* out, std::size_t n) const {
    const char* p = static_cast<const char*>(view_.buf);
    if (stride_ == static_cast<Py_ssize_t>(sizeof(double))) {
        if (n) std::memcpy(out, p, n * sizeof(double));
        return;
    }
    for (std::size_t i = 0; i < n; ++i) std::memcpy(out + i, p + static_cast<Py_ssize_t>(i) * stride_, sizeof(double));
}

bool convert_bounded(PyObject* o, std::size_t limit, std::vector<double>& out, std::size_t& count) {
    if (!check_sequence(o)) return false;
    out.clear();
    if (const DoubleBuffer buffer{o}) {
        count = buffer.size();
        if (count <= limit) {
            out.resize(count);
            buffer.copy_to(out.data(), count);
        }
        return true;
    }
    if (PySequence_Size(o) < 0) return false;
    out.reserve(limit);
    count = 0;
    return for_each_item(o, [&](PyObject* item) {
        double v;
        if (!convert(item, v)) return false;
        if (count < limit) out.push_back(v);
        ++count;
        return true;
    });
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
