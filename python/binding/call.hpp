// call.hpp — one method call on an instance: its bound arguments and its hold on the
// object's access state, taken after binding and before any argument is converted.
#pragma once

#include <array>
#include <optional>

#include "python/binding/access.hpp"
#include "python/binding/args.hpp"
#include "python/binding/convert.hpp"
#include "python/binding/errors.hpp"
#include "python/binding/types.hpp"

namespace vorn::py {

template <class Core, class Access, std::size_t N>
class Call {
public:
    // A method with parameters (vectorcall with keywords).
    Call(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
        : inst_(instance<Core>(self)), sig_(&sig) {
        if (bind(sig, args, nargs, kwnames, a_.data())) access_.emplace(inst_.access);
    }
    // A method without parameters.
    explicit Call(PyObject* self) : inst_(instance<Core>(self)) { access_.emplace(inst_.access); }

    // False, with the exception set, when binding or the access failed.
    explicit operator bool() const { return access_ && *access_; }

    // Converts argument i, adding the note that names its parameter on failure.
    template <class T>
    bool get(std::size_t i, T& out) const {
        return arg(a_[i], sig_->name(i), out);
    }
    // Converts a sequence argument keeping at most `limit` values (see convert_bounded).
    bool get_bounded(std::size_t i, std::size_t limit, std::vector<double>& out, std::size_t& count) const {
        return convert_bounded(a_[i], limit, out, count) || add_note(sig_->name(i));
    }
    PyObject* raw(std::size_t i) const { return a_[i]; }
    Core& core() const { return inst_.core; }

private:
    Instance<Core>& inst_;
    const Signature* sig_ = nullptr;
    std::array<PyObject*, N> a_{};
    std::optional<Access> access_;
};

template <class Core, std::size_t N = 0>
using ExclusiveCall = Call<Core, ExclusiveAccess, N>;
template <class Core, std::size_t N = 0>
using SharedCall = Call<Core, SharedAccess, N>;

// The body of a method that only reads: fn(core) under shared access and the exception
// guard; null, with the exception set, when the access is refused.
template <class Core, class Fn>
PyObject* read_core(PyObject* self, Fn&& fn) {
    return guard([&]() -> PyObject* {
        SharedCall<Core> call(self);
        if (!call) return nullptr;
        return fn(call.core());
    });
}

}  // namespace vorn::py
