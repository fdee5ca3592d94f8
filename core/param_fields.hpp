// param_fields.hpp — a parameter record described as data: one row per field with its
// names, kind, member and default per form, and loops over such a table. The SISO and MIMO
// records each have one table; constructor arguments and their defaults, pickling, the
// printed form and the configuration loader loop over it, so a new field is one new row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

namespace vorn {

enum class FieldKind {
    Real,   // a double
    Count,  // an unsigned 64-bit integer (sizes and pseudo-orders)
    Limit,  // an optional double, absent as None / null
};

// The three dynamic-linearisation forms, which may differ in their defaults.
enum class DlForm { Compact, Partial, Full };

// A field's default in each form; a value given for the compact form alone holds for all.
// A limit's default is always absent.
struct FormDefault {
    double compact = 0.0;
    double partial = compact;
    double full = partial;

    constexpr double in(DlForm form) const {
        return form == DlForm::Compact ? compact : form == DlForm::Partial ? partial : full;
    }
};

template <class Record>
struct Field {
    const char* arg;             // constructor argument and printed name ("lambda_")
    const char* key = nullptr;   // pickle state key ("lambda"), where the record is pickled
    const char* yaml = nullptr;  // configuration file key ("L_y"), where the record is loaded
    FieldKind kind = FieldKind::Real;
    // The member, in the pointer that matches `kind`.
    double Record::*real = nullptr;
    std::uint64_t Record::*count = nullptr;
    std::optional<double> Record::*limit = nullptr;
    FormDefault initial = {};
};

// fn(member) with field f of p: a double&, std::uint64_t& or std::optional<double>& (const
// when p is).
template <class Record, class P, class F>
decltype(auto) with_field(const Field<Record>& f, P& p, F&& fn) {
    switch (f.kind) {
        case FieldKind::Real: return fn(p.*f.real);
        case FieldKind::Count: return fn(p.*f.count);
        case FieldKind::Limit: break;
    }
    return fn(p.*f.limit);
}

// fn(field, member) for every field of `table` in order, stopping at the first false.
template <class Table, class P, class F>
bool all_fields(const Table& table, P& p, F&& fn) {
    for (const auto& f : table) {
        if (!with_field(f, p, [&](auto& member) -> bool { return fn(f, member); })) return false;
    }
    return true;
}

// Sets every field of `p` to its default in `form`.
template <class Table, class P>
void set_defaults(const Table& table, P& p, DlForm form) {
    for (const auto& f : table) {
        with_field(f, p, [&](auto& member) {
            using T = std::remove_cvref_t<decltype(member)>;
            member = std::is_same_v<T, std::optional<double>> ? T() : T(f.initial.in(form));
        });
    }
}

// The constructor's argument names in table order, after `first` when it is given.
template <class Table>
std::vector<const char*> arg_names(const Table& table, const char* first = nullptr) {
    std::vector<const char*> names;
    if (first) names.push_back(first);
    for (const auto& f : table) names.push_back(f.arg);
    return names;
}

}  // namespace vorn
