// module.cpp — entry point of vorn._vorn_config, the configuration file as the loader of
// vorn._vorn_core reads it, and what each SISO form makes of its record.
//
// The module's Python face:
//   ignored_keys(text) -> list[tuple[str | None, int, int]]
//       the root-mapping keys that load_config_from_yaml reads past, as (key, line, column),
//       key None for a collection key; ValueError with the reader's message when the text
//       does not parse.
//   load(path) -> tuple[tuple[...], list[tuple[str | None, int, int]]]
//       one read of the file: the record as load_config_from_yaml(True, path) returns it
//       (and its ValueError when it refuses the file) with the keys that same read passed.
//   refusal(form, params) -> ValueError | OverflowError | MemoryError | None
//       the exception the class of form "cfdl", "pfdl" or "ffdl" raises when constructed
//       from params, decided without allocating its state; None when it accepts them.
// It runs the loader's own reader, so it sees the keys exactly as the loader does.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/config.hpp"
#include "python/binding/errors.hpp"
#include "python/binding/module_def.hpp"
#include "python/binding/ref.hpp"
#include "python/siso_common.hpp"

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

PyObject* key_list(const std::vector<IgnoredKey>& keys) {
    Ref list(PyList_New(0));
    if (!list) return nullptr;
    for (const IgnoredKey& key : keys) {
        Ref item(key_tuple(key));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
}

// TypeError naming the expected type and, in a note, the argument.
bool require(bool ok, PyObject* o, const char* expected, const char* what) {
    return ok || fail_not_instance(o, expected) || add_note(what);
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
        return key_list(keys.value());
    });
}

// The path in the file system's encoding, as load_config_from_yaml takes it.
std::optional<std::string> fs_path(PyObject* path) {
    if (!require(PyUnicode_Check(path), path, "str", "path")) return std::nullopt;
    Ref bytes(PyUnicode_EncodeFSDefault(path));
    if (!bytes) return std::nullopt;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return std::nullopt;
    return std::string(data, static_cast<std::size_t>(size));
}

PyObject* load_fn(PyObject*, PyObject* path) {
    return guard([&]() -> PyObject* {
        const std::optional<std::string> name = fs_path(path);
        if (!name) return nullptr;
        const auto file = load_config_file(*name);
        if (!file) return raise_error(file.error());
        Ref params(siso_newargs(file.value().params));
        Ref keys(key_list(file.value().ignored));
        if (!params || !keys) return nullptr;
        return PyTuple_Pack(2, params.get(), keys.get());
    });
}

// The forms by their short names, as the command line spells them.
std::optional<DlForm> form_named(PyObject* name) {
    if (!require(PyUnicode_Check(name), name, "str", "form")) return std::nullopt;
    const char* text = PyUnicode_AsUTF8AndSize(name, nullptr);
    if (!text) return std::nullopt;
    constexpr std::pair<const char*, DlForm> forms[] = {
        {"cfdl", DlForm::Compact}, {"pfdl", DlForm::Partial}, {"ffdl", DlForm::Full}};
    for (const auto& [spelling, form] : forms) {
        if (std::strcmp(text, spelling) == 0) return form;
    }
    PyErr_Format(PyExc_ValueError, "refusal(): unknown form %R: expected 'cfdl', 'pfdl' or 'ffdl'", name);
    return std::nullopt;
}

const Signature& refusal_sig() {
    static const Signature sig{"refusal()", arg_names(kSisoFields), 0};
    return sig;
}

PyObject* refusal_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return guard([&]() -> PyObject* {
        if (nargs != 2) {
            PyErr_Format(PyExc_TypeError, "refusal() takes 2 arguments (%zd given)", nargs);
            return nullptr;
        }
        const std::optional<DlForm> form = form_named(args[0]);
        if (!form) return nullptr;
        if (!require(PyTuple_Check(args[1]), args[1], "tuple", "params")) return nullptr;
        // The class's defaults under the given arguments, converted as the constructor does.
        SisoParams p(*form);
        if (!parse_siso_args(refusal_sig(), args[1], nullptr, p)) return nullptr;
        if (admit_siso(p, *form)) return none();
        return PyErr_GetRaisedException();
    });
}

PyMethodDef functions[] = {
    {"ignored_keys", ignored_keys_fn, METH_O,
     "ignored_keys(text, /)\n--\n\n"
     "The keys of the configuration text's root mapping that the loader ignores, as\n"
     "(key, line, column) tuples in document order; key is None for a collection key."},
    {"load", load_fn, METH_O,
     "load(path, /)\n--\n\n"
     "One read of the configuration file: (record, ignored), the record as\n"
     "load_config_from_yaml(True, path) returns it and the keys that read passed over."},
    {"refusal", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(refusal_fn)), METH_FASTCALL,
     "refusal(form, params, /)\n--\n\n"
     "The exception that the class of form 'cfdl', 'pfdl' or 'ffdl' raises when built\n"
     "from the tuple params, decided without building it; None when it accepts them."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace
}  // namespace vorn::py

PyMODINIT_FUNC PyInit__vorn_config() {
    // No state: the functions keep nothing between calls, so every interpreter may load it.
    return vorn::py::init_module<vorn::py::Interpreters::Isolated>("_vorn_config",
                                 "The configuration file as the loader of vorn._vorn_core reads it, and what "
                                 "each SISO form makes of its record.",
                                 vorn::py::functions);
}
