// vector_classes.cpp — PFDLController and FFDLController, the Python classes around one
// PfdlController or FfdlController.
#include <optional>
#include <string>
#include <utility>

#include "core/siso/ffdl_controller.hpp"
#include "core/siso/pfdl_controller.hpp"
#include "python/registry.hpp"
#include "python/siso_common.hpp"
#include "python/vector_classes.hpp"

namespace vorn::py {

template <>
struct SisoClass<PfdlController> {
    static constexpr const char* name = "PFDLController";
};
template <>
struct SisoClass<FfdlController> {
    static constexpr const char* name = "FFDLController";
};

namespace {

// What differs between the two classes: constructor defaults, form test, dynamic state.
template <class Core>
struct Form;

template <>
struct Form<PfdlController> {
    using State = PfdlState;
    static constexpr std::uint64_t default_l_y = 0;
    static constexpr const char* message = "PFDL 要求 l_y == 0 且 l_u >= 1";
    static bool ok(const SisoParams& p) { return p.l_y == 0 && p.l_u >= 1; }

    static bool write_state(PyObject* d, const PfdlController& c) {
        return set_state_item(d, "y_prev", to_py(c.y_prev())) && set_state_item(d, "u_hist", to_py(c.u_hist())) &&
               set_state_item(d, "phi_hat", to_py(c.phi_hat()));
    }
    static bool read_state(PyObject* d, PfdlState& s) {
        return state_item(d, "y_prev", s.y_prev) && state_item(d, "u_hist", s.u_hist) &&
               state_item(d, "phi_hat", s.phi_hat);
    }
};

template <>
struct Form<FfdlController> {
    using State = FfdlState;
    static constexpr std::uint64_t default_l_y = 1;
    static constexpr const char* message = "FFDL 要求 l_u >= 1";
    static bool ok(const SisoParams& p) { return p.l_u >= 1; }

    static bool write_state(PyObject* d, const FfdlController& c) {
        return set_state_item(d, "y_hist", to_py(c.y_hist())) && set_state_item(d, "u_hist", to_py(c.u_hist())) &&
               set_state_item(d, "phi_hat", to_py(c.phi_hat())) &&
               set_state_item(d, "rho_vector", to_py(c.rho_vector()));
    }
    static bool read_state(PyObject* d, FfdlState& s) {
        return state_item(d, "y_hist", s.y_hist) && state_item(d, "u_hist", s.u_hist) &&
               state_item(d, "phi_hat", s.phi_hat) && state_item(d, "rho_vector", s.rho_vector);
    }
};

// Builds a core from a record that passed the form test; a size that overflows or cannot
// fit in memory is refused before anything is allocated.
template <class Core>
std::optional<Core> build(const SisoParams& p) {
    if (!check_storage(Core::storage_bytes(p))) return std::nullopt;
    auto core = Core::create(p);
    if (!core) {
        raise_error(core.error());
        return std::nullopt;
    }
    return std::move(core).value();
}

template <class Core>
struct VectorClass {
    using Methods = SisoMethods<Core>;

    static inline const Signature new_sig{std::string(SisoClass<Core>::name) + ".__new__()", arg_names(kSisoFields), 0};
    static inline const Signature update_sig{Methods::callable("update"), {"y", "yd"}, 2};
    static inline const Signature update_logged_sig{Methods::callable("update_logged"), {"y", "yd"}, 2};
    static inline const Signature setstate_sig{Methods::callable("__setstate__"), {"state"}, 1};

    static PyObject* new_fn(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guard([&]() -> PyObject* {
            SisoParams p;
            p.l_y = Form<Core>::default_l_y;
            p.l_u = 2;
            if (!parse_siso_args(new_sig, args, kwargs, p)) return nullptr;
            if (!check_siso(p, Form<Core>::ok(p), Form<Core>::message)) return nullptr;
            std::optional<Core> core = build<Core>(p);
            if (!core) return nullptr;
            return new_instance(type, std::move(*core));
        });
    }

