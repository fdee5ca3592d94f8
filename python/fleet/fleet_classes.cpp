// fleet_classes.cpp — CFDLFleet, PFDLFleet and FFDLFleet: their method tables, slots and
// type objects.
#include "python/fleet/fleet_class.hpp"
#include "python/fleet/fleet_classes.hpp"

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
constexpr const char* kSetPhiHatDoc =
    "set_phi_hat($self, phi)\n--\n\nSets estimate and reset value of every member: shape (n, m), or (m,) for all.";
constexpr const char* kFromDoc =
    "from_controllers($type, controllers)\n--\n\n"
    "A fleet whose member i is a copy of controllers[i] (one class, one pair of pseudo-orders).";

template <class Kind>
struct Table {
    using C = FleetClass<Kind>;
    using Shared = SharedSetters<Kind>;

    static PyMethodDef from_controllers() {
        PyMethodDef d = method("from_controllers", C::from_controllers, kFromDoc);
        d.ml_flags |= METH_CLASS;
        return d;
    }

    // The table of every kind; the FFDL table adds set_rho_vector after set_u_max.
    static inline PyMethodDef methods[] = {
        method("update", C::update, kUpdateDoc),
        method("update_logged", C::update_logged, kUpdateLoggedDoc),
        method("reset", C::reset, "reset($self)\n--\n\nResets every member as its controller's reset() does."),
        method("get_phi", C::get_phi, kGetPhiDoc),
        method("set_phi_hat", C::set_phi_hat, kSetPhiHatDoc),
        method("set_eta", C::template set_param<&FleetParams::eta, Shared::eta>, "set_eta($self, eta)\n--\n\n"),
        method("set_mu", C::template set_param<&FleetParams::mu, Shared::mu>, "set_mu($self, mu)\n--\n\n"),
        method("set_rho", C::template set_param<&FleetParams::rho, Shared::rho>, "set_rho($self, rho)\n--\n\n"),
        method("set_lambda", C::template set_param<&FleetParams::lambda, Shared::lambda>,
               "set_lambda($self, lambda_)\n--\n\n"),
        method("set_eps", C::template set_param<&FleetParams::eps, Shared::eps>, "set_eps($self, eps)\n--\n\n"),
        method("set_u0", C::template set_param<&FleetParams::u0, Shared::u0>, "set_u0($self, u0)\n--\n\n"),
        method("set_initial_phi", C::set_initial_phi, "set_initial_phi($self, initial_phi)\n--\n\n"),
        method("set_u_min", C::template set_limit<&FleetParams::u_min, &FleetParams::has_u_min, C::u_min_sig>,
               "set_u_min($self, u_min)\n--\n\n"),
        method("set_u_max", C::template set_limit<&FleetParams::u_max, &FleetParams::has_u_max, C::u_max_sig>,
               "set_u_max($self, u_max)\n--\n\n"),
        method("set_rho_vector", C::set_rho_vector,
               "set_rho_vector($self, rho)\n--\n\nStep weights of every member: shape (n, m), or (m,) for all."),
        from_controllers(),
        method("__getnewargs__", C::getnewargs, "__getnewargs__($self)\n--\n\n"),
        method("__getstate__", C::getstate, "__getstate__($self)\n--\n\n"),
        method("__setstate__", C::setstate, "__setstate__($self, state)\n--\n\n"),
        end_of_methods(),
    };

    static inline PyType_Slot slots[] = {
        {Py_mp_length, reinterpret_cast<void*>(C::length)},
        {Py_mp_subscript, reinterpret_cast<void*>(C::item)},
        {0, nullptr},
    };
};

// The partial and compact forms have no step weights: their tables leave set_rho_vector out.
template <class Kind>
PyMethodDef* methods_without_rho_vector() {
    static PyMethodDef table[std::size(Table<Kind>::methods) - 1];
    std::size_t k = 0;
    for (const PyMethodDef& d : Table<Kind>::methods) {
        if (!d.ml_name || std::strcmp(d.ml_name, "set_rho_vector") != 0) table[k++] = d;
    }
    return table;
}

template <class Kind>
ClassDef class_def(const char* qualified_name, const char* doc, PyMethodDef* methods) {
    using C = FleetClass<Kind>;
    ClassDef d{qualified_name, instance_size<typename Kind::Core>(), doc, C::new_fn, C::repr,
               dealloc_instance<typename Kind::Core>, methods};
    d.extra_slots = Table<Kind>::slots;
    return d;
}

// Made on first use, at the module's execution, after every table above is initialised.
ClassDef& cfdl_fleet() {
    static ClassDef d = class_def<CfdlKind>(
    "vorn._vorn_fleet.CFDLFleet",
    "CFDLFleet(n, eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=0, l_u=1, initial_phi=0.5, u0=0.0, "
    "u_min=None, u_max=None)\n--\n\n"
    "n compact-form controllers stepped by one call; member i is bit for bit the CFDLController\n"
    "built from member i's parameters. Each real parameter is a scalar or one value per member.",
    methods_without_rho_vector<CfdlKind>());
    return d;
}
ClassDef& pfdl_fleet() {
    static ClassDef d = class_def<PfdlKind>(
    "vorn._vorn_fleet.PFDLFleet",
    "PFDLFleet(n, eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=0, l_u=2, initial_phi=0.5, u0=0.0, "
    "u_min=None, u_max=None)\n--\n\n"
    "n partial-form controllers stepped by one call; member i is bit for bit the PFDLController\n"
    "built from member i's parameters. Each real parameter is a scalar or one value per member.",
    methods_without_rho_vector<PfdlKind>());
    return d;
}
ClassDef& ffdl_fleet() {
    static ClassDef d = class_def<FfdlKind>(
    "vorn._vorn_fleet.FFDLFleet",
    "FFDLFleet(n, eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=1, l_u=2, initial_phi=0.5, u0=0.0, "
    "u_min=None, u_max=None)\n--\n\n"
    "n full-form controllers stepped by one call; member i is bit for bit the FFDLController\n"
    "built from member i's parameters. Each real parameter is a scalar or one value per member.",
    Table<FfdlKind>::methods);
    return d;
}

}  // namespace

int add_fleet_classes(PyObject* module) {
    return add_class(module, "CFDLFleet", cfdl_fleet()) < 0 || add_class(module, "PFDLFleet", pfdl_fleet()) < 0 ||
                   add_class(module, "FFDLFleet", ffdl_fleet()) < 0
               ? -1
               : 0;
}

}  // namespace vorn::py::fleet
