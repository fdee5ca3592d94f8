// module.cpp — entry point of vorn._vorn_config, the configuration file's key scan.
//
// The module's Python face:
//   ignored_keys(text) -> list[tuple[str | None, int, int]]
//       the root-mapping keys that load_config_from_yaml reads past, as (key, line, column),
//       key None for a collection key; ValueError with the reader's message when the text
//       does not parse.
// It runs the loader's own reader, so it sees the keys exactly as the loader does.
#include <string>
#include <string_view>

#include "core/config.hpp"
#include "python/binding/errors.hpp"
#include "python/binding/module_def.hpp"
#include "python/binding/ref.hpp"

namespace vorn::py {
namespace {

PyObject* key_tuple(const IgnoredKey& key) {
    Ref name(key.collection ? Py_NewRef(Py_None)
                            : PyUnicode_FromStringAndSize(key.name.data(), static_cast<Py_ssize_t>(key.name.size())));
    Ref line(PyLong_FromSize_t(key.line));
    Ref column(PyLong_FromSize_t(key.column));
    if (!name || !line || !column) return nullptr;
    return PyTuple_Pack(3, name.get(), line.get(), column.get());
}

PyObject* ignored_keys_fn(PyObject*, PyObject* text) {
    return guard([&]() -> PyObject* {
        if (!PyUnicode_Check(text)) {
            PyErr_SetString(PyExc_TypeError, "ignored_keys() argument must be str");
            return nullptr;
        }
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(text, &size);
        if (!data) return nullptr;
        const auto keys = ignored_config_keys(std::string_view(data, static_cast<std::size_t>(size)));
        if (!keys) return raise_value_error(keys.error());
        Ref list(PyList_New(0));
        if (!list) return nullptr;
        for (const IgnoredKey& key : keys.value()) {
            Ref item(key_tuple(key));
            if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
        }
        return list.release();
    });
}

PyMethodDef functions[] = {
    {"ignored_keys", ignored_keys_fn, METH_O,
     "ignored_keys(text, /)\n--\n\n"
     "The keys of the configuration text's root mapping that the loader ignores, as\n"
     "(key, line, column) tuples in document order; key is None for a collection key."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace
}  // namespace vorn::py

PyMODINIT_FUNC PyInit__vorn_config() {
    return vorn::py::init_module("_vorn_config", "The configuration file's keys as the loader of vorn._vorn_core reads them.",
                                 vorn::py::functions);
}
