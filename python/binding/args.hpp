// args.hpp — positional-or-keyword argument binding shared by every constructor, method
// and function, with the interpreter-style TypeError messages.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "python/binding/interpreter.hpp"
#include "python/binding/py.hpp"
#include "python/binding/ref.hpp"

namespace vorn::py {

// The most parameters one callable takes; the constructors built from a parameter table
// assert that their table fits, with room for a few more fields.
inline constexpr std::size_t kMaxParams = 16;

// The parameter list of one callable. Objects of this type live for the whole process.
class Signature {
public:
    // `callable` is the name used in messages, e.g. "CFDLController.update()".
    Signature(std::string callable, std::initializer_list<const char*> names, std::size_t required);
    // The same from a list built at run time (at most kMaxParams names, each static text).
    Signature(std::string callable, const std::vector<const char*>& names, std::size_t required);

    const char* callable() const { return callable_.c_str(); }
    std::size_t total() const { return total_; }
    std::size_t required() const { return required_; }
    const char* name(std::size_t i) const { return names_[i]; }
    // Index of the parameter called `key` (a str), or total() when there is none.
    std::size_t find(PyObject* key) const;

    // Keyword layouts: a call site passes the same kwnames tuple (a constant of its code)
    // every time, so the slots of the last layout that bound successfully in the main
    // interpreter are kept (see interpreter.hpp; no other interpreter's tuple is kept).
    bool bind_cached(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const {
        if (kwnames != cached_kwnames_ || nargs != cached_nargs_ || !in_main_interpreter()) return false;
        for (std::size_t i = 0; i < total_; ++i) out[i] = nullptr;
        for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
        for (std::size_t k = 0; k < cached_nkw_; ++k) out[cached_slots_[k]] = args[nargs + static_cast<Py_ssize_t>(k)];
        return true;
    }
    // Keeps the layout of a call that bound successfully; slots[k] is keyword k's parameter.
    void remember(PyObject* kwnames, Py_ssize_t nargs, const unsigned char* slots, std::size_t nkw) const;

private:
    std::string callable_;
    std::array<const char*, kMaxParams> names_{};
    mutable std::array<PyObject*, kMaxParams> interned_{};  // main interpreter's, made on first use, kept
    std::size_t total_;
    std::size_t required_;
    mutable PyObject* cached_kwnames_ = nullptr;  // strong reference, so its address stays its own
    mutable Py_ssize_t cached_nargs_ = -1;
    mutable std::size_t cached_nkw_ = 0;
    mutable std::array<unsigned char, kMaxParams> cached_slots_{};
};

// Vectorcall binding: fills out[0 .. total) with borrowed references, null where a
// parameter was not given. Returns false with TypeError set on a call of the wrong shape.
bool bind_slow(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

inline bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, PyObject** out) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (!kwnames && static_cast<std::size_t>(nargs) == sig.total()) {
        for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
        return true;
    }
    if (kwnames && sig.bind_cached(args, nargs, kwnames, out)) return true;
    return bind_slow(sig, args, nargs, kwnames, out);
}

// Strong references to the values that tuple-and-dict binding placed: the dictionary may
// be the caller's own, which a value's conversion (Python code) can change or clear.
using HeldArgs = std::array<Ref, kMaxParams>;

// Tuple-and-dict binding, as a type's constructor receives its arguments; `held` keeps
// every keyword value alive for as long as `out` is used.
bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out, HeldArgs& held);

}  // namespace vorn::py
