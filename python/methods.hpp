// methods.hpp — method bodies that recur across classes, written once as templates over
// the core type: a setter of one converted argument, a no-argument mutator, a reader.
#pragma once

#include <type_traits>

#include "python/binding.hpp"

namespace vorn::py {

template <class M>
struct setter_traits;
template <class C, class R, class A>
struct setter_traits<R (C::*)(A)> {
    using core = C;
    using value = std::remove_cvref_t<A>;
};

// `set_x(self, x)`: exclusive access, convert, store in the core. A core setter may return
// a Status (e.g. a vector too short): its error becomes ValueError, the core unchanged.
template <auto Setter, const Signature& Sig>
PyObject* setter_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Core = typename setter_traits<decltype(Setter)>::core;
    using Value = typename setter_traits<decltype(Setter)>::value;
    return guard([&]() -> PyObject* {
        ExclusiveCall<Core, 1> call(self, Sig, args, nargs, kwnames);
        Value v{};
        if (!call || !call.get(0, v)) return nullptr;
        if constexpr (std::is_void_v<decltype((call.core().*Setter)(std::move(v)))>) {
            (call.core().*Setter)(std::move(v));
        } else {
            if (auto error = (call.core().*Setter)(std::move(v))) return raise_error(*error);
        }
        return none();
    });
}

// A no-argument method that changes the core (e.g. reset).
template <class Core, void (Core::*Op)()>
PyObject* mutator_method(PyObject* self, PyObject*) {
    ExclusiveCall<Core> call(self);
    if (!call) return nullptr;
    (call.core().*Op)();
    return none();
}

// A no-argument method that converts what a const core accessor returns.
template <class Core, auto Reader>
PyObject* reader_method(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        SharedCall<Core> call(self);
        if (!call) return nullptr;
        return to_py((call.core().*Reader)());
    });
}

}  // namespace vorn::py
