// siso_common.hpp — what the three SISO classes share: the constructor parameters of the
// record's table, their validation and form test, `__getnewargs__`, the parameter part of
// the pickle state, and the printed representation.
#pragma once

#include <array>
#include <string>

#include "core/siso/param_table.hpp"
#include "python/binding/binding.hpp"
#include "python/binding/methods.hpp"

namespace vorn::py {

// Binds and converts the constructor arguments into `out`, which holds the class's
// defaults on entry. `sig` must list arg_names(kSisoFields) alone.
bool parse_siso_args(const Signature& sig, PyObject* args, PyObject* kwargs, SisoParams& out);

// The constructor's checks in order: validation, then the form test (`form_ok`), raising
// ValueError with the validation message or `form_message`.
bool check_siso(const SisoParams& p, bool form_ok, const char* form_message);

// The constructor arguments, None for absent limits.
PyObject* siso_newargs(const SisoParams& p);

// A new state dictionary holding the parameter keys ("lambda", not "lambda_").
Ref siso_state_dict(const SisoParams& p);
// Sets dict[key] = value, taking over the new reference `value`; false on failure.
bool set_state_item(PyObject* dict, const char* key, PyObject* value);

// Reads dict[key] into `out`: KeyError naming a missing key; a value that does not convert
// raises the conversion's own exception, without a note.
template <class T>
bool state_item(PyObject* dict, const char* key, T& out) {
    Ref name(PyUnicode_FromString(key));
    if (!name) return false;
    PyObject* value = PyDict_GetItemWithError(dict, name.get());
    if (!value) {
        if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, name.get());
        return false;
    }
    Ref hold = Ref::borrow(value);
    return convert(value, out);
}

// Checks that `state` is a dict (TypeError with the note naming 'state') and reads the
// parameter keys in order.
bool read_state_params(PyObject* state, SisoParams& out);

// "<Class>(eta=…, mu=…, …, u0=…)": every field but the limits, reals with four decimals.
PyObject* siso_repr(const char* class_name, const SisoParams& p);

}  // namespace vorn::py

namespace vorn::py {

// Names each SISO core's Python class; specialised next to each class.
template <class Core>
struct SisoClass;

// Methods of the same shape in every SISO class; each core offers params().
template <class Core>
struct SisoMethods {
    static constexpr const char* name = SisoClass<Core>::name;
    static std::string callable(const char* method) { return callable_name(name, method); }

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
        return guard([&]() -> PyObject* {
            SharedCall<Core> call(self);
            if (!call) return nullptr;
            return siso_newargs(call.core().params());
        });
    }
    static PyMethodDef getnewargs_def() {
        return method("__getnewargs__", getnewargs, "__getnewargs__($self)\n--\n\n返回用于 pickle 重建的参数元组。");
    }

    static PyObject* repr(PyObject* self) {
        return guard([&]() -> PyObject* {
            SharedCall<Core> call(self);
            if (!call) return nullptr;
            return siso_repr(SisoClass<Core>::name, call.core().params());
        });
    }
};

inline constexpr const char* kGetStateDoc = "__getstate__($self)\n--\n\n返回用于 pickle 的状态字典。";
inline constexpr const char* kSetStateDoc = "__setstate__($self, state)\n--\n\n从 pickle 状态字典恢复对象。";
inline constexpr const char* kResetDoc = "reset($self)\n--\n\n重置控制器状态。";

}  // namespace vorn::py
