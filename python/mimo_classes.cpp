// mimo_classes.cpp — MimoCfdlController, MimoPfdlController and MimoFfdlController: the
// traits of the MIMO classes for the class template (python/single_class.hpp): vector
// steps whose lengths must be dim, the layers as matrices, their shape messages, the `dim`
// attribute, and no pickling.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/forms/mimo_forms.hpp"
#include "core/mimo/controller.hpp"
#include "python/binding/binding.hpp"
#include "python/binding/methods.hpp"
#include "python/mimo_object.hpp"
#include "python/registry.hpp"
#include "python/single_class.hpp"

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

PyObject* length_error(const char* name, std::size_t given, std::size_t dim) {
    return raise_value_error(std::string(name) + " 长度 " + std::to_string(given) + " ≠ dim " + std::to_string(dim));
}

template <MimoForm F>
struct MimoFamily {
    using Object = MimoObject<F>;
    using Core = MimoCore<F>;
    using Params = MimoParams;
    static constexpr auto kCore = &Object::core;
    static constexpr DlForm form = F;
    static constexpr forms::Names names = forms::mimo_form(F).names;
    static constexpr const char* name = names.single_class;
    static constexpr const auto& fields = kMimoFields;
    static constexpr std::size_t required = 1;  // dim
    static constexpr const char* reset_doc = "reset($self)\n--\n\n";

    static std::string summary() { return "Python 侧 `" + std::string(name) + "` 绑定。"; }
    static Params defaults() {
        MimoParams p{};
        set_defaults(kMimoFields, p, F);
        return p;
    }
    static bool admit(const Params& p) {
        if (auto error = validate(p, F)) {
            raise_error(*error);
            return false;
        }
        return true;
    }
    static PyObject* repr(const Object& object) {
        const std::string text = std::string(name) + "(dim=" + std::to_string(object.core.dim()) + ")";
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    }

    static PyObject* update(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Object, 2> call(self, *MethodText<&update>::sig, args, nargs, kwnames);
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

    // Layers as a list of matrices, each a list of rows.
    static PyObject* layers(PyObject* self, PyObject*) {
        return read_core<Object>(self, [](const Object& object) -> PyObject* {
            const Core& core = object.core;
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
    static PyObject* set_layers(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
        return guard([&]() -> PyObject* {
            ExclusiveCall<Object, 1> call(self, *MethodText<&set_layers>::sig, args, nargs, kwnames);
            std::vector<Matrix> phi;
            if (!call || !call.get(0, phi)) return nullptr;
            Core& core = call.core().core;
            const std::size_t count = core.layer_count();
            if (phi.size() != count) {
                return raise_value_error(std::string(names.upper) + " 的 phi 层数应为 " + std::to_string(count) +
                                         "，实际为 " + std::to_string(phi.size()));
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

    static PyMethodDef steps() { return method_with_args<&update>(name, "update", {"y", "yd"}); }
    static PyMethodDef get_phi() { return method("get_phi", layers, "get_phi($self)\n--\n\n"); }
    static PyMethodDef set_phi_hat() { return one_arg_method<&set_layers>(name, "set_phi_hat", "phi"); }
    static std::array<PyMethodDef, 9> setters() {
        return {
            setter<Object, &Core::set_eta, kCore>(name, "set_eta", "eta"),
            setter<Object, &Core::set_mu, kCore>(name, "set_mu", "mu"),
            setter<Object, &Core::set_rho, kCore>(name, "set_rho", "rho"),
            setter<Object, &Core::set_lambda, kCore>(name, "set_lambda", "lambda_"),
            setter<Object, &Core::set_eps, kCore>(name, "set_eps", "eps"),
            setter<Object, &Core::set_m_upper, kCore>(name, "set_m_upper", "m_upper"),
            setter<Object, &Core::set_m_lower, kCore>(name, "set_m_lower", "m_lower"),
            setter<Object, &Core::set_u0, kCore>(name, "set_u0", "u0"),
            setter<Object, &Core::set_initial_phi, kCore>(name, "set_initial_phi", "initial_phi"),
        };
    }
    static std::array<PyMethodDef, 0> extra_setters() { return {}; }
    // A MIMO controller is not pickled: the class has none of the pickling methods.
    static std::array<PyMethodDef, 0> pickling() { return {}; }

    static inline PyGetSetDef getset[] = {
        {"dim", dim, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
};

template <MimoForm F>
int add_mimo_class(PyObject* module) {
    using Class = SingleClass<MimoFamily<F>>;
    return add_class(module, Class::name, Class::class_def);
}

}  // namespace

int add_mimo_classes(PyObject* module) {
    if (add_mimo_class<MimoForm::Compact>(module) < 0) return -1;
    if (add_mimo_class<MimoForm::Partial>(module) < 0) return -1;
    return add_mimo_class<MimoForm::Full>(module);
}

}  // namespace vorn::py
