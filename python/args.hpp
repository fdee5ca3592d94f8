// args.hpp — positional-or-keyword argument binding shared by every constructor, method
// and function, with the interpreter-style TypeError messages.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>

#include "python/py.hpp"

namespace vorn::py {

inline constexpr std::size_t kMaxParams = 12;

// The parameter list of one callable. Objects of this type live for the whole process.
class Signature {
public:
    // `callable` is the name used in messages, e.g. "CFDLController.update()".
    Signature(std::string callable, std::initializer_list<const char*> names, std::size_t required);

    const char* callable() const { return callable_.c_str(); }
    std::size_t total() const { return total_; }
    std::size_t required() const { return required_; }
    const char* name(std::size_t i) const { return names_[i]; }
    // Index of the parameter called `key` (a str), or total() when there is none.
    std::size_t find(PyObject* key) const;

private:
    std::string callable_;
    std::array<const char*, kMaxParams> names_{};
    mutable std::array<PyObject*, kMaxParams> interned_{};  // created on first use, never released
    std::size_t total_;
    std::size_t required_;
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
    return bind_slow(sig, args, nargs, kwnames, out);
}

// Tuple-and-dict binding, as a type's constructor receives its arguments.
bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

}  // namespace vorn::py
