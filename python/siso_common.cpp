// siso_common.cpp — parameters, pickling and representation shared by the SISO classes.
#include "python/siso_common.hpp"

namespace vorn::py {

bool parse_siso_args(const Signature& sig, PyObject* args, PyObject* kwargs, SisoParams& out) {
    PyObject* a[11];
    if (!bind(sig, args, kwargs, a)) return false;
    return arg(a[0], "eta", out.eta) && arg(a[1], "mu", out.mu) && arg(a[2], "rho", out.rho) &&
           arg(a[3], "lambda_", out.lambda) && arg(a[4], "eps", out.eps) && arg(a[5], "l_y", out.l_y) &&
           arg(a[6], "l_u", out.l_u) && arg(a[7], "initial_phi", out.initial_phi) && arg(a[8], "u0", out.u0) &&
           arg(a[9], "u_min", out.u_min) && arg(a[10], "u_max", out.u_max);
}

bool check_siso(const SisoParams& p, bool form_ok, const char* form_message) {
    if (auto error = validate(p)) {
        raise_error(*error);
        return false;
    }
    if (!form_ok) {
        PyErr_SetString(PyExc_ValueError, form_message);
        return false;
    }
    return true;
}

PyObject* siso_newargs(const SisoParams& p) {
    return tuple_of(p.eta, p.mu, p.rho, p.lambda, p.eps, p.l_y, p.l_u, p.initial_phi, p.u0, p.u_min, p.u_max);
}

bool set_state_item(PyObject* dict, const char* key, PyObject* value) {
    Ref owned(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

Ref siso_state_dict(const SisoParams& p) {
    Ref d(PyDict_New());
    if (!d) return d;
    PyObject* o = d.get();
    const bool ok = set_state_item(o, "eta", to_py(p.eta)) && set_state_item(o, "mu", to_py(p.mu)) &&
                    set_state_item(o, "rho", to_py(p.rho)) && set_state_item(o, "lambda", to_py(p.lambda)) &&
                    set_state_item(o, "eps", to_py(p.eps)) && set_state_item(o, "l_y", to_py(p.l_y)) &&
                    set_state_item(o, "l_u", to_py(p.l_u)) &&
                    set_state_item(o, "initial_phi", to_py(p.initial_phi)) &&
                    set_state_item(o, "u0", to_py(p.u0)) && set_state_item(o, "u_min", to_py(p.u_min)) &&
                    set_state_item(o, "u_max", to_py(p.u_max));
    return ok ? std::move(d) : Ref();
}

bool read_state_params(PyObject* state, SisoParams& out) {
    if (!PyDict_Check(state)) {
        fail_not_instance(state, "dict");
        return add_note("state");
    }
    return state_item(state, "eta", out.eta) && state_item(state, "mu", out.mu) &&
           state_item(state, "rho", out.rho) && state_item(state, "lambda", out.lambda) &&
           state_item(state, "eps", out.eps) && state_item(state, "l_y", out.l_y) &&
           state_item(state, "l_u", out.l_u) && state_item(state, "initial_phi", out.initial_phi) &&
           state_item(state, "u0", out.u0) && state_item(state, "u_min", out.u_min) &&
           state_item(state, "u_max", out.u_max);
}

PyObject* siso_repr(const char* class_name, const SisoParams& p) {
    std::string s = class_name;
    s += "(eta=" + fixed4(p.eta) + ", mu=" + fixed4(p.mu) + ", rho=" + fixed4(p.rho) +
         ", lambda_=" + fixed4(p.lambda) + ", eps=" + fixed4(p.eps) + ", l_y=" + std::to_string(p.l_y) +
         ", l_u=" + std::to_string(p.l_u) + ", initial_phi=" + fixed4(p.initial_phi) + ", u0=" + fixed4(p.u0) +
         ")";
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace vorn::py
