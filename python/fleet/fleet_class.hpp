// fleet_class.hpp — the methods of a fleet class, written once over its kind (fleet_kinds.hpp):
// construction and validation of every member, stepping on arrays, the setters with a
// scalar or one value per member, member access, conversion from controllers, pickling.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "python/binding.hpp"
#include "python/fleet/arrays.hpp"
#include "python/fleet/bridge.hpp"
#include "python/fleet/fleet_kinds.hpp"
#include "python/methods.hpp"
#include "python/siso_common.hpp"

namespace vorn::py::fleet {

// From this many members on, a step runs without the interpreter lock.
inline constexpr std::size_t kReleaseLockFrom = 1 << 14;

// Writes per-member values (scalar or n) into dst.
inline void fill_members(std::vector<double>& dst, const Doubles& v) {
    if (v.scalar) {
        std::fill(dst.begin(), dst.end(), v.data[0]);
    } else {
        std::copy(v.data, v.data + dst.size(), dst.begin());
    }
}

// Writes an n×rows member-major matrix (or one row for everyone) into the rows×n
// component-major array dst.
inline void fill_rows(std::vector<double>& dst, std::size_t n, std::size_t rows, const Doubles& v) {
    for (std::size_t k = 0; k < rows; ++k) {
        for (std::size_t i = 0; i < n; ++i) dst[k * n + i] = v.scalar ? v.data[k] : v.data[i * rows + k];
    }
}

// A new (n, rows) array (or (n,) when rows is 0) from a rows×n component-major array.
inline Ref rows_to_array(const std::vector<double>& src, std::size_t n, std::size_t rows) {
    double* out = nullptr;
    Ref arr = new_array(n, rows, out);
    if (!arr) return arr;
    const std::size_t r = rows ? rows : 1;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < r; ++k) out[i * r + k] = src[k * n + i];
    }
    return arr;
}

inline Ref flags_to_array(const std::vector<unsigned char>& src) {
    unsigned char* out = nullptr;
    Ref arr = new_flags(src.size(), out);
    if (arr) std::memcpy(out, src.data(), src.size());
    return arr;
}

inline bool read_flags(PyObject* o, const char* name, std::vector<unsigned char>& dst) {
    Doubles v;
    if (!read_doubles(o, name, Shape{dst.size()}, v)) return false;
    for (std::size_t i = 0; i < dst.size(); ++i) dst[i] = v.data[i] != 0.0;
    return true;
}

// A real-valued parameter: its constructor argument, its array, its default's field.
struct RealParam {
    std::size_t index;
    const char* name;
    std::vector<double> FleetParams::*field;
    double SisoParams::*value;
};
inline constexpr RealParam kRealParams[] = {
    {1, "eta", &FleetParams::eta, &SisoParams::eta},
    {2, "mu", &FleetParams::mu, &SisoParams::mu},
    {3, "rho", &FleetParams::rho, &SisoParams::rho},
    {4, "lambda_", &FleetParams::lambda, &SisoParams::lambda},
    {5, "eps", &FleetParams::eps, &SisoParams::eps},
    {8, "initial_phi", &FleetParams::initial_phi, &SisoParams::initial_phi},
    {9, "u0", &FleetParams::u0, &SisoParams::u0},
};
// The pickle keys of the parameter arrays, "lambda" as in the classes' state.
inline constexpr std::pair<const char*, std::vector<double> FleetParams::*> kParamKeys[] = {
    {"eta", &FleetParams::eta}, {"mu", &FleetParams::mu}, {"rho", &FleetParams::rho},
    {"lambda", &FleetParams::lambda}, {"eps", &FleetParams::eps}, {"initial_phi", &FleetParams::initial_phi},
    {"u0", &FleetParams::u0}, {"u_min", &FleetParams::u_min}, {"u_max", &FleetParams::u_max},
};

// An optional limit: None (absent for all), or a scalar or n values (present for all).
struct Limit {
    bool given = false;
    Doubles values;
};

inline bool read_limit(PyObject* o, const char* name, std::size_t n, Limit& out) {
    out.given = o && o != Py_None;
    return !out.given || read_doubles(o, name, Shape{n, 0, true}, out.values);
}

inline void store_limit(const Limit& l, std::vector<double>& values, std::vector<unsigned char>& flags) {
    std::fill(flags.begin(), flags.end(), l.given);
    if (l.given) fill_members(values, l.values);
}

inline double at(const Doubles& v, std::size_t i) { return v.scalar ? v.data[0] : v.data[i]; }

