// mimo_fleet_classes.cpp — MimoCfdlFleet, MimoPfdlFleet and MimoFfdlFleet: their method
// tables, slots and type objects.
#include "python/fleet/mimo_fleet_classes.hpp"

#include <array>
#include <utility>

#include "python/fleet/class_def.hpp"
#include "python/fleet/mimo_fleet_class.hpp"

namespace vorn::py::fleet {

namespace {

constexpr const char* kUpdateDoc =
    "update($self, y, yd, out=None)\n--\n\n"
    "Steps every member once with its outputs y[i] (shape (n, dim)) and set points yd\n"
    "(shape (n, dim), or (dim,) for all). Returns the new inputs as a float64 array of shape\n"
    "(n, dim), written into `out` when given.";
constexpr const char* kGetPhiDoc =
    "get_phi($self)\n--\n\nA copy of every member's layers, shape (n, layers, dim, dim).";
constexpr const char* kSetPhiDoc =
    "Sets every member's layers: shape (n, layers, dim, dim), or (layers, dim, dim) for all.";
constexpr const char* kFromDoc =
    "from_controllers($type, controllers)\n--\n\n"
    "A fleet whose member i is a copy of controllers[i] (one class, one dim, one pair of pseudo-orders).";

template <MimoForm F>
PyMethodDef* methods() {
    using C = MimoFleetClass<F>;
    PyMethodDef from = method("from_controllers", C::from_controllers, kFromDoc);
    from.ml_flags |= METH_CLASS;
    return method_table(
        method("update", C::update, kUpdateDoc),
        method("reset", C::reset, "reset($self)\n--\n\nResets every member as its controller's reset() does."),
        method("get_phi", C::get_phi, kGetPhiDoc),
        one_arg_method<&C::set_phi_hat>(C::name, "set_phi_hat", "phi", kSetPhiDoc),
        field_setters<kMimoFields>(
            std::make_index_sequence<kMimoFields.size()>(), [](const auto& f) { return mimo_key(f.arg); },
            []<std::size_t R>(const char* name) {
                return one_arg_method<&C::template set_field<R>>(C::name, name, kMimoFields[R].arg);
            }), from,
        pickling_methods<C>());
}

template <MimoForm F>
ClassDef& class_def() {
    using C = MimoFleetClass<F>;
    static const std::string qualified_name = qualified_fleet_name(C::name),
                             summary = fleet_summary(C::names.text, "MIMO controllers of one dim", C::names.single_class),
                             doc = class_doc(C::name, kMimoFields, F, 1, summary.c_str(), "n");
    static ClassDef d = fleet_class_def<C, typename C::Core>(qualified_name, doc, methods<F>());
    return d;
}

template <MimoForm F>
int add_one(PyObject* module) {
    return add_class(module, MimoFleetClass<F>::name, class_def<F>());
}

}  // namespace

int add_mimo_fleet_classes(PyObject* module) {
    return add_one<MimoForm::Compact>(module) < 0 || add_one<MimoForm::Partial>(module) < 0 ||
                   add_one<MimoForm::Full>(module) < 0
               ? -1
               : 0;
}

}  // namespace vorn::py::fleet
