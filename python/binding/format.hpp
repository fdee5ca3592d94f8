// format.hpp — number formatting for printed representations and for the constructor
// signatures that the class docstrings show.
#pragma once

#include <cstddef>
#include <string>

#include "core/param_fields.hpp"

namespace vorn::py {

// Fixed-point with four decimals, correctly rounded (ties to even), never in exponent
// form; "NaN", "inf" and "-inf" for the special values.
std::string fixed4(double v);

// A real default as a signature shows it: the shortest digits that read back the same, with
// a point or an exponent and no exponent padding ("1.0", "0.02", "1e-5", "1e6").
std::string real_literal(double v);

// "<Class>(<required>, <arg>=<default>, …)\n--\n\n<doc>": a class docstring whose first line
// is the constructor's signature, from a record's table, after the argument `first` when it
// is given. The first `required` fields have no default; the others show theirs in `form`,
// a limit as None.
template <class Table>
std::string class_doc(const char* class_name, const Table& table, DlForm form, std::size_t required, const char* doc,
                      const char* first = nullptr) {
    std::string s = class_name;
    s += '(';
    if (first) s += std::string(first) + (table.size() ? ", " : "");
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto& f = table[i];
        if (i > 0) s += ", ";
        s += f.arg;
        if (i < required) continue;
        s += '=';
        const double v = f.initial.in(form);
        switch (f.kind) {
            case FieldKind::Real: s += real_literal(v); break;
            case FieldKind::Count: s += std::to_string(static_cast<unsigned long long>(v)); break;
            case FieldKind::Limit: s += "None"; break;
        }
    }
    s += ")\n--\n\n";
    return s += doc;
}

}  // namespace vorn::py
