// methods.hpp — method bodies that recur across classes, written once as templates over
// the object type: a setter of one converted argument, a no-argument mutator, a reader,
// and the entry of a method with its signature and docstring.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <type_traits>

#include "python/binding/binding.hpp"

namespace vorn::py {

// "<Class>.<method>()", the name a method's messages use.
inline std::string callable_name(const char* class_name, const char* method_name) {
    return std::string(class_name) + "." + method_name + "()";
}

// The signature and docstring of the method `Fn`, made when its method table is built
// (once per process) and read by every call.
template <auto Fn>
struct MethodText {
    // Constant-initialised, so that no table's dynamic initialisation can come after make.
    static inline constinit std::optional<Signature> sig;
    static inline constinit std::string doc;
};

// The table entry of `Fn`, called `name(self, params...)` with every parameter required;
// `summary` follows the signature line of the docstring. `Fn` reads its signature from
// MethodText<Fn>::sig.
template <auto Fn>
PyMethodDef method_with_args(const char* class_name, const char* name, std::initializer_list<const char*> params,
                             const char* summary = "") {
    using Text = MethodText<Fn>;
    Text::sig.emplace(callable_name(class_name, name), params, params.size());
    Text::doc = std::string(name) + "($self";
    for (const char* p : params) Text::doc = Text::doc + ", " + p;
    Text::doc += ")\n--\n\n";
    Text::doc += summary;
    return method(name, Fn, Text::doc.c_str());
}

// The same for a method of one parameter.
template <auto Fn>
PyMethodDef one_arg_method(const char* class_name, const char* name, const char* param, const char* summary = "") {
    return method_with_args<Fn>(class_name, name, {param}, summary);
}

// The part of an object that a method works on: the object itself, or its member `Part`.
template <auto Part, class Object>
decltype(auto) part_of(Object& o) {
    if constexpr (std::is_null_pointer_v<decltype(Part)>) {
        return (o);
    } else {
        return (o.*Part);
    }
}

template <class M>
struct setter_arg;
template <class C, class R, class A>
struct setter_arg<R (C::*)(A)> {
    using type = std::remove_cvref_t<A>;
};

// `set_x(self, x)`: exclusive access, convert, store through Set on the object (or its
// member Part). A setter may return a Status (e.g. a vector too short): its error becomes
// ValueError, the object unchanged.
template <class Object, auto Set, auto Part>
PyObject* setter_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Value = typename setter_arg<decltype(Set)>::type;
    return guard([&]() -> PyObject* {
        ExclusiveCall<Object, 1> call(self, *MethodText<&setter_call<Object, Set, Part>>::sig, args, nargs, kwnames);
        Value v{};
        if (!call || !call.get(0, v)) return nullptr;
        Object& object = call.core();
        auto& target = part_of<Part>(object);
        if constexpr (std::is_void_v<std::invoke_result_t<decltype(Set), decltype(target), Value>>) {
            std::invoke(Set, target, std::move(v));
        } else {
            if (auto error = std::invoke(Set, target, std::move(v))) return raise_error(*error);
        }
        return none();
    });
}

// The entry of a setter: setter<Object, &Core::set_x>("Class", "set_x", "x").
template <class Object, auto Set, auto Part = nullptr>
PyMethodDef setter(const char* class_name, const char* name, const char* param, const char* summary = "") {
    return one_arg_method<&setter_call<Object, Set, Part>>(class_name, name, param, summary);
}

// A no-argument method that changes the object (or its member Part), e.g. reset.
template <class Object, auto Op, auto Part = nullptr>
PyObject* mutator_method(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        ExclusiveCall<Object> call(self);
        if (!call) return nullptr;
        Object& object = call.core();
        std::invoke(Op, part_of<Part>(object));
        return none();
    });
}

// A no-argument method that converts what a const accessor of the object returns.
template <class Object, auto Reader>
PyObject* reader_method(PyObject* self, PyObject*) {
    return read_core<Object>(self, [](const Object& object) { return to_py(std::invoke(Reader, object)); });
}

}  // namespace vorn::py
