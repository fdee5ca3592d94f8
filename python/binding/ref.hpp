// ref.hpp — Ref, the owner of one strong reference to a Python object.
#pragma once

#include <utility>

#include "python/binding/py.hpp"

namespace vorn::py {

class Ref {
public:
    Ref() = default;
    // Takes over a new reference (may be null, which usually means an exception is set).
    explicit Ref(PyObject* owned) : p_(owned) {}
    static Ref borrow(PyObject* o) {
        Py_XINCREF(o);
        return Ref(o);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    // Hands the reference to the caller (for returning to the interpreter).
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

}  // namespace vorn::py
