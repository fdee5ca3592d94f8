// methods.hpp — method bodies that recur across classes, written once as templates over
// the core type: a setter of one converted argument, a no-argument mutator, a reader.
#pragma once

#include <functional>
#include <string>
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
// `Core` is the object's core type, named when the setter is inherited from a base.
template <auto Setter, const Signature& Sig, class Core = typename setter_traits<decltype(Setter)>::core>
PyObject* setter_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Value = typename setter_traits<decltype(Setter)>::value;
    return guard([&]() -> PyObject* {
        ExclusiveCall<Core, 1> call(self, Sig, args, nargs, kwnames);
        Value v{};
        if (!call || !call.get(0, v)) return nullptr;
        Core& core = call.core();
        if constexpr (std::is_void_v<std::invoke_result_t<decltype(Setter), Core&, Value>>) {
            std::invoke(Setter, core, std::move(v));
        } else {
            if (auto error = std::invoke(Setter, core, std::move(v))) return raise_error(*error);
        }
        return none();
    });
}

// A no-argument method that changes the core (e.g. reset).
template <class Core, void (Core::*Op)()>
PyObject* mutator_method(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        ExclusiveCall<Core> call(self);
        if (!call) return nullptr;
        (call.core().*Op)();
        return none();
    });
}

// A no-argument method that converts what a const core accessor returns.
template <class Core, auto Reader>
PyObject* reader_method(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        SharedCall<Core> call(self);
        if (!call) return nullptr;
        const Core& core = call.core();
        return to_py(std::invoke(Reader, core));
    });
}

// "<Class>.<method>()", the name a method's messages use.
inline std::string callable_name(const char* class_name, const char* method_name) {
    return std::string(class_name) + "." + method_name + "()";
}

// The setters of parameters that every controller class has, for the class named
// `Named::name`; each entry is instantiated with the core (or object) setter it calls.
template <class Named>
struct SharedSetters {
    static inline const Signature eta{callable_name(Named::name, "set_eta"), {"eta"}, 1};
    static inline const Signature mu{callable_name(Named::name, "set_mu"), {"mu"}, 1};
    static inline const Signature rho{callable_name(Named::name, "set_rho"), {"rho"}, 1};
    static inline const Signature lambda{callable_name(Named::name, "set_lambda"), {"lambda_"}, 1};
    static inline const Signature eps{callable_name(Named::name, "set_eps"), {"eps"}, 1};
    static inline const Signature u0{callable_name(Named::name, "set_u0"), {"u0"}, 1};

    template <auto Set, class Core = typename setter_traits<decltype(Set)>::core>
    static PyMethodDef set_eta() { return method("set_eta", setter_method<Set, eta, Core>, "set_eta($self, eta)\n--\n\n"); }
    template <auto Set, class Core = typename setter_traits<decltype(Set)>::core>
    static PyMethodDef set_mu() { return method("set_mu", setter_method<Set, mu, Core>, "set_mu($self, mu)\n--\n\n"); }
    template <auto Set, class Core = typename setter_traits<decltype(Set)>::core>
    static PyMethodDef set_rho() { return method("set_rho", setter_method<Set, rho, Core>, "set_rho($self, rho)\n--\n\n"); }
    template <auto Set, class Core = typename setter_traits<decltype(Set)>::core>
    static PyMethodDef set_lambda() {
        return method("set_lambda", setter_method<Set, lambda, Core>, "set_lambda($self, lambda_)\n--\n\n");
    }
    template <auto Set, class Core = typename setter_traits<decltype(Set)>::core>
    static PyMethodDef set_eps() { return method("set_eps", setter_method<Set, eps, Core>, "set_eps($self, eps)\n--\n\n"); }
    template <auto Set, class Core = typename setter_traits<decltype(Set)>::core>
    static PyMethodDef set_u0() { return method("set_u0", setter_method<Set, u0, Core>, "set_u0($self, u0)\n--\n\n"); }
};

}  // namespace vorn::py
