// fleet_classes.cpp — CFDLFleet, PFDLFleet and FFDLFleet: their method tables, slots and
// type objects.
#include "python/fleet/fleet_classes.hpp"

#include <utility>

#include "python/fleet/class_def.hpp"
#include "python/fleet/fleet_class.hpp"

namespace vorn::py::fleet {

namespace {

constexpr const char* kUpdateDoc =
    "update($self, y, yd, out=None)\n--\n\n"
    "Steps every member once with its output y[i] and set point yd (a scalar or one per member).\n"
    "Returns the new inputs as a float64 array of shape (n,), written into `out` when given.";
constexpr const char* kUpdateLoggedDoc =
    "update_logged($self, y, yd)\n--\n\n"
    "Steps every member once and returns its record as arrays:\n"
    "(u (n,), delta_y (n,), delta_h (n, m), e (n,), phi (n, m)).";
constexpr const char* kGetPhiDoc = "get_phi($self)\n--\n\nA copy of every member's estimate, shape (n, m).";
constexpr const char* kFromDoc =
    "from_controllers($type, controllers)\n--\n\n"
    "A fleet whose member i is a copy of controllers[i] (one class, one pair of pseudo-orders).";

// set_rho_vector(rho), full form only: step weights of every member, (n, m) or one (m,) row.
bool store_rho_vector(VectorFleet& core, PyObject* o, const char* name) {
    const std::size_t n = core.size(), m = core.components();
    Doubles v;
    if (!read_doubles(o, name, Shape{n, m, true}, v)) return false;
    fill_rows(core.rho_vector(), n, m, v);
    std::fill(core.has_rho_vector().begin(), core.has_rho_vector().end(), 1);
    return true;
}

template <class Kind>
PyMethodDef* methods() {
    using C = FleetClass<Kind>;
    std::vector<PyMethodDef> rho_vector;
    if constexpr (Kind::has_step_factors) {
        rho_vector.push_back(one_arg_method<&C::template setter<store_rho_vector>>(
            Kind::name, "set_rho_vector", "rho", "Step weights of every member: shape (n, m), or (m,) for all."));
    }
    PyMethodDef from = method("from_controllers", C::from_controllers, kFromDoc);
    from.ml_flags |= METH_CLASS;
    return method_table(
        method("update", C::update, kUpdateDoc), method("update_logged", C::update_logged, kUpdateLoggedDoc),
        method("reset", mutator_method<typename Kind::Core, &Kind::Core::reset>, "reset($self)\n--\n\nResets every member as its controller's reset() does."),
        method("get_phi", C::get_phi, kGetPhiDoc),
        one_arg_method<&C::template setter<&C::store_phi_hat>>(
            Kind::name, "set_phi_hat", "phi", "Sets estimate and reset value of every member: shape (n, m), or (m,) for all."),
        field_setters<kSisoFields>(
            std::make_index_sequence<kSisoRows>(), [](const SisoField& f) { return f.key; },
            []<std::size_t R>(const char* name) {
                return one_arg_method<&C::template setter<&C::template store_field<R>>>(Kind::name, name,
                                                                                        kSisoFields[R].arg);
            }), rho_vector, from,
        pickling_methods<C>());
}

// Made on first use, at the module's execution, after every table above is initialised.
template <class Kind>
ClassDef& class_def() {
    using C = FleetClass<Kind>;
    static const std::string qualified_name = qualified_fleet_name(Kind::name),
                             summary = fleet_summary(Kind::Form::names.text, "controllers", Kind::single_name),
                             doc = class_doc(Kind::name, kSisoFields, Kind::form, 0, summary.c_str(), "n");
    static ClassDef d = fleet_class_def<C, typename Kind::Core>(qualified_name, doc, methods<Kind>());
    return d;
}

// Steps `fleet` with `table` when it is an instance of Kind's class.
template <class Kind>
bool use_kernels_if(PyObject* module, PyObject* fleet, const fleet_kernels::Table& table, bool& done) {
    if (done || !Py_IS_TYPE(fleet, type_object(module, class_def<Kind>()))) return true;
    done = true;
    ExclusiveCall<typename Kind::Core> call(fleet);
    if (!call) return false;
    call.core().use_kernels(table);
    return true;
}

PyObject* use_kernels_checked(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyUnicode_Check(args[1])) {
        PyErr_SetString(PyExc_TypeError, "_use_kernels(fleet, variant) takes a fleet and a variant name");
        return nullptr;
    }
    const char* name = PyUnicode_AsUTF8AndSize(args[1], nullptr);
    if (!name) return nullptr;
    using fleet_kernels::Isa;
    const std::string variant = name;
    if (variant != "portable" && variant != "avx2" && variant != "avx512") {
        PyErr_Format(PyExc_ValueError, "unknown kernel variant '%s'", name);
        return nullptr;
    }
    // Tables live for the process, one per variant.
    static const fleet_kernels::Table portable = fleet_kernels::table_for(Isa::Portable),
                                      avx2 = fleet_kernels::table_for(Isa::Avx2),
                                      avx512 = fleet_kernels::table_for(Isa::Avx512);
    const fleet_kernels::Table& table = variant == "portable" ? portable : variant == "avx2" ? avx2 : avx512;
    bool done = false;
    if (!use_kernels_if<CfdlKind>(module, args[0], table, done) ||
        !use_kernels_if<PfdlKind>(module, args[0], table, done) || !use_kernels_if<FfdlKind>(module, args[0], table, done)) {
        return nullptr;
    }
    if (!done) return fail_not_instance(args[0], "CFDLFleet | PFDLFleet | FFDLFleet"), nullptr;
    return none();
}

}  // namespace

PyObject* use_kernels(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    return guard([&]() -> PyObject* { return use_kernels_checked(module, args, nargs); });
}

int add_fleet_classes(PyObject* module) {
    return add_class(module, CfdlKind::name, class_def<CfdlKind>()) < 0 ||
                   add_class(module, PfdlKind::name, class_def<PfdlKind>()) < 0 ||
                   add_class(module, FfdlKind::name, class_def<FfdlKind>()) < 0
               ? -1
               : 0;
}

}  // namespace vorn::py::fleet
