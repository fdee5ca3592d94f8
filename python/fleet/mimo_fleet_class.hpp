// mimo_fleet_class.hpp — the methods of a MIMO fleet class, written once over its form:
// construction with every member judged as its class judges it, stepping on (n, dim)
// arrays, the layers as (n, layers, dim, dim), setters with a scalar or one value per
// member, member access, conversion from controllers, pickling.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/forms/mimo_forms.hpp"
#include "core/mimo/fleet.hpp"
#include "python/binding/binding.hpp"
#include "python/binding/methods.hpp"
#include "python/fleet/arrays.hpp"
#include "python/fleet/arrays_nd.hpp"
#include "python/fleet/bridge.hpp"
#include "python/fleet/fleet_class.hpp"

namespace vorn::py::fleet {

// The pickle key and setter suffix of a MIMO field: its argument without a trailing "_".
inline std::string mimo_key(const char* arg) {
    std::string k = arg;
    if (!k.empty() && k.back() == '_') k.pop_back();
    return k;
}

template <MimoForm F>
struct MimoFleetClass {
    using Core = MimoFleet<F>;
    using Member = MimoCore<F>;
    static constexpr forms::Names names = forms::mimo_form(F).names;
    static constexpr const char* name = names.fleet_class;
    static constexpr std::size_t kFields = kMimoFields.size();

    static std::string callable(const char* method) { return callable_name(name, method); }

    static inline const Signature new_sig{std::string(name) + ".__new__()", arg_names(kMimoFields, "n"), 2};
    static_assert(1 + kMimoFields.size() <= kMaxParams, "a Signature holds at most kMaxParams names");
    static inline const Signature update_sig{callable("update"), {"y", "yd", "out"}, 2};
    static inline const Signature from_sig{callable("from_controllers"), {"controllers"}, 1};
    static inline const Signature setstate_sig{callable("__setstate__"), {"state"}, 1};

    static std::size_t layer_values(const Core& c) { return c.layer_count() * static_cast<std::size_t>(c.dim() * c.dim()); }

    // Refuses sizes that overflow or exceed the machine before anything is allocated.
    static bool check_size(std::uint64_t n, const MimoParams& shared) {
        const Size count = to_size(n);
        return check_storage(count ? Core::storage_bytes(*count, shared) : Size());
    }

    // Builds n members from `records`, each judged first as its class's constructor judges
    // it: ValueError with the class's message and a note naming the member. A fleet of none
    // is judged by `base`, so that its dimension and pseudo-orders obey the class's rules.
    static bool build(const std::vector<MimoParams>& records, const MimoParams& base, std::vector<Member>& out) {
        if (records.empty()) {
            if (auto error = validate(base, F)) return raise_error(*error), false;
        }
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (auto error = validate(records[i], F)) {
                raise_error(*error);
                return add_note_text(("member " + std::to_string(i)).c_str());
            }
        }
        out.reserve(records.size());
        for (const MimoParams& p : records) {
            auto core = Member::create(p);
            if (!core) return raise_error(core.error()), false;
            out.push_back(std::move(core).value());
        }
        return true;
    }

    // Arguments in table order after n: the counts first, then every real field as a
    // scalar or n values.
    static PyObject* new_fn(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guard([&]() -> PyObject* {
            PyObject* a[1 + kFields];
            HeldArgs held;
            if (!bind(new_sig, args, kwargs, a, held)) return nullptr;
            PyObject* const* fields = a + 1;
            std::uint64_t n64 = 0;
            MimoParams base{};
            set_defaults(kMimoFields, base, F);
            if (!arg(a[0], "n", n64)) return nullptr;
            for (std::size_t r = 0; r < kFields; ++r) {
                const auto& f = kMimoFields[r];
                if (f.kind == FieldKind::Count && fields[r] && !arg(fields[r], f.arg, base.*f.count)) return nullptr;
            }
            if (!check_size(n64, base)) return nullptr;
            const auto n = static_cast<std::size_t>(n64);
            std::vector<MimoParams> records(n, base);
            for (std::size_t r = 0; r < kFields; ++r) {
                const auto& f = kMimoFields[r];
                if (f.kind == FieldKind::Count || !fields[r]) continue;
                Doubles v;
                if (!read_doubles(fields[r], f.arg, Shape{n, 0, true}, v)) return nullptr;
                for (std::size_t i = 0; i < n; ++i) records[i].*f.real = v.data[v.scalar ? 0 : i];
                if (v.scalar) base.*f.real = v.data[0];
            }
            std::vector<Member> members;
            if (!build(records, base, members)) return nullptr;
            return new_instance(type, Core(base.dim, base.l_y, base.l_u, std::move(members)));
        });
    }

