// args.cpp — argument binding and its TypeError messages.
#include "python/binding/args.hpp"

#include <string>
#include <utility>


namespace vorn::py {

Signature::Signature(std::string callable, std::initializer_list<const char*> names, std::size_t required)
    : Signature(std::move(callable), std::vector<const char*>(names), required) {}

Signature::Signature(std::string callable, const std::vector<const char*>& names, std::size_t required)
    : callable_(std::move(callable)), total_(names.size()), required_(required) {
    std::size_t i = 0;
    for (const char* n : names) names_[i++] = n;
}

std::size_t Signature::find(PyObject* key) const {
    // The interned names are objects of the main interpreter; another compares the text.
    const std::size_t interned = in_main_interpreter() ? total_ : 0;
    for (std::size_t i = 0; i < interned; ++i) {
        if (!interned_[i]) interned_[i] = PyUnicode_InternFromString(names_[i]);
        if (interned_[i] == key) return i;
    }
    // Keyword names are almost always interned; compare the text for the others.
    for (std::size_t i = 0; i < total_; ++i) {
        if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, names_[i]) == 0) return i;
    }
    if (PyErr_Occurred()) PyErr_Clear();
    return total_;
}

void Signature::remember(PyObject* kwnames, Py_ssize_t nargs, const unsigned char* slots, std::size_t nkw) const {
    // A subinterpreter's tuple may die with it and its address come back as another tuple.
    if (!in_main_interpreter()) return;
    Py_INCREF(kwnames);
    Py_XDECREF(cached_kwnames_);
    cached_kwnames_ = kwnames;
    cached_nargs_ = nargs;
    cached_nkw_ = nkw;
    for (std::size_t k = 0; k < nkw; ++k) cached_slots_[k] = slots[k];
}

namespace {

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
    const char* verb = given == 1 ? "was" : "were";
    if (sig.required() < sig.total()) {
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given",
                     sig.callable(), sig.required(), sig.total(), given, verb);
    } else {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", sig.callable(),
                     sig.total(), given, verb);
    }
    return false;
}

bool unexpected_keyword(const Signature& sig, PyObject* key) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", sig.callable(), key);
    return false;
}

bool multiple_values(const Signature& sig, std::size_t i) {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", sig.callable(), sig.name(i));
    return false;
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
bool missing_required(const Signature& sig, PyObject* const* out) {
    std::string names;
    std::size_t count = 0;
    for (std::size_t i = 0; i < sig.required(); ++i) count += out[i] == nullptr;
    std::size_t seen = 0;
    for (std::size_t i = 0; i < sig.required(); ++i) {
        if (out[i]) continue;
        if (seen > 0) names += count == 2 ? " and " : (seen + 1 == count ? ", and " : ", ");
        names += "'";
        names += sig.name(i);
        names += "'";
        ++seen;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", sig.callable(), count,
                 count == 1 ? "" : "s", names.c_str());
    return false;
}

bool check_positional(const Signature& sig, Py_ssize_t nargs, PyObject** out) {
    if (static_cast<std::size_t>(nargs) > sig.total()) return too_many_positional(sig, nargs);
    for (std::size_t i = 0; i < sig.total(); ++i) out[i] = nullptr;
    return true;
}

// Places one keyword argument; its parameter's index goes to `slot`.
bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, Py_ssize_t nargs, PyObject** out,
                   std::size_t& slot) {
    const std::size_t i = sig.find(key);
    if (i == sig.total()) return unexpected_keyword(sig, key);
    if (i < static_cast<std::size_t>(nargs) || out[i]) return multiple_values(sig, i);
    out[i] = value;
    slot = i;
    return true;
}

bool check_required(const Signature& sig, PyObject* const* out) {
    for (std::size_t i = 0; i < sig.required(); ++i) {
        if (!out[i]) return missing_required(sig, out);
    }
    return true;
}

}  // namespace

bool bind_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    if (!check_positional(sig, nargs, out)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (!kwnames) return check_required(sig, out);
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    std::array<unsigned char, kMaxParams> slots{};
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        std::size_t slot = 0;
        if (!place_keyword(sig, PyTuple_GetItem(kwnames, k), args[nargs + k], nargs, out, slot)) return false;
        slots[static_cast<std::size_t>(k)] = static_cast<unsigned char>(slot);
    }
    if (!check_required(sig, out)) return false;
    sig.remember(kwnames, nargs, slots.data(), static_cast<std::size_t>(nkw));
    return true;
}

bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out, HeldArgs& held) {
    const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    if (nargs < 0 || !check_positional(sig, nargs, out)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        std::size_t slot = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!place_keyword(sig, key, value, nargs, out, slot)) return false;
            held[slot] = Ref::borrow(value);
        }
    }
    return check_required(sig, out);
}

}  // namespace vorn::py
