// field_args.hpp — a constructor's arguments bound and converted into the record that a
// parameter table describes, one field per parameter in table order.
#pragma once

#include "core/param_fields.hpp"
#include "python/binding/binding.hpp"

namespace vorn::py {

// Binds the tuple-and-dict arguments to `sig`, whose names are arg_names(table), and
// converts each present one into its field of `out`, which holds the defaults on entry.
// False with the exception set (the note names the parameter) on the first failure.
template <class Table, class P>
bool bind_fields(const Signature& sig, const Table& table, PyObject* args, PyObject* kwargs, P& out) {
    PyObject* a[std::tuple_size_v<Table>];
    HeldArgs held;
    if (!bind(sig, args, kwargs, a, held)) return false;
    std::size_t i = 0;
    return all_fields(table, out, [&](const auto& f, auto& member) { return arg(a[i++], f.arg, member); });
}

}  // namespace vorn::py