    static PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 3> call(self, update_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            const std::size_t n = core.size(), dim = static_cast<std::size_t>(core.dim());
            Doubles y, yd, pinned_out;
            if (!read_step_inputs(call, Shape{n, dim}, Shape{n, dim, true}, y, yd)) return nullptr;
            PyObject* out_arg = call.raw(2);
            Ref result;
            double* out = nullptr;
            if (out_arg && out_arg != Py_None) {
                // A buffer of `out` may come from Python code (`__buffer__`): it is taken
                // before the inputs are pinned.
                out = writable_out_2d(out_arg, n, dim, pinned_out);
                if (!out || !y.pin() || !yd.pin()) return nullptr;
                result = Ref::borrow(out_arg);
                // Members read their inputs after earlier members wrote their outputs.
                const std::size_t bytes = n * dim * sizeof(double);
                if (y.overlaps(out, bytes)) y.own();
                if (yd.overlaps(out, bytes)) yd.own();
            } else {
                result = new_array_nd({n, dim}, out);
                if (!result || !y.pin() || !yd.pin()) return nullptr;
            }
            FleetClass<CfdlKind>::run(n, [&] { core.update(y.data, yd.data, yd.scalar, out); });
            return result.release();
        });
    }

    static PyObject* reset(PyObject* self, PyObject*) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core> call(self);
            if (!call) return nullptr;
            Core& core = call.core();
            FleetClass<CfdlKind>::run(core.size(), [&] { core.reset(); });
            return none();
        });
    }

    static PyObject* get_phi(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](Core& core) -> PyObject* {
            const std::size_t n = core.size(), dim = static_cast<std::size_t>(core.dim()), w = layer_values(core);
            double* out = nullptr;
            Ref arr = new_array_nd({n, core.layer_count(), dim, dim}, out);
            if (!arr) return nullptr;
            for (std::size_t i = 0; i < n; ++i) std::ranges::copy(core.member(i).layers(), out + i * w);
            return arr.release();
        });
    }

    // set_phi_hat(phi): (n, layers, dim, dim), or one (layers, dim, dim) stack for all.
    static PyObject* set_phi_hat(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            const Signature& sig = *MethodText<&set_phi_hat>::sig;
            ExclusiveCall<Core, 1> call(self, sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            const std::size_t n = core.size(), w = layer_values(core);
            Doubles v;
            const LayerShape shape{n, core.layer_count(), static_cast<std::size_t>(core.dim()), names.upper};
            if (!read_layers(call.raw(0), "phi", shape, F == MimoForm::Compact, v)) return nullptr;
            for (std::size_t i = 0; i < n; ++i) core.member(i).set_phi_hat({v.data + (v.scalar ? 0 : i * w), w});
            return none();
        });
    }

    // set_<key>(value) for real field `Row`: a scalar or n values, stored as the class's
    // setter stores one.
    template <std::size_t Row>
    static PyObject* set_field(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            const Signature& sig = *MethodText<&set_field<Row>>::sig;
            ExclusiveCall<Core, 1> call(self, sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Core& core = call.core();
            Doubles v;
            if (!read_doubles(call.raw(0), sig.name(0), Shape{core.size(), 0, true}, v)) return nullptr;
            for (std::size_t i = 0; i < core.size(); ++i) {
                core.member(i).set_field(kMimoFields[Row].real, v.data[v.scalar ? 0 : i]);
            }
            return none();
        });
    }

    // fleet[i] (sequence.hpp): a new controller in member i's state.
    static PyObject* member_object(PyObject* module, Core& core, std::size_t i) {
        return new_instance(mimo_single_class(module, F), MimoObject<F>{core.member(i), {}, {}});
    }

    // from_controllers(controllers): member i a copy of controllers[i]; one class, one
    // dimension and one pair of pseudo-orders.
    static PyObject* from_controllers(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            Controllers given;
            const auto single_class = [](PyObject* module) { return mimo_single_class(module, F); };
            if (!read_controllers(cls, from_sig, args, nargs, kwnames, single_class, names.single_class, given)) {
                return nullptr;
            }
            const std::size_t n = given.objs.size();
            MimoParams base{};
            set_defaults(kMimoFields, base, F);
            std::vector<Member> members;
            members.reserve(n);
            for (std::size_t i = 0; i < n; ++i) {
                Instance<MimoObject<F>>& c = *mimo_single_instance<F>(given.module, given.objs[i]);
                SharedAccess access(c.access);
                if (!access) return nullptr;
                const MimoParams& p = c.core.core.params();
                if (i == 0) {
                    base = p;
                } else if (p.dim != base.dim || p.l_y != base.l_y || p.l_u != base.l_u) {
                    raise_value_error("controllers[" + std::to_string(i) + "] has dim=" + std::to_string(p.dim) +
                                      ", l_y=" + std::to_string(p.l_y) + ", l_u=" + std::to_string(p.l_u) +
                                      "; controllers[0] has dim=" + std::to_string(base.dim) +
                                      ", l_y=" + std::to_string(base.l_y) + ", l_u=" + std::to_string(base.l_u));
                    return nullptr;
                }
                members.push_back(c.core.core);
            }
            return new_instance(reinterpret_cast<PyTypeObject*>(cls), Core(base.dim, base.l_y, base.l_u, std::move(members)));
        });
    }

    static PyObject* repr(PyObject* self) {
        return read_core<Core>(self, [](Core& core) {
            return PyUnicode_FromFormat("%s(n=%zu, dim=%llu, l_y=%llu, l_u=%llu)", name, core.size(),
                                        static_cast<unsigned long long>(core.dim()),
                                        static_cast<unsigned long long>(core.l_y()),
                                        static_cast<unsigned long long>(core.l_u()));
        });
    }

    static PyObject* getnewargs(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](Core& core) {
            return Py_BuildValue("(nK)", static_cast<Py_ssize_t>(core.size()), static_cast<unsigned long long>(core.dim()));
        });
    }

    // The arrays of the pickle state after the counts, each (n,) or (n, width): the real
    // fields, then what every member carries between steps.
    enum class Row { Layers, Increments, YPrev, UPrev, LeadNorm };
    struct StateRow {
        const char* key;
        Row row;
    };
    static constexpr StateRow kStateRows[] = {
        {"layers", Row::Layers}, {"increments", Row::Increments}, {"y_prev", Row::YPrev},
        {"u_prev", Row::UPrev}, {"lead_norm2", Row::LeadNorm},
    };
    static std::size_t width(const Core& c, Row r) {
        const auto dim = static_cast<std::size_t>(c.dim());
        switch (r) {
            case Row::Layers: return layer_values(c);
            case Row::Increments: return c.layer_count() * dim;
            case Row::YPrev:
            case Row::UPrev: return dim;
            case Row::LeadNorm: break;
        }
        return 0;
    }

    static PyObject* getstate(PyObject* self, PyObject*) {
        return read_core<Core>(self, [](Core& core) -> PyObject* {
            Ref d(PyDict_New());
            if (!d) return nullptr;
            const std::size_t n = core.size();
            const std::uint64_t counts[] = {core.dim(), core.l_y(), core.l_u()};
            const char* count_keys[] = {"dim", "l_y", "l_u"};
            for (std::size_t k = 0; k < 3; ++k) {
                if (!set_state_item(d.get(), count_keys[k], to_py(counts[k]))) return nullptr;
            }
            for (const auto& f : kMimoFields) {
                if (f.kind == FieldKind::Count) continue;
                double* out = nullptr;
                Ref arr = new_array(n, 0, out);
                if (!arr) return nullptr;
                for (std::size_t i = 0; i < n; ++i) out[i] = core.member(i).params().*f.real;
                if (!set_state_item(d.get(), mimo_key(f.arg).c_str(), arr.release())) return nullptr;
            }
            for (const StateRow& s : kStateRows) {
                const std::size_t w = width(core, s.row);
                double* out = nullptr;
                Ref arr = new_array(n, w, out);
                if (!arr) return nullptr;
                for (std::size_t i = 0; i < n; ++i) {
                    const Member& m = core.member(i);
                    switch (s.row) {
                        case Row::Layers: std::ranges::copy(m.layers(), out + i * w); break;
                        case Row::Increments: std::ranges::copy(m.histories(), out + i * w); break;
                        case Row::YPrev: std::ranges::copy(m.y_prev(), out + i * w); break;
                        case Row::UPrev: std::ranges::copy(m.u_prev(), out + i * w); break;
                        case Row::LeadNorm: out[i] = m.lead_norm2(); break;
                    }
                }
                if (!set_state_item(d.get(), s.key, arr.release())) return nullptr;
            }
            return d.release();
        });
    }

    static PyObject* state_value(PyObject* state, const char* key) {
        PyObject* v = PyDict_GetItemString(state, key);
        if (!v) PyErr_SetString(PyExc_KeyError, key);
        return v;
    }

    // Builds every member anew from the state; swaps the fleet in only when every value was
    // read.
    static PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Core, 1> call(self, setstate_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            const Ref own_state = own_state_copy(call.raw(0));
            if (!own_state) return nullptr;
            PyObject* state = own_state.get();
            MimoParams base{};
            set_defaults(kMimoFields, base, F);
            for (const auto& f : kMimoFields) {
                if (f.kind == FieldKind::Count && !state_item(state, f.arg, base.*f.count)) return nullptr;
            }
            Ref first = Ref::borrow(state_value(state, "layers"));
            const Py_ssize_t n = first ? PyObject_Length(first.get()) : -1;
            if (n < 0) return nullptr;
            if (!check_size(static_cast<std::uint64_t>(n), base)) return nullptr;
            // The counts are judged as at construction, then every member's stored values as
            // its class judges them: a member its class would refuse is refused here too.
            if (auto error = validate(base, F)) return raise_error(*error);
            const auto count = static_cast<std::size_t>(n);
            std::vector<MimoParams> records(count, base);
            for (const auto& f : kMimoFields) {
                if (f.kind == FieldKind::Count) continue;
                const std::string key = mimo_key(f.arg);
                PyObject* v = state_value(state, key.c_str());
                Doubles reals;
                if (!v || !read_doubles(v, key.c_str(), Shape{count}, reals)) return nullptr;
                for (std::size_t i = 0; i < count; ++i) records[i].*f.real = reals.data[i];
            }
            std::vector<Member> members;
            if (!build(records, base, members)) return nullptr;
            Core core(base.dim, base.l_y, base.l_u, std::move(members));
            Doubles rows[std::size(kStateRows)];
            for (std::size_t k = 0; k < std::size(kStateRows); ++k) {
                PyObject* v = state_value(state, kStateRows[k].key);
                if (!v || !read_doubles(v, kStateRows[k].key, Shape{core.size(), width(core, kStateRows[k].row)}, rows[k])) {
                    return nullptr;
                }
            }
            for (std::size_t i = 0; i < core.size(); ++i) {
                const auto at = [&](std::size_t k) -> std::span<const double> {
                    const std::size_t w = width(core, kStateRows[k].row);
                    return {rows[k].data + i * w, w};
                };
                core.member(i).restore(at(0), at(1), at(2), at(3), rows[4].data[i]);
            }
            call.core() = std::move(core);
            return none();
        });
    }
};

}  // namespace vorn::py::fleet