template <class Kind>
struct FleetClass {
    using Core = typename Kind::Core;
    using Single = typename Kind::Single;
    using Object = Instance<Core>;

    static std::string callable(const char* method) { return callable_name(Kind::name, method); }

    static inline const Signature new_sig{
        std::string(Kind::name) + ".__new__()",
        {"n", "eta", "mu", "rho", "lambda_", "eps", "l_y", "l_u", "initial_phi", "u0", "u_min", "u_max"},
        1};
    static inline const Signature update_sig{callable("update"), {"y", "yd", "out"}, 2};
    static inline const Signature update_logged_sig{callable("update_logged"), {"y", "yd"}, 2};
    static inline const Signature phi_sig{callable("set_phi_hat"), {"phi"}, 1};
    static inline const Signature initial_phi_sig{callable("set_initial_phi"), {"initial_phi"}, 1};
    static inline const Signature rho_vector_sig{callable("set_rho_vector"), {"rho"}, 1};
    static inline const Signature u_min_sig{callable("set_u_min"), {"u_min"}, 1};
    static inline const Signature u_max_sig{callable("set_u_max"), {"u_max"}, 1};
    static inline const Signature from_sig{callable("from_controllers"), {"controllers"}, 1};
    static inline const Signature setstate_sig{callable("__setstate__"), {"state"}, 1};

    // Refuses sizes that overflow or exceed the machine before anything is allocated.
    static bool check_size(std::uint64_t n, std::uint64_t l_y, std::uint64_t l_u) {
        const Size count = to_size(n);
        return check_storage(count ? Kind::storage_bytes(*count, l_y, l_u) : Size());
    }

    static PyObject* new_fn(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guard([&]() -> PyObject* {
            PyObject* a[12];
            if (!bind(new_sig, args, kwargs, a)) return nullptr;
            std::uint64_t n64 = 0;
            SisoParams base;
            base.l_y = Kind::default_l_y;
            base.l_u = Kind::default_l_u;
            if (!arg(a[0], "n", n64) || !arg(a[6], "l_y", base.l_y) || !arg(a[7], "l_u", base.l_u)) return nullptr;
            if (!check_size(n64, base.l_y, base.l_u)) return nullptr;
            const auto n = static_cast<std::size_t>(n64);

            Doubles reals[std::size(kRealParams)];
            for (std::size_t r = 0; r < std::size(kRealParams); ++r) {
                const RealParam& rp = kRealParams[r];
                if (a[rp.index]) {
                    if (!read_doubles(a[rp.index], rp.name, Shape{n, 0, true}, reals[r])) return nullptr;
                } else {
                    reals[r].copy.assign(1, base.*rp.value);
                    reals[r].data = reals[r].copy.data();
                    reals[r].scalar = true;
                }
            }
            Limit lo, hi;
            if (!read_limit(a[10], "u_min", n, lo) || !read_limit(a[11], "u_max", n, hi)) return nullptr;

            // Every member as its class's constructor would judge it, in member order.
            auto member = [&](std::size_t i) {
                SisoParams p = base;
                for (std::size_t r = 0; r < std::size(kRealParams); ++r) p.*kRealParams[r].value = at(reals[r], i);
                if (lo.given) p.u_min = at(lo.values, i);
                if (hi.given) p.u_max = at(hi.values, i);
                return p;
            };
            for (std::size_t i = 0; i < n; ++i) {
                if (auto error = validate(member(i))) {
                    raise_error(*error);
                    return add_note_text(("member " + std::to_string(i)).c_str()), nullptr;
                }
                if (i == 0 && !Kind::form_ok(base)) break;
            }
            if (!Kind::form_ok(base)) return raise_value_error(Kind::form_message);

            FleetParams params(n, base);
            for (std::size_t r = 0; r < std::size(kRealParams); ++r) {
                fill_members(params.*kRealParams[r].field, reals[r]);
            }
            store_limit(lo, params.u_min, params.has_u_min);
            store_limit(hi, params.u_max, params.has_u_max);
            return new_instance(type, Kind::make(std::move(params)));
        });
    }

    // The inputs of a step: y of n values, yd a scalar or n values, pinned or copied.
    static bool read_inputs(const ExclusiveCall<Core, 3>& call, std::size_t n, Doubles& y, Doubles& yd) {
        return read_doubles(call.raw(0), "y", Shape{n}, y) && read_doubles(call.raw(1), "yd", Shape{n, 0, true}, yd);
    }

    template <class Step>
    static void run(std::size_t n, Step&& step) {
        if (n >= kReleaseLockFrom) {
            Py_BEGIN_ALLOW_THREADS
            step();
            Py_END_ALLOW_THREADS
        } else {
            step();
        }
    }

