// class_def.hpp — what the definitions of the fleet classes, SISO and MIMO, share: the
// qualified name, the summary that opens the docstring, and the slots of the ClassDef.
#pragma once

#include <string>

#include "python/binding/binding.hpp"
#include "python/fleet/sequence.hpp"

namespace vorn::py::fleet {

inline std::string qualified_fleet_name(const char* name) { return std::string("vorn._vorn_fleet.") + name; }

// "n <form> <members> stepped by one call; …": `members` says what each member is
// ("controllers", "MIMO controllers of one dim"), `single` the class member i equals.
inline std::string fleet_summary(const char* form, const char* members, const char* single) {
    return std::string("n ") + form + " " + members + " stepped by one call; member i is bit for bit the " + single +
           "\nbuilt from member i's parameters. Each real parameter is a scalar or one value per member.";
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
