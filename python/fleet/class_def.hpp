// class_def.hpp — what the definitions of the fleet classes, SISO and MIMO, share: the
// qualified name, the summary that opens the docstring, a setter per field of the
// parameter table, the pickling methods, and the slots of the ClassDef.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "python/binding/binding.hpp"
#include "python/binding/methods.hpp"
#include "python/fleet/sequence.hpp"

namespace vorn::py::fleet {

inline std::string qualified_fleet_name(const char* name) { return std::string("vorn._vorn_fleet.") + name; }

// "n <form> <members> stepped by one call; …": `members` says what each member is
// ("controllers", "MIMO controllers of one dim"), `single` the class member i equals.
inline std::string fleet_summary(const char* form, const char* members, const char* single) {
    return std::string("n ") + form + " " + members + " stepped by one call; member i is bit for bit the " + single +
           "\nbuilt from member i's parameters. Each real parameter is a scalar or one value per member.";
}

// A method per field of `Fields` that is not a count (the pseudo-orders have no setter), in
// table order: make.template operator()<R>(name) builds field R's, named "set_" + key(field R)
// ("set_lambda" for the field "lambda_", as the single controllers name theirs).
template <const auto& Fields, class Key, class Make, std::size_t... Row>
std::vector<PyMethodDef> field_setters(std::index_sequence<Row...>, Key key, Make make) {
    static const auto names = [&] {
        std::array<std::string, sizeof...(Row)> n;
        for (std::size_t r = 0; r < n.size(); ++r) n[r] = "set_" + std::string(key(Fields[r]));
        return n;
    }();
    std::vector<PyMethodDef> table;
    auto add = [&]<std::size_t R>(std::integral_constant<std::size_t, R>) {
        if constexpr (Fields[R].kind != FieldKind::Count) table.push_back(make.template operator()<R>(names[R].c_str()));
    };
    (add(std::integral_constant<std::size_t, Row>()), ...);
    return table;
}

// The pickling methods of fleet class C.
template <class C>
std::vector<PyMethodDef> pickling_methods() {
    return {method("__getnewargs__", C::getnewargs, "__getnewargs__($self)\n--\n\n"),
            method("__getstate__", C::getstate, "__getstate__($self)\n--\n\n"),
            method("__setstate__", C::setstate, "__setstate__($self, state)\n--\n\n")};
}

// The definition of fleet class C over cores of type Core; the strings must outlive it.
template <class C, class Core>
ClassDef fleet_class_def(const std::string& qualified_name, const std::string& doc, PyMethodDef* methods) {
    return ClassDef{
        .qualified_name = qualified_name.c_str(),
        .basic_size = instance_size<Core>(),
        .doc = doc.c_str(),
        .new_fn = C::new_fn,
        .repr_fn = C::repr,
        .dealloc_fn = dealloc_instance<Core>,
        .methods = methods,
        .extra_slots = Sequence<C>::slots,
    };
}

}  // namespace vorn::py::fleet
