// functions.cpp — the nine module functions: PFDL initial-vector mappings and their
// writer, FFDL step-factor tuning, and the YAML configuration loader.
#include <array>
#include <cstdint>
#include <tuple>
#include <optional>
#include <string>
#include <vector>

#include "core/config.hpp"
#include "core/siso/ffdl_controller.hpp"
#include "core/siso/pfdl_controller.hpp"
#include "core/tuning.hpp"
#include "python/binding/binding.hpp"
#include "python/registry.hpp"
#include "python/siso_common.hpp"
#include "python/vector_classes.hpp"

namespace vorn::py {

namespace {

// --- conversions particular to the functions ---

// The controller argument, used in place: an instance of exactly `type` (the classes
// cannot be subclassed).
template <class Core>
bool controller_arg(PyObject* o, PyTypeObject* type, const char* type_name, Instance<Core>*& out) {
    if (!type) return false;
    if (Py_TYPE(o) != type) return fail_not_instance(o, type_name) || add_note("controller");
    out = &instance<Core>(o);
    return true;
}

// NumPy's boolean scalar, recognised by its type without importing NumPy.
bool is_numpy_bool(PyObject* o) {
    PyTypeObject* type = Py_TYPE(o);
    Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    Ref name(PyType_GetName(type));
    if (!module || !name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
           (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
            PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

// `read`: a bool or NumPy's boolean scalar; an int is refused.
bool read_arg(PyObject* o, bool& out) {
    if (PyBool_Check(o)) {
        out = o == Py_True;
        return true;
    }
    if (is_numpy_bool(o)) {
        const int truth = PyObject_IsTrue(o);
        if (truth < 0) return add_note("read");
        out = truth != 0;
        return true;
    }
    return fail_not_instance(o, "bool") || add_note("read");
}

// `path`: a str (encoded as the file system expects) or None / omitted.
bool path_arg(PyObject* o, std::optional<std::string>& out) {
    if (!o || o == Py_None) return true;
    if (!PyUnicode_Check(o)) return fail_not_instance(o, "str") || add_note("path");
    Ref bytes(PyUnicode_EncodeFSDefault(o));
    if (!bytes) return add_note("path");
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return add_note("path");
    out = std::string(data, static_cast<std::size_t>(size));
    return true;
}

// --- results ---

PyObject* result(const TuningVector& r) {
    if (!r) return raise_error(r.error());
    return to_py(r.value());
}

PyObject* result(const Status<TuningError>& s) {
    if (s) return raise_error(*s);
    return none();
}

// --- the PFDL mappings and their writer ---

const Signature pid_sig{"pid_to_pfdl()", {"kp", "ti", "td", "ts", "order"}, 4};
const Signature zn_sig{"zn_response_to_pfdl()", {"k", "tau", "time_delay", "ts", "order"}, 4};
const Signature critical_sig{"critical_proportional_to_pfdl()", {"ku", "tu", "ts", "order"}, 3};
const Signature apply_pfdl_sig{"apply_pfdl_initial_guess()", {"controller", "psi"}, 2};
const Signature ffdl_zn_sig{"ffdl_zn_tuning()", {"controller", "k", "tau", "time_delay", "ts"}, 5};
const Signature apply_ffdl_zn_sig{"apply_ffdl_zn_tuning()", {"controller", "k", "tau", "time_delay", "ts"}, 5};
const Signature ffdl_critical_sig{"ffdl_critical_tuning()", {"controller", "ku", "tu", "ts"}, 4};
const Signature apply_ffdl_critical_sig{"apply_ffdl_critical_tuning()", {"controller", "ku", "tu", "ts"}, 4};
const Signature load_sig{"load_config_from_yaml()", {"read", "path"}, 1};

constexpr std::uint64_t kDefaultOrder = 3;

// Converts the N real parameters of `sig` from index `first` on, in order, into `out`.
template <std::size_t N>
bool reals(const Signature& sig, PyObject* const* a, std::size_t first, std::array<double, N>& out) {
    for (std::size_t i = 0; i < N; ++i) {
        if (!arg(a[first + i], sig.name(first + i), out[i])) return false;
    }
    return true;
}

// A PFDL mapping `Map`: N real parameters, then `order` (3 when omitted).
template <const Signature& Sig, std::size_t N, auto Map>
PyObject* pfdl_mapping(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        PyObject* a[N + 1];
        if (!bind(Sig, args, nargs, kwnames, a)) return nullptr;
        std::array<double, N> v;
        std::uint64_t order = kDefaultOrder;
        if (!reals(Sig, a, 0, v) || !arg(a[N], Sig.name(N), order)) return nullptr;
        return result(std::apply([&](auto... x) { return Map(x..., order); }, v));
    });
}

PyObject* apply_pfdl_initial_guess_fn(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        PyObject* a[2];
        if (!bind(apply_pfdl_sig, args, nargs, kwnames, a)) return nullptr;
        Instance<PfdlController>* c = nullptr;
        std::vector<double> psi;
        if (!controller_arg(a[0], pfdl_type(module), "PFDLController", c) || !arg(a[1], "psi", psi)) return nullptr;
        Status<TuningError> s;
        {
            ExclusiveAccess access(c->access);
            if (!access) return nullptr;
            s = apply_pfdl_initial_guess(c->core, psi);
        }
        return result(s);
    });
}

// --- FFDL step-factor tuning ---

// An FFDL step-factor operation `Rule`: the controller, then N real parameters. The access
// (shared for the plain forms, exclusive for apply_*) is held only while the core runs.
template <const Signature& Sig, class Access, std::size_t N, auto Rule>
PyObject* ffdl_operation(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        PyObject* a[N + 1];
        if (!bind(Sig, args, nargs, kwnames, a)) return nullptr;
        Instance<FfdlController>* c = nullptr;
        std::array<double, N> v;
        if (!controller_arg(a[0], ffdl_type(module), "FFDLController", c) || !reals(Sig, a, 1, v)) return nullptr;
        auto run = [&] { return std::apply([&](auto... x) { return Rule(c->core, x...); }, v); };
        std::optional<decltype(run())> r;
        {
            Access access(c->access);
            if (!access) return nullptr;
            r.emplace(run());
        }
        return result(*r);
    });
}