    static PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 3> call(self, update_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            const std::size_t n = core.size();
            Doubles y, yd, pinned_out;
            if (!read_inputs(call, n, y, yd)) return nullptr;
            PyObject* out_arg = call.raw(2);
            Ref result;
            double* out = nullptr;
            std::ptrdiff_t stride = sizeof(double);
            if (out_arg && out_arg != Py_None) {
                out = writable_out(out_arg, n, pinned_out, stride);
                if (!out) return nullptr;
                result = Ref::borrow(out_arg);
                // The step reads its inputs after writing some outputs: inputs that share
                // memory with `out` are copied first.
                const std::ptrdiff_t last = n ? static_cast<std::ptrdiff_t>(n - 1) * stride : 0;
                const char* low = reinterpret_cast<const char*>(out) + std::min<std::ptrdiff_t>(0, last);
                const auto span = static_cast<std::size_t>(std::abs(last)) + sizeof(double);
                if (y.overlaps(low, span)) y.own();
                if (yd.overlaps(low, span)) yd.own();
            } else {
                result = new_array(n, 0, out);
                if (!result) return nullptr;
            }
            if (stride == sizeof(double)) {
                run(n, [&] { core.update(y.data, yd.data, yd.scalar, out); });
            } else {
                std::vector<double> u(n);
                run(n, [&] { core.update(y.data, yd.data, yd.scalar, u.data()); });
                char* base = reinterpret_cast<char*>(out);
                for (std::size_t i = 0; i < n; ++i) std::memcpy(base + static_cast<std::ptrdiff_t>(i) * stride, &u[i], 8);
            }
            return result.release();
        });
    }

    static PyObject* update_logged(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 3> call(self, update_logged_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            const std::size_t n = core.size(), m = Kind::components(core);
            Doubles y, yd;
            if (!read_inputs(call, n, y, yd)) return nullptr;
            double *u, *dy, *dh, *e, *phi;
            Ref ru = new_array(n, 0, u), rdy = new_array(n, 0, dy), rdh = new_array(n, m, dh), re = new_array(n, 0, e),
                rphi = new_array(n, m, phi);
            if (!ru || !rdy || !rdh || !re || !rphi) return nullptr;
            // A CFDL member's increment vector and estimate have one entry: (n, 1) is laid out as (n,).
            const typename std::conditional_t<std::is_same_v<Core, CfdlFleet>, CfdlFleetLog, VectorFleetLog> log{
                dy, dh, e, phi};
            run(n, [&] { core.update(y.data, yd.data, yd.scalar, u, &log); });
            return PyTuple_Pack(5, ru.get(), rdy.get(), rdh.get(), re.get(), rphi.get());
        });
    }

    static PyObject* reset(PyObject* self, PyObject*) {
        ExclusiveCall<Core> call(self);
        if (!call) return nullptr;
        call.core().reset();
        return none();
    }

    static PyObject* get_phi(PyObject* self, PyObject*) {
        return guard([&]() -> PyObject* {
            SharedCall<Core> call(self);
            if (!call) return nullptr;
            Core& core = call.core();
            return rows_to_array(core.phi_hat(), core.size(), Kind::components(core)).release();
        });
    }

    // set_phi_hat(phi): estimate and reset value of every member, (n, m) or one (m,) row.
    static PyObject* set_phi_hat(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, phi_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            const std::size_t n = core.size(), m = Kind::components(core);
            Doubles v;
            if (!read_doubles(call.raw(0), "phi", Shape{n, m, true}, v)) return nullptr;
            fill_rows(core.phi_hat(), n, m, v);
            fill_rows(core.phi_reset(), n, m, v);
            return none();
        });
    }

    // set_initial_phi: the parameter initial_phi and the estimate's reset value. A scalar or
    // n values in the compact form; (n, m) or one (m,) row in the vector forms, whose first
    // entry becomes the parameter, as in the classes.
    static PyObject* set_initial_phi(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, initial_phi_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            const std::size_t n = core.size();
            Doubles v;
            if constexpr (std::is_same_v<Core, CfdlFleet>) {
                if (!read_doubles(call.raw(0), "initial_phi", Shape{n, 0, true}, v)) return nullptr;
                fill_members(core.params().initial_phi, v);
                fill_members(core.phi_reset(), v);
            } else {
                const std::size_t m = core.components();
                if (!read_doubles(call.raw(0), "initial_phi", Shape{n, m, true}, v)) return nullptr;
                for (std::size_t i = 0; i < n; ++i) core.params().initial_phi[i] = v.scalar ? v.data[0] : v.data[i * m];
                fill_rows(core.phi_reset(), n, m, v);
            }
            return none();
        });
    }

    // set_<param>(value): a scalar or n values, stored unvalidated.
    template <std::vector<double> FleetParams::*Field, const Signature& Sig>
    static PyObject* set_param(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, Sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Doubles v;
            if (!read_doubles(call.raw(0), Sig.name(0), Shape{call.core().size(), 0, true}, v)) return nullptr;
            fill_members(call.core().params().*Field, v);
            return none();
        });
    }

    // set_u_min / set_u_max: None removes the limit of every member.
    template <std::vector<double> FleetParams::*Values, std::vector<unsigned char> FleetParams::*Flags,
              const Signature& Sig>
    static PyObject* set_limit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, Sig, args, nargs, kwnames);
            if (!call) return nullptr;
            FleetParams& p = call.core().params();
            Limit l;
            if (!read_limit(call.raw(0), Sig.name(0), p.size(), l)) return nullptr;
            store_limit(l, p.*Values, p.*Flags);
            return none();
        });
    }

    // Full form only (the other tables leave it out).
    static PyObject* set_rho_vector(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        if constexpr (!std::is_same_v<Kind, FfdlKind>) {
            return nullptr;
        } else {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, rho_vector_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            const std::size_t n = core.size(), m = core.components();
            Doubles v;
            if (!read_doubles(call.raw(0), "rho", Shape{n, m, true}, v)) return nullptr;
            fill_rows(core.rho_vector(), n, m, v);
            std::fill(core.has_rho_vector().begin(), core.has_rho_vector().end(), 1);
            return none();
        });
        }
    }

    static Py_ssize_t length(PyObject* self) {
        SharedCall<Core> call(self);
        if (!call) return -1;
        return static_cast<Py_ssize_t>(call.core().size());
    }

    // fleet[i]: a new controller equal to member i.
    static PyObject* item(PyObject* self, PyObject* key) {
        return guard([&]() -> PyObject* {
            SharedCall<Core> call(self);
            if (!call) return nullptr;
            const Py_ssize_t n = static_cast<Py_ssize_t>(call.core().size());
            Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
            if (i == -1 && PyErr_Occurred()) return nullptr;
            if (i < 0) i += n;
            if (i < 0 || i >= n) {
                PyErr_SetString(PyExc_IndexError, "fleet index out of range");
                return nullptr;
            }
            return new_instance(single_type<Single>(), Kind::member(call.core(), static_cast<std::size_t>(i)));
        });
    }

    // from_controllers(controllers): a fleet whose member i is a copy of controllers[i].
    static PyObject* from_controllers(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            PyObject* a[1];
            if (!bind(from_sig, args, nargs, kwnames, a)) return nullptr;
            // A list of its own, so that no conversion can change the items meanwhile.
            Ref items(PySequence_List(a[0]));
            if (!items) return add_note("controllers"), nullptr;
            const auto n = static_cast<std::size_t>(PyList_Size(items.get()));
            std::vector<PyObject*> objs(n);
            for (std::size_t i = 0; i < n; ++i) objs[i] = PyList_GetItem(items.get(), static_cast<Py_ssize_t>(i));
            for (std::size_t i = 0; i < n; ++i) {
                if (!single_instance<Single>(objs[i])) {
                    fail_not_instance(objs[i], Kind::single_name);
                    return add_note_text(("controllers[" + std::to_string(i) + "]").c_str()), nullptr;
                }
            }
            SisoParams base;
            base.l_y = Kind::default_l_y;
            base.l_u = Kind::default_l_u;
            if (n) {
                Instance<Single>& first = *single_instance<Single>(objs[0]);
                SharedAccess access(first.access);
                if (!access) return nullptr;
                base = first.core.params();
            }
            if (!check_size(n, base.l_y, base.l_u)) return nullptr;
            Core core = Kind::make(FleetParams(n, base));
            for (std::size_t i = 0; i < n; ++i) {
                Instance<Single>& c = *single_instance<Single>(objs[i]);
                SharedAccess access(c.access);
                if (!access) return nullptr;
                if (auto error = Kind::set_member(core, i, c.core)) {
                    raise_error(*error);
                    return add_note_text(("controllers[" + std::to_string(i) + "]").c_str()), nullptr;
                }
            }
            return new_instance(reinterpret_cast<PyTypeObject*>(cls), std::move(core));
        });
    }

    static PyObject* repr(PyObject* self) {
        SharedCall<Core> call(self);
        if (!call) return nullptr;
        const FleetParams& p = call.core().params();
        return PyUnicode_FromFormat("%s(n=%zu, l_y=%llu, l_u=%llu)", Kind::name, p.size(),
                                    static_cast<unsigned long long>(p.l_y), static_cast<unsigned long long>(p.l_u));
    }

    static PyObject* getnewargs(PyObject* self, PyObject*) {
        SharedCall<Core> call(self);
        if (!call) return nullptr;
        return Py_BuildValue("(n)", static_cast<Py_ssize_t>(call.core().size()));
    }

    // The whole state of every member, reset values included: parameter arrays, limit
    // flags, the pseudo-orders and the dynamic arrays of the kind.
    static PyObject* getstate(PyObject* self, PyObject*) {
        return guard([&]() -> PyObject* {
            SharedCall<Core> call(self);
            if (!call) return nullptr;
            Core& core = call.core();
            FleetParams& p = core.params();
            const std::size_t n = core.size();
            Ref d(PyDict_New());
            if (!d) return nullptr;
            bool ok = set_state_item(d.get(), "l_y", to_py(p.l_y)) && set_state_item(d.get(), "l_u", to_py(p.l_u));
            for (const auto& [key, field] : kParamKeys) ok = ok && set_state_item(d.get(), key, rows_to_array(p.*field, n, 0).release());
            ok = ok && set_state_item(d.get(), "has_u_min", flags_to_array(p.has_u_min).release()) &&
                 set_state_item(d.get(), "has_u_max", flags_to_array(p.has_u_max).release());
            for (const auto& s : Kind::state) {
                if (!s.rows) continue;
                ok = ok && set_state_item(d.get(), s.key, rows_to_array(s.get(core), n, s.rows(core)).release());
            }
            if constexpr (std::is_same_v<Kind, FfdlKind>) {
                ok = ok && set_state_item(d.get(), "has_rho_vector", flags_to_array(core.has_rho_vector()).release());
            }
            return ok ? d.release() : nullptr;
        });
    }

    // Builds a whole new core from the state; swaps it in only when every value was read.
    static PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, setstate_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            PyObject* state = call.raw(0);
            if (!PyDict_Check(state)) return fail_not_instance(state, "dict"), add_note("state"), nullptr;
            SisoParams base;
            if (!state_item(state, "l_y", base.l_y) || !state_item(state, "l_u", base.l_u)) return nullptr;
            if (!Kind::form_ok(base)) return raise_error(ParamError{ParamError::Kind::InvalidOrder, {}});
            Ref eta = Ref::borrow(state_value(state, "eta"));
            if (!eta) return nullptr;
            const Py_ssize_t n = PyObject_Length(eta.get());
            if (n < 0) return nullptr;
            if (!check_size(static_cast<std::uint64_t>(n), base.l_y, base.l_u)) return nullptr;
            const auto count = static_cast<std::size_t>(n);
            Core core = Kind::make(FleetParams(count, base));
            FleetParams& p = core.params();
            for (const auto& [key, field] : kParamKeys) {
                if (!read_state_rows(state, key, count, 0, p.*field)) return nullptr;
            }
            if (!read_state_flags(state, "has_u_min", p.has_u_min) || !read_state_flags(state, "has_u_max", p.has_u_max)) {
                return nullptr;
            }
            for (const auto& s : Kind::state) {
                if (s.rows && !read_state_rows(state, s.key, count, s.rows(core), s.get(core))) return nullptr;
            }
            if constexpr (std::is_same_v<Kind, FfdlKind>) {
                if (!read_state_flags(state, "has_rho_vector", core.has_rho_vector())) return nullptr;
            }
            call.core() = std::move(core);
            return none();
        });
    }

    static PyObject* state_value(PyObject* state, const char* key) {
        PyObject* v = PyDict_GetItemString(state, key);
        if (!v) PyErr_SetString(PyExc_KeyError, key);
        return v;
    }
    static bool read_state_rows(PyObject* state, const char* key, std::size_t n, std::size_t rows,
                                std::vector<double>& dst) {
        PyObject* v = state_value(state, key);
        Doubles values;
        if (!v || !read_doubles(v, key, Shape{n, rows}, values)) return false;
        fill_rows(dst, n, rows ? rows : 1, values);
        return true;
    }
    static bool read_state_flags(PyObject* state, const char* key, std::vector<unsigned char>& dst) {
        PyObject* v = state_value(state, key);
        return v && read_flags(v, key, dst);
    }
};

}  // namespace vorn::py::fleet
