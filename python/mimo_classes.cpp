// mimo_classes.cpp — MimoCfdlController, MimoPfdlController and MimoFfdlController: one
// class template over the three MIMO cores, with their shape checks and messages.
#include <cstdint>
#include <string>
#include <vector>

#include "core/forms/mimo_forms.hpp"
#include "core/mimo/controller.hpp"
#include "python/binding/binding.hpp"
#include "python/binding/methods.hpp"
#include "python/mimo_object.hpp"
#include "python/registry.hpp"

namespace vorn::py {

namespace {

using Matrix = std::vector<std::vector<double>>;

std::string shape_message(const std::string& label, const char* what, std::size_t given, std::size_t dim) {
    return label + " " + what + " " + std::to_string(given) + " ≠ dim " + std::to_string(dim);
}

// Appends a dim×dim matrix row by row to `flat`; false with ValueError set, naming `label`,
// when the row count or a row's length differs from dim.
bool append_matrix(const Matrix& m, const std::string& label, std::size_t dim, std::vector<double>& flat) {
    if (m.size() != dim) {
        raise_value_error(shape_message(label, "行数", m.size(), dim));
        return false;
    }
    for (const std::vector<double>& row : m) {
        if (row.size() != dim) {
            raise_value_error(shape_message(label, "列数", row.size(), dim));
            return false;
        }
    }
    for (const std::vector<double>& row : m) flat.insert(flat.end(), row.begin(), row.end());
    return true;
}

template <MimoForm F>
struct MimoMethods {
    static constexpr forms::Names names = forms::mimo_form(F).names;
    static constexpr const char* name = names.single_class;
    using Object = MimoObject<F>;
    using Core = MimoCore<F>;
    static constexpr auto kCore = &Object::core;

    static std::string callable(const char* method) { return callable_name(name, method); }

    static inline const Signature new_sig{callable("__new__"), arg_names(kMimoFields), 1};
    static_assert(kMimoFields.size() <= kMaxParams, "a Signature holds at most kMaxParams names");
    static inline const Signature update_sig{callable("update"), {"y", "yd"}, 2};
    static inline const Signature phi_sig{callable("set_phi_hat"), {"phi"}, 1};

    // Converts, validates, checks the storage size, then builds.
    static PyObject* new_fn(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return guard([&]() -> PyObject* {
            PyObject* a[kMimoFields.size()];
            HeldArgs held;
            if (!bind(new_sig, args, kwargs, a, held)) return nullptr;
            MimoParams p{};
            set_defaults(kMimoFields, p, F);
            std::size_t i = 0;
            if (!all_fields(kMimoFields, p, [&](const auto& f, auto& member) { return arg(a[i++], f.arg, member); })) {
                return nullptr;
            }
            if (auto error = validate(p, F)) return raise_error(*error);
            if (!check_storage(MimoCore<F>::storage_bytes(p))) return nullptr;
            auto core = MimoCore<F>::create(p);
            if (!core) return raise_error(core.error());
            return new_instance(type, Object{std::move(core).value(), {}, {}});
        });
    }