// --- the configuration loader ---

PyObject* load_config_from_yaml_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        PyObject* a[2];
        if (!bind(load_sig, args, nargs, kwnames, a)) return nullptr;
        bool read = false;
        std::optional<std::string> path;
        if (!read_arg(a[0], read) || !path_arg(a[1], path)) return nullptr;
        const auto r = load_config(read, path);
        if (!r) return raise_error(r.error());
        return siso_newargs(r.value());  // the constructors' arguments, in order
    });
}

// In registration order.
PyMethodDef functions[] = {
    method("pid_to_pfdl", pfdl_mapping<pid_sig, 4, pid_to_pfdl>,
           "pid_to_pfdl(kp, ti, td, ts, order=3)\n--\n\n格式 A：由 PID 参数映射到 PFDL-VORN 伪梯度初值。"),
    method("zn_response_to_pfdl", pfdl_mapping<zn_sig, 4, zn_response_to_pfdl>,
           "zn_response_to_pfdl(k, tau, time_delay, ts, order=3)\n--\n\n格式 B：Ziegler-Nichols 响应曲线法映射到 "
           "PFDL-VORN 伪梯度初值。"),
    method("critical_proportional_to_pfdl", pfdl_mapping<critical_sig, 3, critical_proportional_to_pfdl>,
           "critical_proportional_to_pfdl(ku, tu, ts, order=3)\n--\n\n格式 C：临界比例度法映射到 PFDL-VORN 伪梯度初值。"),
    method("apply_pfdl_initial_guess", apply_pfdl_initial_guess_fn,
           "apply_pfdl_initial_guess(controller, psi)\n--\n\n将伪梯度初值注入 PFDL 控制器。"),
    method("ffdl_zn_tuning", ffdl_operation<ffdl_zn_sig, SharedAccess, 4, ffdl_zn_tuning>,
           "ffdl_zn_tuning(controller, k, tau, time_delay, ts)\n--\n\n间接型 FFDL 的 Z-N 响应曲线法步长因子整定。"),
    method("apply_ffdl_zn_tuning", ffdl_operation<apply_ffdl_zn_sig, ExclusiveAccess, 4, apply_ffdl_zn_tuning>,
           "apply_ffdl_zn_tuning(controller, k, tau, time_delay, ts)\n--\n\n将 Z-N 响应曲线法整定的步长因子应用到 "
           "FFDL 控制器。"),
    method("ffdl_critical_tuning", ffdl_operation<ffdl_critical_sig, SharedAccess, 3, ffdl_critical_tuning>,
           "ffdl_critical_tuning(controller, ku, tu, ts)\n--\n\n间接型 FFDL 的临界比例度法步长因子整定。"),
    method("apply_ffdl_critical_tuning", ffdl_operation<apply_ffdl_critical_sig, ExclusiveAccess, 3, apply_ffdl_critical_tuning>,
           "apply_ffdl_critical_tuning(controller, ku, tu, ts)\n--\n\n将临界比例度法整定的步长因子应用到 FFDL 控制器。"),
    method("load_config_from_yaml", load_config_from_yaml_fn,
           "load_config_from_yaml(read, path=None)\n--\n\n"
           "从 YAML 文件加载配置或返回默认配置。\n"
           "\n"
           "# 参数\n"
           "- `read`: 为 `True` 时读取 YAML 文件；为 `False` 时返回默认配置。\n"
           "- `path`: YAML 文件路径；为 `None` 时使用当前工作目录下的 `config.yaml`。\n"
           "\n"
           "# 返回值\n"
           "可用于构造控制器的参数元组：\n"
           "`(eta, mu, rho, lambda_, eps, l_y, l_u, initial_phi, u0, u_min, u_max)`。"),
    end_of_methods(),
};

}  // namespace

int add_functions(PyObject* module) {
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef* def = functions; def->ml_name; ++def) {
        Ref fn(PyCFunction_NewEx(def, module, module_name.get()));
        if (!fn || add_member(module, def->ml_name, fn.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace vorn::py
