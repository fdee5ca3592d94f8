// form.hpp — what describes a controller form, whatever its record: its names, its
// pseudo-order rule with its message, and its state table's rows. The SISO and MIMO
// descriptors (siso_forms.hpp, mimo_forms.hpp) fill it in; their parameter tables stay the
// records' own (core/siso/param_table.hpp, core/mimo/params.hpp).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/forms/state_table.hpp"
#include "core/param_fields.hpp"

namespace vorn::forms {

struct Names {
    const char* form;          // short name: "cfdl", "pfdl", "ffdl"
    const char* upper;         // as messages write it: "CFDL"
    const char* single_class;  // the Python class of one controller: "CFDLController"
    const char* fleet_class;   // the Python class of many, or null: "CFDLFleet"
    const char* core_class;    // the core type the class wraps: "CfdlController"
    const char* text;          // the form in words, for documentation: "compact-form"
};

// The pseudo-order rule as its terms, all of which must hold ("l_y == 0", "l_u == 1");
// the test itself is orders_fit (core/shared_rules.hpp).
struct OrderRule {
    std::span<const char* const> terms;

    // "<upper> 要求 l_y == 0 且 l_u == 1": the message of a refused construction.
    std::string message(const char* upper) const { return std::string(upper) + " 要求 " + joined(" 且 ", ""); }
    // "要求 `l_y == 0` 且 `l_u == 1`": the rule as the class documentation writes it.
    std::string doc() const { return "要求 `" + joined("` 且 `", "`"); }

private:
    std::string joined(const char* separator, const char* end) const {
        std::string s;
        for (std::size_t i = 0; i < terms.size(); ++i) s += std::string(i ? separator : "") + terms[i];
        return s + end;
    }
};

// The default pseudo-orders of `form`, as a record's parameter table gives them.
template <class Table>
constexpr Orders default_orders(const Table& table, DlForm form) {
    Orders o;
    for (const auto& f : table) {
        const std::string_view arg = f.arg;
        if (arg == "l_y") o.l_y = static_cast<std::uint64_t>(f.initial.in(form));
        if (arg == "l_u") o.l_u = static_cast<std::uint64_t>(f.initial.in(form));
    }
    return o;
}

struct Descriptor {
    DlForm form;
    bool mimo;
    Names names;
    OrderRule rule;
    std::span<const StateArray> state;
};

}  // namespace vorn::forms
