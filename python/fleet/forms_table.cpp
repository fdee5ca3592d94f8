// forms_table.cpp — the form descriptors (core/forms/) as a tuple of dicts:
//   form, mimo, single_class, fleet_class, core_class, text,
//   parameters (constructor arguments in order), default_orders (l_y, l_u),
//   order_rule (its terms), order_message, and state: one dict per row of the state
//   table with key, role, length (its rule as text), optional and pickled.
#include "python/fleet/forms_table.hpp"

#include <span>

#include "core/forms/mimo_forms.hpp"
#include "core/forms/siso_forms.hpp"
#include "python/binding/binding.hpp"

namespace vorn::py::fleet {

namespace {

const char* role_name(forms::StateRole role) {
    switch (role) {
        case forms::StateRole::History: return "history";
        case forms::StateRole::Estimate: return "estimate";
        case forms::StateRole::Reset: return "reset";
        case forms::StateRole::StepFactors: return "step_factors";
    }
    return "";
}

PyObject* text_or_none(const char* s) { return s ? PyUnicode_FromString(s) : none(); }

// A tuple of what make(item) returns for each item; null with the exception set.
template <class Items, class Make>
Ref tuple_from(const Items& items, Make&& make) {
    Ref t(PyTuple_New(static_cast<Py_ssize_t>(std::size(items))));
    if (!t) return t;
    Py_ssize_t i = 0;
    for (const auto& item : items) {
        PyObject* value = make(item);
        if (!value) return Ref();
        PyTuple_SetItem(t.get(), i++, value);
    }
    return t;
}

// dict(key=value, …) from pairs of a key and a new reference; null with the exception set.
Ref dict_of(std::initializer_list<std::pair<const char*, PyObject*>> items) {
    Ref d(PyDict_New());
    bool ok = static_cast<bool>(d);
    for (const auto& [key, value] : items) {
        Ref owned(value);
        ok = ok && owned && PyDict_SetItemString(d.get(), key, owned.get()) == 0;
    }
    return ok ? std::move(d) : Ref();
}

PyObject* state_row(const forms::StateArray& a) {
    return dict_of({{"key", PyUnicode_FromString(a.key)},
                    {"role", PyUnicode_FromString(role_name(a.role))},
                    {"length", PyUnicode_FromString(a.length.text)},
                    {"optional", PyBool_FromLong(a.optional)},
                    {"pickled", PyBool_FromLong(a.pickled)}})
        .release();
}

template <class Table>
PyObject* form_dict(const forms::Descriptor& d, const Table& table, const char* order_message) {
    const forms::Orders orders = forms::default_orders(table, d.form);
    return dict_of({{"form", PyUnicode_FromString(d.names.form)},
                    {"mimo", PyBool_FromLong(d.mimo)},
                    {"single_class", PyUnicode_FromString(d.names.single_class)},
                    {"fleet_class", text_or_none(d.names.fleet_class)},
                    {"core_class", PyUnicode_FromString(d.names.core_class)},
                    {"text", PyUnicode_FromString(d.names.text)},
                    {"parameters", tuple_from(table, [](const auto& f) { return PyUnicode_FromString(f.arg); }).release()},
                    {"default_orders", Py_BuildValue("(KK)", static_cast<unsigned long long>(orders.l_y),
                                                     static_cast<unsigned long long>(orders.l_u))},
                    {"order_rule", tuple_from(d.rule.terms, [](const char* t) { return PyUnicode_FromString(t); }).release()},
                    {"order_message", PyUnicode_FromString(order_message)},
                    {"state", tuple_from(d.state, state_row).release()}})
        .release();
}

}  // namespace

PyObject* forms_table(PyObject*, PyObject*) {
    return guard([&]() -> PyObject* {
        const std::size_t siso = forms::kSisoForms.size();
        Ref t(PyTuple_New(static_cast<Py_ssize_t>(siso + forms::kMimoForms.size())));
        if (!t) return nullptr;
        for (std::size_t i = 0; i < siso; ++i) {
            const forms::Descriptor& d = forms::kSisoForms[i];
            PyObject* item = form_dict(d, kSisoFields, forms::order_message(d.form));
            if (!item) return nullptr;
            PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(i), item);
        }
        for (std::size_t i = 0; i < forms::kMimoForms.size(); ++i) {
            // The MIMO classes report a refused pair of pseudo-orders with the shared rule's message.
            PyObject* item = form_dict(forms::kMimoForms[i], kMimoFields, ParamError{ParamRule::InvalidOrder, {}}.message().c_str());
            if (!item) return nullptr;
            PyTuple_SetItem(t.get(), static_cast<Py_ssize_t>(siso + i), item);
        }
        return t.release();
    });
}

}  // namespace vorn::py::fleet
