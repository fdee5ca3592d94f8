// fleet_class.hpp — the methods of a fleet class, written once over its kind (fleet_kinds.hpp):
// construction and validation of every member, stepping on arrays, the setters with a
// scalar or one value per member, member access, conversion from controllers, pickling.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "python/binding/binding.hpp"
#include "python/fleet/arrays.hpp"
#include "python/fleet/bridge.hpp"
#include "python/fleet/fleet_kinds.hpp"
#include "python/fleet/step_inputs.hpp"
#include "python/binding/methods.hpp"
#include "python/siso_common.hpp"

namespace vorn::py::fleet {

// From this many members on, a step runs without the interpreter lock.
inline constexpr std::size_t kReleaseLockFrom = 1 << 14;

// The state a fleet's __setstate__ reads: a copy of its own of the dict `state`, since
// converting a value runs Python code (`__class__`, `__len__`, `__array__`) that may change
// or clear the caller's dict. Null with TypeError (note "state") for anything but a dict.
inline Ref own_state_copy(PyObject* state) {
    if (!PyDict_Check(state)) return fail_not_instance(state, "dict"), add_note("state"), Ref();
    return Ref(PyDict_Copy(state));
}

// Writes an n×rows member-major matrix (or one row for everyone) into the rows×n
// component-major array dst.
inline void fill_rows(std::vector<double>& dst, std::size_t n, std::size_t rows, const Doubles& v) {
    for (std::size_t k = 0; k < rows; ++k) {
        for (std::size_t i = 0; i < n; ++i) dst[k * n + i] = v.scalar ? v.data[k] : v.data[i * rows + k];
    }
}

// A new (n, rows) array (or (n,) when rows is 0) from a rows×n component-major array.
inline Ref to_array(const std::vector<double>& src, std::size_t n, std::size_t rows) {
    double* out = nullptr;
    Ref arr = new_array(n, rows, out);
    if (!arr) return arr;
    const std::size_t r = rows ? rows : 1;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < r; ++k) out[i * r + k] = src[k * n + i];
    }
    return arr;
}

// A new bool array of the flags of n members.
inline Ref to_array(const std::vector<unsigned char>& src, std::size_t n, std::size_t) {
    unsigned char* out = nullptr;
    Ref arr = new_flags(n, out);
    if (arr && n) std::memcpy(out, src.data(), n);  // an empty vector's data may be null
    return arr;
}

// The reverse of to_array: exactly (n, rows), or (n,) when rows is 0.
inline bool read_array(PyObject* o, const char* name, std::size_t n, std::size_t rows, std::vector<double>& dst) {
    Doubles values;
    if (!read_doubles(o, name, Shape{n, rows}, values)) return false;
    fill_rows(dst, n, rows ? rows : 1, values);
    return true;
}
inline bool read_array(PyObject* o, const char* name, std::size_t n, std::size_t, std::vector<unsigned char>& dst) {
    Doubles v;
    if (!read_doubles(o, name, Shape{n}, v)) return false;
    for (std::size_t i = 0; i < n; ++i) dst[i] = v.data[i] != 0.0;
    return true;
}

// Field r of every member from `o`, a scalar or n values; a limit's None removes it.
// Stored unvalidated.
inline bool store_column(PyObject* o, std::size_t r, FleetParams& p) {
    const bool limit = kSisoFields[r].kind == FieldKind::Limit;
    Doubles v;
    if (limit && o == Py_None) {
        std::fill(p.values[r].begin(), p.values[r].end(), formula::kNoLimit);
    } else if (read_doubles(o, kSisoFields[r].arg, Shape{p.size(), 0, true}, v)) {
        fill_rows(p.values[r], p.size(), 1, v);
    } else {
        return false;
    }
    if (limit) std::fill(p.present[r].begin(), p.present[r].end(), o != Py_None);
    return true;
}

// The row of the first per-member field.
inline constexpr std::size_t kFirstColumn = [] {
    std::size_t r = 0;
    while (kSisoFields[r].kind == FieldKind::Count) ++r;
    return r;
}();

// The key in the pickle state of the flags of a limit or an optional array, e.g. "has_u_min".
inline std::string flags_key(const char* key) { return std::string("has_") + key; }

template <class Kind>
struct FleetClass {
    using Core = typename Kind::Core;
    using Single = typename Kind::Single;

