// siso_common.hpp — what the SISO classes share beside their class template: the
// constructor parameters of the record's table, their validation, form test and storage check,
// `__getnewargs__`, the pickle state's parameter keys and the rows of the form's state table,
// and the printed form.
#pragma once

#include <string>
#include <tuple>
#include <type_traits>

#include "core/forms/siso_forms.hpp"
#include "core/siso/param_table.hpp"
#include "python/binding/binding.hpp"

namespace vorn::py {

// Binds and converts the constructor arguments into `out`, which holds the class's
// defaults on entry. `sig` must list arg_names(kSisoFields) alone.
bool parse_siso_args(const Signature& sig, PyObject* args, PyObject* kwargs, SisoParams& out);

// What the constructor of the class of `form` checks before it allocates, in order: the
// validation, the form test (ValueError with the form's message), then the storage the state takes
// (OverflowError or MemoryError, as check_storage). Raises what the constructor would raise.
bool admit_siso(const SisoParams& p, DlForm form);

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

// Writes the pickled rows of `Form`'s state table (forms::Cfdl, …) from the saved record
// `s` into dict `d`, in table order.
template <class Form>
bool write_state_items(PyObject* d, const typename Form::State& s) {
    return std::apply(
        [&](const auto&... e) {
            return ([&](const auto& entry) {
                if constexpr (forms::in_record<std::remove_cvref_t<decltype(entry)>>) {
                    if (entry.array.pickled) return set_state_item(d, entry.array.key, to_py(s.*entry.member));
                }
                return true;
            }(e) && ...);
        },
        Form::state);
}

// Reads the pickled rows of `Form`'s state table from dict `d` into `s`, in table order, as
// state_item does.
template <class Form>
bool read_state_items(PyObject* d, typename Form::State& s) {
    return std::apply(
        [&](const auto&... e) {
            return ([&](const auto& entry) {
                if constexpr (forms::in_record<std::remove_cvref_t<decltype(entry)>>) {
                    if (entry.array.pickled) return state_item(d, entry.array.key, s.*entry.member);
                }
                return true;
            }(e) && ...);
        },
        Form::state);
}

// Checks that `state` is a dict (TypeError with the note naming 'state') and reads the
// parameter keys in order.
bool read_state_params(PyObject* state, SisoParams& out);

// "<Class>(eta=…, mu=…, …, u0=…)": every field but the limits, reals with four decimals.
PyObject* siso_repr(const char* class_name, const SisoParams& p);

}  // namespace vorn::py
