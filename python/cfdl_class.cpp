// cfdl_class.cpp — CFDLController, the Python class around one CfdlController.
#include "core/siso/cfdl_controller.hpp"
#include "python/registry.hpp"
#include "python/siso_common.hpp"

namespace vorn::py {

template <>
struct SisoClass<CfdlController> {
    static constexpr const char* name = "CFDLController";
};

namespace {

using Methods = SisoMethods<CfdlController>;
using Object = Instance<CfdlController>;

const Signature new_sig{"CFDLController.__new__()", arg_names(kSisoFields), 0};
const Signature update_sig{"CFDLController.update()", {"y", "yd"}, 2};
const Signature phi_sig{"CFDLController.set_phi_hat()", {"phi"}, 1};
const Signature setstate_sig{"CFDLController.__setstate__()", {"state"}, 1};

PyObject* cfdl_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&]() -> PyObject* {
        SisoParams p;
        if (!parse_siso_args(new_sig, args, kwargs, p)) return nullptr;
        if (!check_siso(p, p.l_y == 0 && p.l_u == 1, "CFDL 要求 l_y == 0 且 l_u == 1")) return nullptr;
        auto core = CfdlController::create(p);
        if (!core) return raise_error(core.error());
        return new_instance(type, std::move(core).value());
    });
}

PyObject* cfdl_update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        ExclusiveCall<CfdlController, 2> call(self, update_sig, args, nargs, kwnames);
        double y = 0.0, yd = 0.0;
        if (!call || !call.get(0, y) || !call.get(1, yd)) return nullptr;
        const CfdlStep s = call.core().update(y, yd);
        return tuple_of(s.u, s.delta_y, s.delta_u, s.e, s.phi);
    });
}

PyObject* cfdl_get_phi(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        SharedCall<CfdlController> call(self);
        if (!call) return nullptr;
        const double phi = call.core().phi_hat();
        return list_of(&phi, 1);
    });
}

PyObject* cfdl_set_phi_hat(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        ExclusiveCall<CfdlController, 1> call(self, phi_sig, args, nargs, kwnames);
        std::vector<double> phi;
        if (!call || !call.get(0, phi)) return nullptr;
        if (phi.size() != 1) return raise_value_error("CFDL 的 phi_hat 长度必须为 1，实际为 " + std::to_string(phi.size()));
        call.core().set_phi_hat(phi[0]);
        return none();
    });
}

PyObject* cfdl_getstate(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        SharedCall<CfdlController> call(self);
        if (!call) return nullptr;
        Ref state = siso_state_dict(call.core().params());
        if (!state) return nullptr;
        const CfdlHistory h = call.core().history();
        PyObject* d = state.get();
        if (!set_state_item(d, "y_prev", to_py(h.y_prev)) || !set_state_item(d, "u_prev", to_py(h.u_prev)) ||
            !set_state_item(d, "u_prev2", to_py(h.u_prev2)) || !set_state_item(d, "phi_hat", to_py(h.phi_hat))) {
            return nullptr;
        }
        return state.release();
    });
}

PyObject* cfdl_setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        ExclusiveCall<CfdlController, 1> call(self, setstate_sig, args, nargs, kwnames);
        if (!call) return nullptr;
        PyObject* state = call.raw(0);
        SisoParams p;
        CfdlHistory h{};
        if (!read_state_params(state, p) || !state_item(state, "y_prev", h.y_prev) ||
            !state_item(state, "u_prev", h.u_prev) || !state_item(state, "u_prev2", h.u_prev2) ||
            !state_item(state, "phi_hat", h.phi_hat)) {
            return nullptr;
        }
        call.core().restore(p, h);
        return none();
    });
}

PyMethodDef* cfdl_methods = method_table(
    method("update", cfdl_update,
           "update($self, y, yd)\n--\n\n执行一步控制更新。\n\n# 返回值\n元组 `(u, delta_y, delta_u, e, phi)`。"),
    method("reset", mutator_method<CfdlController, &CfdlController::reset>, kResetDoc),
    method("get_phi", cfdl_get_phi,
           "get_phi($self)\n--\n\n返回当前 PPD 估计（长度为 1 的向量，与 PFDL/FFDL 保持一致）。"),
    method("set_phi_hat", cfdl_set_phi_hat,
           "set_phi_hat($self, phi)\n--\n\n手动设置 PPD 估计。\n\n# 参数\n- `phi`：长度为 1 的向量，与 `get_phi()` "
           "返回格式一致。\n\n# 错误\n当 `phi` 长度不为 1 时抛出 `ValueError`。"),
    Methods::setters(),
    Methods::getnewargs_def(),
    method("__getstate__", cfdl_getstate, kGetStateDoc),
    method("__setstate__", cfdl_setstate, kSetStateDoc));

ClassDef cfdl_class{
    .qualified_name = "vorn._vorn_core.CFDLController",
    .basic_size = instance_size<CfdlController>(),
    .doc = "CFDLController(eta=1.0, mu=1.0, rho=0.1, lambda_=0.02, eps=1e-5, l_y=0, l_u=1, initial_phi=0.5, u0=0.0, "
    "u_min=None, u_max=None)\n--\n\n对应 Python 侧的 `CFDLController`。\n\n包装 [`CfdlController`]，要求 `l_y == 0` 且 "
    "`l_u == 1`。",
    .new_fn = cfdl_new,
    .repr_fn = Methods::repr,
    .dealloc_fn = dealloc_instance<CfdlController>,
    .methods = cfdl_methods,
};

}  // namespace

int add_cfdl_class(PyObject* module) { return add_class(module, "CFDLController", cfdl_class); }

}  // namespace vorn::py