    static std::string callable(const char* method) { return callable_name(Kind::name, method); }

    static inline const Signature new_sig{std::string(Kind::name) + ".__new__()", arg_names(kSisoFields, "n"), 1};
    static_assert(1 + kSisoFields.size() <= kMaxParams, "a Signature holds at most kMaxParams names");
    static inline const Signature update_sig{callable("update"), {"y", "yd", "out"}, 2};
    static inline const Signature update_logged_sig{callable("update_logged"), {"y", "yd"}, 2};
    static inline const Signature from_sig{callable("from_controllers"), {"controllers"}, 1};
    static inline const Signature setstate_sig{callable("__setstate__"), {"state"}, 1};

    // Refuses sizes that overflow or exceed the machine before anything is allocated. The
    // pseudo-orders are bounded by themselves, as one member's storage, even in a fleet of
    // none: loops over the components run whatever the member count.
    static bool check_size(std::uint64_t n, std::uint64_t l_y, std::uint64_t l_u) {
        const Size count = to_size(n);
        return check_storage(count ? Kind::storage_bytes(std::max<std::size_t>(*count, 1), l_y, l_u) : Size());
    }

    // Arguments in table order after n: the pseudo-orders first, then every per-member
    // field; each member is then judged as its class's constructor would, in member order.
    static PyObject* new_fn(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guard([&]() -> PyObject* {
            PyObject* a[1 + kSisoRows];
            HeldArgs held;
            if (!bind(new_sig, args, kwargs, a, held)) return nullptr;
            PyObject* const* fields = a + 1;
            std::uint64_t n64 = 0;
            SisoParams base = SisoParams(Kind::form);
            if (!arg(a[0], "n", n64)) return nullptr;
            for (const SisoField& f : kSisoFields) {
                if (f.kind == FieldKind::Count && !arg(fields[&f - kSisoFields.data()], f.arg, base.*f.count)) {
                    return nullptr;
                }
            }
            if (!check_size(n64, base.l_y, base.l_u)) return nullptr;
            const auto n = static_cast<std::size_t>(n64);
            FleetParams params(n, base);
            for (std::size_t r = 0; r < kSisoRows; ++r) {
                if (kSisoFields[r].kind != FieldKind::Count && fields[r] && !store_column(fields[r], r, params)) {
                    return nullptr;
                }
            }
            if (!validate_members(params, Kind::form_ok(base))) return nullptr;
            if (!Kind::form_ok(base)) return raise_value_error(Kind::form_message());
            return new_instance(type, Kind::make(std::move(params)));
        });
    }

    // Judges every member as its class's constructor would, in member order: ValueError with
    // the class's message and a note naming the member. With `form_ok` false, only the first
    // member is judged (the caller then reports the form).
    static bool validate_members(const FleetParams& params, bool form_ok) {
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (auto error = validate(params.member(i))) {
                raise_error(*error);
                return add_note_text(("member " + std::to_string(i)).c_str());
            }
            if (!form_ok) break;
        }
        return true;
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

