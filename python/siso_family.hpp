// siso_family.hpp — the traits of the SISO classes CFDLController, PFDLController and
// FFDLController for the class template (python/single_class.hpp): scalar steps, the
// parameter table's record, pickling through the form's state table. What differs per class
// is its form's descriptor `Form::Descriptor` (core/forms/siso_forms.hpp: core, names,
// defaults, pseudo-order rule, state table) and, in its binding's form description `Form`:
//   saved(core): the saved record of the state table;
//   steps(), get_phi with get_phi_doc, set_phi_hat() and extra_setters(): its own entries.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "core/siso/cfdl_controller.hpp"
#include "python/siso_common.hpp"
#include "python/single_class.hpp"

namespace vorn::py {

// The Python value of one step: the input alone, or the step's record as a tuple.
inline PyObject* step_result(double u) { return to_py(u); }
inline PyObject* step_result(const StepView& r) { return tuple_of(r.u, r.delta_y, r.delta_h, r.e, r.phi); }
inline PyObject* step_result(const CfdlStep& s) { return tuple_of(s.u, s.delta_y, s.delta_u, s.e, s.phi); }

template <class Form>
struct SisoFamily {
    using Descriptor = typename Form::Descriptor;
    using Core = typename Descriptor::Core;
    using Object = Core;
    using Params = SisoParams;
    static constexpr std::nullptr_t kCore = nullptr;
    static constexpr DlForm form = Descriptor::form;
    static constexpr const char* name = Descriptor::names.single_class;
    static constexpr const auto& fields = kSisoFields;
    static constexpr std::size_t required = 0;
    static constexpr const char* reset_doc = "reset($self)\n--\n\n重置控制器状态。";
    static constexpr PyGetSetDef* getset = nullptr;

    static std::string summary() {
        return std::string("对应 Python 侧的 `") + name + "`。\n\n包装 [`" + Descriptor::names.core_class + "`]，" +
               forms::descriptor<Descriptor>().rule.doc() + "。";
    }
    static Params defaults() { return SisoParams(form); }
    static bool admit(const Params& p) { return admit_siso(p, form); }
    static PyObject* repr(const Core& core) { return siso_repr(name, core.params()); }

    // `Step(y, yd)` on the core; allocates nothing but the result.
    template <auto Step>
    static PyObject* step(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 2> call(self, *MethodText<&step<Step>>::sig, args, nargs, kwnames);
            double y = 0.0, yd = 0.0;
            if (!call || !call.get(0, y) || !call.get(1, yd)) return nullptr;
            return step_result(std::invoke(Step, call.core(), y, yd));
        });
    }
    template <auto Step>
    static PyMethodDef step_def(const char* method_name, const char* summary) {
        return method_with_args<&step<Step>>(name, method_name, {"y", "yd"}, summary);
    }

    static auto steps() { return Form::steps(); }
    static PyMethodDef get_phi() { return method("get_phi", reader_method<Core, Form::get_phi>, Form::get_phi_doc); }
    static auto set_phi_hat() { return Form::set_phi_hat(); }
    static auto extra_setters() { return Form::extra_setters(); }

    // The entries set_eta … set_u_max, in method-table order.
    static std::array<PyMethodDef, 9> setters() {
        return {
            setter<Core, &Core::set_eta>(name, "set_eta", "eta"),
            setter<Core, &Core::set_mu>(name, "set_mu", "mu"),
            setter<Core, &Core::set_rho>(name, "set_rho", "rho"),
            setter<Core, &Core::set_lambda>(name, "set_lambda", "lambda_"),
            setter<Core, &Core::set_eps>(name, "set_eps", "eps"),
            setter<Core, &Core::set_u0>(name, "set_u0", "u0"),
            setter<Core, &Core::set_initial_phi>(name, "set_initial_phi", "initial_phi"),
            setter<Core, &Core::set_u_min>(name, "set_u_min", "u_min"),
            setter<Core, &Core::set_u_max>(name, "set_u_max", "u_max"),
        };
    }

    static PyObject* getnewargs(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](const Core& core) { return siso_newargs(core.params()); });
    }

    static PyObject* getstate(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](const Core& core) -> PyObject* {
            Ref state = siso_state_dict(core.params());
            if (!state || !write_state_items<Descriptor>(state.get(), Form::saved(core))) return nullptr;
            return state.release();
        });
    }

    // The parameters, then the rest of the state; the object changes only when all of it is
    // read. The compact form takes the saved record as it is; the vector forms build a whole
    // new core, whose pseudo-orders must fit the form, and swap it in.
    static PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, *MethodText<&setstate>::sig, args, nargs, kwnames);
            if (!call) return nullptr;
            PyObject* state = call.raw(0);
            SisoParams p;
            typename Descriptor::State saved{};
            if (!read_state_params(state, p)) return nullptr;
            if constexpr (form == DlForm::Compact) {
                if (!read_state_items<Descriptor>(state, saved)) return nullptr;
                call.core().restore(p, saved);
            } else {
                if (!orders_fit(form, p.l_y, p.l_u)) return raise_error(ParamError{ParamRule::InvalidOrder, {}});
                std::optional<Core> core = build_core<Core>(p);
                if (!core || !read_state_items<Descriptor>(state, saved)) return nullptr;
                if (auto error = core->import_state(std::move(saved))) return raise_error(*error);
                call.core() = std::move(*core);
            }
            return none();
        });
    }

    static std::array<PyMethodDef, 3> pickling() {
        return {
            method("__getnewargs__", getnewargs, "__getnewargs__($self)\n--\n\n返回用于 pickle 重建的参数元组。"),
            method("__getstate__", getstate, "__getstate__($self)\n--\n\n返回用于 pickle 的状态字典。"),
            one_arg_method<&setstate>(name, "__setstate__", "state", "从 pickle 状态字典恢复对象。"),
        };
    }
};

// The class of the SISO form description `Form`.
template <class Form>
using SisoClass = SingleClass<SisoFamily<Form>>;

}  // namespace vorn::py
