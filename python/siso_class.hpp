// siso_class.hpp — the one class template of CFDLController, PFDLController and
// FFDLController. What differs per class is its form's descriptor `Form::Descriptor`
// (core/forms/siso_forms.hpp: core, names, defaults, pseudo-order rule, state table) and, in
// its binding's form description `Form`:
//   saved(core): the saved record of the state table;
//   steps(), get_phi with get_phi_doc, set_phi_hat() and extra_setters(): its own entries.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "core/siso/cfdl_controller.hpp"
#include "python/binding/methods.hpp"
#include "python/siso_common.hpp"

namespace vorn::py {

// The Python value of one step: the input alone, or the step's record as a tuple.
inline PyObject* step_result(double u) { return to_py(u); }
inline PyObject* step_result(const StepView& r) { return tuple_of(r.u, r.delta_y, r.delta_h, r.e, r.phi); }
inline PyObject* step_result(const CfdlStep& s) { return tuple_of(s.u, s.delta_y, s.delta_u, s.e, s.phi); }

template <class Form>
struct SisoClass {
    using Descriptor = typename Form::Descriptor;
    using Core = typename Descriptor::Core;
    static constexpr DlForm form = Descriptor::form;
    static constexpr const char* name = Descriptor::names.single_class;

    static inline const Signature new_sig{callable_name(name, "__new__"), arg_names(kSisoFields), 0};
    static_assert(kSisoFields.size() <= kMaxParams, "a Signature holds at most kMaxParams names");
    // The type's texts, made on first use (after every static initialisation) and kept for
    // the process, as the type made from them is.
    static const char* qualified_name() {
        static const std::string text = std::string("vorn._vorn_core.") + name;
        return text.c_str();
    }
    static const char* doc() {
        static const std::string summary = std::string("对应 Python 侧的 `") + name + "`。\n\n包装 [`" +
                                           Descriptor::names.core_class + "`]，" + forms::descriptor<Descriptor>().rule.doc() + "。";
        static const std::string text = class_doc(name, kSisoFields, form, 0, summary.c_str());
        return text.c_str();
    }

    // Builds a core from a record that passed the form test; a size that overflows or cannot
    // fit in memory is refused before anything is allocated.
    static std::optional<Core> build(const SisoParams& p) {
        if (!check_storage(Core::storage_bytes(p))) return std::nullopt;
        auto core = Core::create(p);
        if (!core) {
            raise_error(core.error());
            return std::nullopt;
        }
        return std::move(core).value();
    }

    static PyObject* new_fn(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guard([&]() -> PyObject* {
            SisoParams p(form);
            if (!parse_siso_args(new_sig, args, kwargs, p)) return nullptr;
            if (!admit_siso(p, form)) return nullptr;
            std::optional<Core> core = build(p);
            if (!core) return nullptr;
            return new_instance(type, std::move(*core));
        });
    }

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

    static PyObject* getnewargs(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](const Core& core) { return siso_newargs(core.params()); });
    }

    static PyObject* repr(PyObject* self) {
        return read_core<Core>(self, [](const Core& core) { return siso_repr(name, core.params()); });
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
                std::optional<Core> core = build(p);
                if (!core || !read_state_items<Descriptor>(state, saved)) return nullptr;
                if (auto error = core->import_state(std::move(saved))) return raise_error(*error);
                call.core() = std::move(*core);
            }
            return none();
        });
    }

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

    static inline ClassDef class_def{
        .qualified_name = qualified_name(),
        .basic_size = instance_size<Core>(),
        .doc = doc(),
        .new_fn = new_fn,
        .repr_fn = repr,
        .dealloc_fn = dealloc_instance<Core>,
        .methods = method_table(
            Form::steps(),
            method("reset", mutator_method<Core, &Core::reset>, "reset($self)\n--\n\n重置控制器状态。"),
            method("get_phi", reader_method<Core, Form::get_phi>, Form::get_phi_doc),
            Form::set_phi_hat(),
            setters(),
            Form::extra_setters(),
            method("__getnewargs__", getnewargs, "__getnewargs__($self)\n--\n\n返回用于 pickle 重建的参数元组。"),
            method("__getstate__", getstate, "__getstate__($self)\n--\n\n返回用于 pickle 的状态字典。"),
            one_arg_method<&setstate>(name, "__setstate__", "state", "从 pickle 状态字典恢复对象。")),
    };
};

}  // namespace vorn::py
