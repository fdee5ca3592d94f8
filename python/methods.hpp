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
        PyObject* a[1];
        if (!bind(Sig, args, nargs, kwnames, a)) return nullptr;
        auto& inst = instance<Core>(self);
        ExclusiveAccess access(inst.access);
        if (!access) return nullptr;
        Value v{};
        if (!arg(a[0], Sig.name(0), v)) return nullptr;
        if constexpr (std::is_void_v<decltype((inst.core.*Setter)(std::move(v)))>) {
            (inst.core.*Setter)(std::move(v));
        } else {
            if (auto error = (inst.core.*Setter)(std::move(v))) return raise_error(*error);
        }
        return none();
    });
}

// A no-argument method that changes the core (e.g. reset).
template <class Core, void (Core::*Op)()>
PyObject* mutator_method(PyObject* self, PyObject*) {
    auto& inst = instance<Core>(self);
    ExclusiveAccess access(inst.access);
    if (!access) return nullptr;
    (inst.core.*Op)();
    return none();
}

// A no-argument method that converts what a const core accessor returns.
template <class Core, auto Reader>
PyObject* reader_method(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        auto& inst = instance<Core>(self);
        SharedAccess access(inst.access);
        if (!access) return nullptr;
        return to_py((inst.core.*Reader)());
    });
}

}  // namespace vorn::py