    // A step's call under exclusive access: y of n values and yd a scalar or n values (read by
    // read_step_inputs), then body(call, y, yd), which runs pin_inputs once no more Python
    // code of the caller's can run.
    template <class Body>
    static PyObject* step_call(PyObject* self, const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames, Body&& body) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 3> call(self, sig, args, nargs, kwnames);
            if (!call) return nullptr;
            const std::size_t n = call.core().size();
            Doubles y, yd;
            if (!read_step_inputs(call, Shape{n}, Shape{n, 0, true}, y, yd)) return nullptr;
            return body(call, y, yd);
        });
    }

    static bool pin_inputs(Doubles& y, Doubles& yd) { return y.pin() && yd.pin(); }

    static PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return step_call(self, update_sig, args, nargs, kwnames, [](auto& call, Doubles& y, Doubles& yd) -> PyObject* {
            Core& core = call.core();
            const std::size_t n = core.size();
            Doubles pinned_out;
            PyObject* out_arg = call.raw(2);
            Ref result;
            double* out = nullptr;
            std::ptrdiff_t stride = sizeof(double);
            if (out_arg && out_arg != Py_None) {
                // A buffer of `out` may come from Python code (`__buffer__`): it is taken
                // before the inputs are pinned.
                out = writable_out(out_arg, n, pinned_out, stride);
                if (!out || !pin_inputs(y, yd)) return nullptr;
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
                if (!result || !pin_inputs(y, yd)) return nullptr;
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
        return step_call(self, update_logged_sig, args, nargs, kwnames, [](auto& call, Doubles& y, Doubles& yd) {
            Core& core = call.core();
            const std::size_t n = core.size(), m = core.components();
            double *u, *dy, *dh, *e, *phi;
            Ref ru = new_array(n, 0, u), rdy = new_array(n, 0, dy), rdh = new_array(n, m, dh), re = new_array(n, 0, e),
                rphi = new_array(n, m, phi);
            if (!ru || !rdy || !rdh || !re || !rphi || !pin_inputs(y, yd)) return static_cast<PyObject*>(nullptr);
            // A CFDL member's increment vector and estimate have one entry: (n, 1) is laid out as (n,).
            const typename Kind::Log log{dy, dh, e, phi};
            run(n, [&] { core.update(y.data, yd.data, yd.scalar, u, &log); });
            return PyTuple_Pack(5, ru.get(), rdy.get(), rdh.get(), re.get(), rphi.get());
        });
    }

    static PyObject* get_phi(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](Core& core) {
            return to_array(core.phi_hat(), core.size(), core.components()).release();
        });
    }

    // A method of one argument that changes the fleet, `Store(core, value, name)`, under
    // exclusive access; its signature is made with its table entry (one_arg_method).
    template <auto Store>
    static PyObject* setter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            const Signature& sig = *MethodText<&setter<Store>>::sig;
            ExclusiveCall<Core, 1> call(self, sig, args, nargs, kwnames);
            if (!call || !Store(call.core(), call.raw(0), sig.name(0))) return nullptr;
            return none();
        });
    }

    // set_phi_hat(phi): estimate and reset value of every member, (n, m) or one (m,) row.
    static bool store_phi_hat(Core& core, PyObject* o, const char* name) {
        const std::size_t n = core.size(), m = core.components();
        Doubles v;
        if (!read_doubles(o, name, Shape{n, m, true}, v)) return false;
        fill_rows(core.phi_hat(), n, m, v);
        fill_rows(core.phi_reset(), n, m, v);
        return true;
    }

    // set_<key>(value) for field `Row` of the table. initial_phi also sets the estimate's
    // reset value and takes the estimate's shape: a scalar or n values in the compact form;
    // (n, m) or one (m,) row in the vector forms, whose first entry becomes the parameter,
    // as in the classes.
    template <std::size_t Row>
    static bool store_field(Core& core, PyObject* o, const char* name) {
        if constexpr (kSisoFields[Row].real != &SisoParams::initial_phi) {
            return store_column(o, Row, core.params());
        } else {
            const std::size_t n = core.size(), cols = Kind::rows(Kind::estimate(), core.params().shared),
                              rows = cols ? cols : 1;
            Doubles v;
            if (!read_doubles(o, name, Shape{n, cols, true}, v)) return false;
            std::vector<double>& param = core.params().values[Row];
            for (std::size_t i = 0; i < n; ++i) param[i] = v.scalar ? v.data[0] : v.data[i * rows];
            fill_rows(core.phi_reset(), n, rows, v);
            return true;
        }
    }

    // fleet[i] (sequence.hpp): a new controller equal to member i.
    static PyObject* member_object(PyObject* module, Core& core, std::size_t i) {
        return new_instance(single_type<Single>(module), Kind::member(core, i));
    }

    // from_controllers(controllers): a fleet whose member i is a copy of controllers[i].
    static PyObject* from_controllers(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            Controllers given;
            if (!read_controllers(cls, from_sig, args, nargs, kwnames, single_type<Single>, Kind::single_name, given)) {
                return nullptr;
            }
            const std::size_t n = given.objs.size();
            SisoParams base = SisoParams(Kind::form);
            if (n) {
                Instance<Single>& first = *single_instance<Single>(given.module, given.objs[0]);
                SharedAccess access(first.access);
                if (!access) return nullptr;
                base = first.core.params();
            }
            if (!check_size(n, base.l_y, base.l_u)) return nullptr;
            Core core = Kind::make(FleetParams(n, base));
            for (std::size_t i = 0; i < n; ++i) {
                Instance<Single>& c = *single_instance<Single>(given.module, given.objs[i]);
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
        return read_core<Core>(self, [](Core& core) {
            const FleetParams& p = core.params();
            return PyUnicode_FromFormat("%s(n=%zu, l_y=%llu, l_u=%llu)", Kind::name, p.size(),
                                        static_cast<unsigned long long>(p.shared.l_y),
                                        static_cast<unsigned long long>(p.shared.l_u));
        });
    }

    static PyObject* getnewargs(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](Core& core) { return Py_BuildValue("(n)", static_cast<Py_ssize_t>(core.size())); });
    }

    // fn(key, array, rows) for every array of the pickle state, in order: the parameter
    // columns, the limits' flags (keyed as in the table), then the rows of the form's state
    // table, an optional row followed by its flags ("has_rho_vector"); `array` is a
    // std::vector<double>& (rows as Kind::rows gives them) or a std::vector<unsigned char>& of flags.
    template <class F>
    static bool each_array(Core& core, F&& fn) {
        FleetParams& p = core.params();
        for (std::size_t r = 0; r < kSisoRows; ++r) {
            if (kSisoFields[r].kind != FieldKind::Count && !fn(kSisoFields[r].key, p.values[r], 0)) return false;
        }
        for (std::size_t r = 0; r < kSisoRows; ++r) {
            if (kSisoFields[r].kind == FieldKind::Limit && !fn(flags_key(kSisoFields[r].key).c_str(), p.present[r], 0)) {
                return false;
            }
        }
        return [&]<std::size_t... Row>(std::index_sequence<Row...>) {
            return ([&] {
                constexpr const forms::StateArray& a = Kind::state[Row];
                if (!fn(a.key, core.state_array(a), Kind::rows(a, p.shared))) return false;
                if constexpr (a.optional) return fn(flags_key(a.key).c_str(), core.state_flags(a), 0);
                return true;
            }() && ...);
        }(std::make_index_sequence<Kind::state.size()>());
    }

    // The whole state of every member, reset values included: the pseudo-orders, then every
    // array of each_array.
    static PyObject* getstate(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](Core& core) -> PyObject* {
            Ref d(PyDict_New());
            if (!d) return nullptr;
            for (const SisoField& f : kSisoFields) {
                if (f.kind == FieldKind::Count && !set_state_item(d.get(), f.key, to_py(core.params().shared.*f.count))) {
                    return nullptr;
                }
            }
            const bool ok = each_array(core, [&](const char* key, const auto& a, std::size_t rows) {
                return set_state_item(d.get(), key, to_array(a, core.size(), rows).release());
            });
            return ok ? d.release() : nullptr;
        });
    }

    // Builds a whole new core from the state; swaps it in only when every value was read.
    static PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, setstate_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            const Ref own_state = own_state_copy(call.raw(0));
            if (!own_state) return nullptr;
            PyObject* state = own_state.get();
            SisoParams base;
            for (const SisoField& f : kSisoFields) {
                if (f.kind == FieldKind::Count && !state_item(state, f.key, base.*f.count)) return nullptr;
            }
            if (!Kind::form_ok(base)) return raise_error(ParamError{ParamError::Kind::InvalidOrder, {}});
            // The member count is the length of the first column.
            Ref first = Ref::borrow(state_value(state, kSisoFields[kFirstColumn].key));
            const Py_ssize_t n = first ? PyObject_Length(first.get()) : -1;
            if (n < 0) return nullptr;
            if (!check_size(static_cast<std::uint64_t>(n), base.l_y, base.l_u)) return nullptr;
            Core core = Kind::make(FleetParams(static_cast<std::size_t>(n), base));
            const bool ok = each_array(core, [&](const char* key, auto& a, std::size_t rows) {
                PyObject* v = state_value(state, key);
                return v && read_array(v, key, core.size(), rows, a);
            });
            if (!ok) return nullptr;
            core.params().normalise_limits();
            // A member that its class would refuse to unpickle is refused here too.
            if (!validate_members(core.params(), true)) return nullptr;
            call.core() = std::move(core);
            return none();
        });
    }

    static PyObject* state_value(PyObject* state, const char* key) {
        PyObject* v = PyDict_GetItemString(state, key);
        if (!v) PyErr_SetString(PyExc_KeyError, key);
        return v;
    }
};

}  // namespace vorn::py::fleet
