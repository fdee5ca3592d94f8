// siso_common.cpp — parameters, pickling and representation shared by the SISO classes.
#include "python/siso_common.hpp"

#include <type_traits>

#include "python/binding/field_args.hpp"

namespace vorn::py {

bool parse_siso_args(const Signature& sig, PyObject* args, PyObject* kwargs, SisoParams& out) {
    return bind_fields(sig, kSisoFields, args, kwargs, out);
}

namespace {

// The bytes a controller of `form` built from `p` holds; empty when the count overflows.
Size storage_bytes(const SisoParams& p, DlForm form) {
    return forms::with_siso_form(form, [&](auto f) { return decltype(f)::Core::storage_bytes(p); });
}

}  // namespace

bool admit_siso(const SisoParams& p, DlForm form) {
    if (auto error = validate(p)) {
        raise_error(*error);
        return false;
    }
    if (!orders_fit(form, p.l_y, p.l_u)) {
        PyErr_SetString(PyExc_ValueError, forms::order_message(form));
        return false;
    }
    return check_storage(storage_bytes(p, form));
}

PyObject* siso_newargs(const SisoParams& p) {
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(kSisoFields.size())));
    if (!tuple) return nullptr;
    Py_ssize_t i = 0;
    const bool ok = all_fields(kSisoFields, p, [&](const SisoField&, const auto& member) {
        PyObject* item = to_py(member);
        return item && PyTuple_SetItem(tuple.get(), i++, item) == 0;
    });
    return ok ? tuple.release() : nullptr;
}

bool set_state_item(PyObject* dict, const char* key, PyObject* value) {
    Ref owned(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

Ref siso_state_dict(const SisoParams& p) {
    Ref d(PyDict_New());
    if (!d) return d;
    const bool ok = all_fields(kSisoFields, p, [&](const SisoField& f, const auto& member) { return set_state_item(d.get(), f.key, to_py(member)); });
    return ok ? std::move(d) : Ref();
}

bool read_state_params(PyObject* state, SisoParams& out) {
    if (!PyDict_Check(state)) {
        fail_not_instance(state, "dict");
        return add_note("state");
    }
    return all_fields(kSisoFields, out, [&](const SisoField& f, auto& member) { return state_item(state, f.key, member); });
}

PyObject* siso_repr(const char* class_name, const SisoParams& p) {
    std::string s = class_name;
    const char* separator = "(";
    all_fields(kSisoFields, p, [&](const SisoField& f, const auto& member) {
        using T = std::remove_cvref_t<decltype(member)>;
        if constexpr (!std::is_same_v<T, std::optional<double>>) {
            s += separator;
            s += f.arg;
            s += '=';
            if constexpr (std::is_same_v<T, double>) {
                s += fixed4(member);
            } else {
                s += std::to_string(member);
            }
            separator = ", ";
        }
        return true;
    });
    s += ')';
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace vorn::py