    // Allocates nothing but the result float.
    static PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 2> call(self, update_sig, args, nargs, kwnames);
            double y = 0.0, yd = 0.0;
            if (!call || !call.get(0, y) || !call.get(1, yd)) return nullptr;
            return to_py(call.core().update(y, yd));
        });
    }

    static PyObject* update_logged(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 2> call(self, update_logged_sig, args, nargs, kwnames);
            double y = 0.0, yd = 0.0;
            if (!call || !call.get(0, y) || !call.get(1, yd)) return nullptr;
            const StepView r = call.core().update_logged(y, yd);
            return tuple_of(r.u, r.delta_y, r.delta_h, r.e, r.phi);
        });
    }

    static PyObject* getstate(PyObject* self, PyObject*) {
        return guard([&]() -> PyObject* {
            SharedCall<Core> call(self);
            if (!call) return nullptr;
            Ref state = siso_state_dict(call.core().params());
            if (!state || !Form<Core>::write_state(state.get(), call.core())) return nullptr;
            return state.release();
        });
    }

    // Builds a whole new core from the state and swaps it in only when every step succeeded.
    static PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, setstate_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            PyObject* state = call.raw(0);
            SisoParams p;
            if (!read_state_params(state, p)) return nullptr;
            if (!Form<Core>::ok(p)) return raise_error(ParamError{ParamError::Kind::InvalidOrder, {}});
            std::optional<Core> core = build<Core>(p);
            if (!core) return nullptr;
            typename Form<Core>::State saved{};
            if (!Form<Core>::read_state(state, saved)) return nullptr;
            if (auto error = core->import_state(std::move(saved))) return raise_error(*error);
            call.core() = std::move(*core);
            return none();
        });
    }

    // The method table up to set_u_max; the FFDL table inserts set_rho_vector after it.
    static PyMethodDef update_def() {
        return method("update", update, "update($self, y, yd)\n--\n\n执行一步控制更新，返回新的控制输入。");
    }
    static PyMethodDef update_logged_def() {
        return method("update_logged", update_logged,
                      "update_logged($self, y, yd)\n--\n\n执行一步控制更新并返回结构化记录。\n\n# 返回值\n元组 "
                      "`(u, delta_y, delta_h, e, phi)`。");
    }
    static PyMethodDef reset_def() { return method("reset", mutator_method<Core, &Core::reset>, kResetDoc); }
    static PyMethodDef get_phi_def() {
        return method("get_phi", reader_method<Core, &Core::phi_hat>, "get_phi($self)\n--\n\n返回当前 PPD 向量估计。");
    }
    static PyMethodDef set_phi_hat_def() {
        return setter<Core, &Core::set_phi_hat>(Methods::name, "set_phi_hat", "phi", "手动设置 PPD 向量估计。");
    }
    static PyMethodDef getstate_def() { return method("__getstate__", getstate, kGetStateDoc); }
    static PyMethodDef setstate_def() { return method("__setstate__", setstate, kSetStateDoc); }
};

using Pfdl = VectorClass<PfdlController>;
using Ffdl = VectorClass<FfdlController>;
using PfdlMethods = SisoMethods<PfdlController>;
using FfdlMethods = SisoMethods<FfdlController>;

PyMethodDef* pfdl_methods = method_table(
    Pfdl::update_def(),
    Pfdl::update_logged_def(),
    Pfdl::reset_def(),
    Pfdl::get_phi_def(),
    Pfdl::set_phi_hat_def(),
    PfdlMethods::setters(),
    PfdlMethods::getnewargs_def(),
    Pfdl::getstate_def(),
    Pfdl::setstate_def());

PyMethodDef* ffdl_methods = method_table(
    Ffdl::update_def(),
    Ffdl::update_logged_def(),
    Ffdl::reset_def(),
    Ffdl::get_phi_def(),
    Ffdl::set_phi_hat_def(),
    FfdlMethods::setters(),
    setter<FfdlController, &FfdlController::set_rho_vector>(FfdlMethods::name, "set_rho_vector", "rho",
                                                            "设置 FFDL 控制律的逐分量步长加权向量。"),
    FfdlMethods::getnewargs_def(),
    Ffdl::getstate_def(),
    Ffdl::setstate_def());

ClassDef pfdl_class{
    .qualified_name = "vorn._vorn_core.PFDLController",
    .basic_size = instance_size<PfdlController>(),
    .doc = "PFDLController(eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=0, l_u=2, initial_phi=0.5, u0=0.0, "
    "u_min=None, u_max=None)\n--\n\n对应 Python 侧的 `PFDLController`。\n\n包装 [`PfdlController`]，要求 `l_y == 0` 且 "
    "`l_u >= 1`。",
    .new_fn = Pfdl::new_fn,
    .repr_fn = PfdlMethods::repr,
    .dealloc_fn = dealloc_instance<PfdlController>,
    .methods = pfdl_methods,
};

ClassDef ffdl_class{
    .qualified_name = "vorn._vorn_core.FFDLController",
    .basic_size = instance_size<FfdlController>(),
    .doc = "FFDLController(eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=1, l_u=2, initial_phi=0.5, u0=0.0, "
    "u_min=None, u_max=None)\n--\n\n对应 Python 侧的 `FFDLController`。\n\n包装 [`FfdlController`]，要求 `l_u >= 1`。",
    .new_fn = Ffdl::new_fn,
    .repr_fn = FfdlMethods::repr,
    .dealloc_fn = dealloc_instance<FfdlController>,
    .methods = ffdl_methods,
};

}  // namespace

PyTypeObject* pfdl_type() { return type_object(pfdl_class); }
PyTypeObject* ffdl_type() { return type_object(ffdl_class); }

int add_vector_classes(PyObject* module) {
    if (add_class(module, "PFDLController", pfdl_class) < 0) return -1;
    return add_class(module, "FFDLController", ffdl_class);
}

}  // namespace vorn::py