    static PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Object, 2> call(self, update_sig, args, nargs, kwnames);
            if (!call) return nullptr;
            Object& o = call.core();
            // Both convert before either length is judged; neither buffer grows beyond dim.
            const std::size_t dim = o.core.dim();
            std::size_t ny = 0, nyd = 0;
            if (!call.get_bounded(0, dim, o.y, ny) || !call.get_bounded(1, dim, o.yd, nyd)) return nullptr;
            if (ny != dim) return length_error("y", ny, dim);
            if (nyd != dim) return length_error("yd", nyd, dim);
            const std::vector<double>& u = o.core.update(o.y, o.yd);
            return list_of(u.data(), u.size());
        });
    }

    static PyObject* length_error(const char* name, std::size_t given, std::size_t dim) {
        return raise_value_error(std::string(name) + " 长度 " + std::to_string(given) + " ≠ dim " +
                                 std::to_string(dim));
    }

    // Layers as a list of matrices, each a list of rows.
    static PyObject* get_phi(PyObject* self, PyObject*) {
        return read_core<Object>(self, [](const Object& object) -> PyObject* {
            const MimoCore<F>& core = object.core;
            const std::size_t dim = core.dim();
            Ref layers(PyList_New(static_cast<Py_ssize_t>(core.layer_count())));
            if (!layers) return nullptr;
            for (std::size_t m = 0; m < core.layer_count(); ++m) {
                const std::span<const double> a = core.layer(m);
                PyObject* rows = PyList_New(static_cast<Py_ssize_t>(dim));
                if (!rows) return nullptr;
                PyList_SetItem(layers.get(), static_cast<Py_ssize_t>(m), rows);
                for (std::size_t i = 0; i < dim; ++i) {
                    PyObject* row = list_of(a.data() + i * dim, dim);
                    if (!row) return nullptr;
                    PyList_SetItem(rows, static_cast<Py_ssize_t>(i), row);
                }
            }
            return layers.release();
        });
    }

    // Count first, then the shapes layer by layer; the core changes only when all fit.
    static PyObject* set_phi_hat(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Object, 1> call(self, phi_sig, args, nargs, kwnames);
            std::vector<Matrix> phi;
            if (!call || !call.get(0, phi)) return nullptr;
            MimoCore<F>& core = call.core().core;
            const std::size_t count = core.layer_count();
            if (phi.size() != count) {
                return raise_value_error(std::string(names.upper) + " 的 phi 层数应为 " +
                                         std::to_string(count) + "，实际为 " + std::to_string(phi.size()));
            }
            std::vector<double> flat;
            flat.reserve(core.layers().size());
            for (std::size_t m = 0; m < count; ++m) {
                const std::string label = F == MimoForm::Compact ? "phi" : "phi[" + std::to_string(m) + "]";
                if (!append_matrix(phi[m], label, core.dim(), flat)) return nullptr;
            }
            core.set_phi_hat(flat);
            return none();
        });
    }

    static PyObject* dim(PyObject* self, void*) {
        return read_core<Object>(self, [](const Object& object) { return PyLong_FromSize_t(object.core.dim()); });
    }

    static PyObject* repr(PyObject* self) {
        return read_core<Object>(self, [](const Object& object) {
            const std::string text = std::string(name) + "(dim=" + std::to_string(object.core.dim()) + ")";
            return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
        });
    }

    static inline PyMethodDef methods[] = {
        method("update", update, "update($self, y, yd)\n--\n\n"),
        method("reset", mutator_method<Object, &Core::reset, kCore>, "reset($self)\n--\n\n"),
        method("get_phi", get_phi, "get_phi($self)\n--\n\n"),
        method("set_phi_hat", set_phi_hat, "set_phi_hat($self, phi)\n--\n\n"),
        setter<Object, &Core::set_eta, kCore>(name, "set_eta", "eta"),
        setter<Object, &Core::set_mu, kCore>(name, "set_mu", "mu"),
        setter<Object, &Core::set_rho, kCore>(name, "set_rho", "rho"),
        setter<Object, &Core::set_lambda, kCore>(name, "set_lambda", "lambda_"),
        setter<Object, &Core::set_eps, kCore>(name, "set_eps", "eps"),
        setter<Object, &Core::set_m_upper, kCore>(name, "set_m_upper", "m_upper"),
        setter<Object, &Core::set_m_lower, kCore>(name, "set_m_lower", "m_lower"),
        setter<Object, &Core::set_u0, kCore>(name, "set_u0", "u0"),
        setter<Object, &Core::set_initial_phi, kCore>(name, "set_initial_phi", "initial_phi"),
        end_of_methods(),
    };

    static inline PyGetSetDef getset[] = {
        {"dim", dim, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };

    // Its texts live as long as the process, as the type made from them does.
    static ClassDef class_def() {
        static const std::string qualified = std::string("vorn._vorn_core.") + name;
        static const std::string doc =
            class_doc(name, kMimoFields, F, 1, ("Python 侧 `" + std::string(name) + "` 绑定。").c_str());
        return {
            .qualified_name = qualified.c_str(),
            .basic_size = instance_size<Object>(),
            .doc = doc.c_str(),
            .new_fn = new_fn,
            .repr_fn = repr,
            .dealloc_fn = dealloc_instance<Object>,
            .methods = methods,
            .getset = getset,
        };
    }
};

template <MimoForm F>
int add_mimo_class(PyObject* module) {
    static ClassDef def = MimoMethods<F>::class_def();
    return add_class(module, MimoMethods<F>::name, def);
}

}  // namespace

int add_mimo_classes(PyObject* module) {
    if (add_mimo_class<MimoForm::Compact>(module) < 0) return -1;
    if (add_mimo_class<MimoForm::Partial>(module) < 0) return -1;
    return add_mimo_class<MimoForm::Full>(module);
}

}  // namespace vorn::py
