// single_class.hpp — the one class template of the six controller classes of
// vorn._vorn_core. Construction, the printed form, the type's texts and the order of the
// method table are written here once; what a family of classes (SISO, MIMO) does its own way
// comes from its traits, which read the form's descriptor (core/forms/):
//   Object, Core, kCore      what an instance holds, its core, and the member that is the
//                            core (nullptr: the object itself)
//   Params, fields, required the constructor's record, its field table, how many of its
//                            parameters are required
//   name, form, summary()    the class name, its form, the docstring's summary
//   defaults(), admit(p)     the record of defaults; the checks before anything is allocated
//   repr(object)             the printed form
//   steps(), get_phi(), set_phi_hat(), setters(), extra_setters(), pickling(), reset_doc,
//   getset                   the entries of its surface
// python/siso_family.hpp and python/mimo_classes.cpp hold the two traits.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "python/binding/field_args.hpp"
#include "python/binding/methods.hpp"

namespace vorn::py {

// Builds a core from a record that passed its class's checks; a size that overflows or
// cannot fit in memory is refused before anything is allocated.
template <class Core, class Params>
std::optional<Core> build_core(const Params& p) {
    if (!check_storage(Core::storage_bytes(p))) return std::nullopt;
    auto core = Core::create(p);
    if (!core) {
        raise_error(core.error());
        return std::nullopt;
    }
    return std::move(core).value();
}

template <class Family>
struct SingleClass {
    using Object = typename Family::Object;
    using Core = typename Family::Core;
    static constexpr const char* name = Family::name;

    static inline const Signature new_sig{callable_name(name, "__new__"), arg_names(Family::fields), Family::required};
    static_assert(Family::fields.size() <= kMaxParams, "a Signature holds at most kMaxParams names");

    // The type's texts, made on first use (after every static initialisation) and kept for
    // the process, as the type made from them is.
    static const char* qualified_name() {
        static const std::string text = std::string("vorn._vorn_core.") + name;
        return text.c_str();
    }
    static const char* doc() {
        static const std::string text =
            class_doc(name, Family::fields, Family::form, Family::required, Family::summary().c_str());
        return text.c_str();
    }

    // Defaults, the arguments, the family's checks, the storage; then the object is made.
    static PyObject* new_fn(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guard([&]() -> PyObject* {
            typename Family::Params p = Family::defaults();
            if (!bind_fields(new_sig, Family::fields, args, kwargs, p) || !Family::admit(p)) return nullptr;
            std::optional<Core> core = build_core<Core>(p);
            if (!core) return nullptr;
            return new_instance(type, Object{std::move(*core)});
        });
    }

    static PyObject* repr(PyObject* self) {
        return read_core<Object>(self, [](const Object& object) { return Family::repr(object); });
    }

    static inline ClassDef class_def{
        .qualified_name = qualified_name(),
        .basic_size = instance_size<Object>(),
        .doc = doc(),
        .new_fn = new_fn,
        .repr_fn = repr,
        .dealloc_fn = dealloc_instance<Object>,
        .methods = method_table(
            Family::steps(),
            method("reset", mutator_method<Object, &Core::reset, Family::kCore>, Family::reset_doc),
            Family::get_phi(),
            Family::set_phi_hat(),
            Family::setters(),
            Family::extra_setters(),
            Family::pickling()),
        .getset = Family::getset,
    };
};

}  // namespace vorn::py
