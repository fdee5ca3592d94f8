// state_table.hpp — a controller form's state as data: named arrays whose lengths are
// functions of the pseudo-orders (and of dim for MIMO), each with its role. A form's table
// lists them in the order the state is saved; pickling, state export and import and the
// fleets' arrays loop over it, so a new array is one new row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

namespace vorn::forms {

// The sizes a state array's length is a function of. SISO forms have dim 1.
struct Orders {
    std::uint64_t l_y = 0, l_u = 0, dim = 1;
};

// What an array holds.
enum class StateRole {
    History,      // past samples or their increments, newest first
    Estimate,     // the current pseudo partial derivative (or pseudo-Jacobian layers)
    Reset,        // the estimate's reset value
    StepFactors,  // per-component step weights
};

// A length as a function of the orders, with its text ("l_u + 1"); `scalar` marks a single
// value kept as a number rather than as a vector of one.
struct Length {
    const char* text;
    std::size_t (*of)(const Orders&);
    bool scalar = false;
};

// The lengths the forms use. The caller has bounded the orders (the storage check) before
// asking for a length.
namespace lengths {
inline constexpr Length kScalar{"1", [](const Orders&) -> std::size_t { return 1; }, true};
inline constexpr Length kOutputs{"l_y + 1", [](const Orders& o) -> std::size_t { return o.l_y + 1; }};
inline constexpr Length kInputs{"l_u + 1", [](const Orders& o) -> std::size_t { return o.l_u + 1; }};
inline constexpr Length kInputOrder{"l_u", [](const Orders& o) -> std::size_t { return o.l_u; }};
inline constexpr Length kBothOrders{"l_y + l_u", [](const Orders& o) -> std::size_t { return o.l_y + o.l_u; }};
inline constexpr Length kDim{"dim", [](const Orders& o) -> std::size_t { return o.dim; }};
inline constexpr Length kLayers{"(l_y + l_u) * dim * dim",
                                [](const Orders& o) -> std::size_t { return (o.l_y + o.l_u) * o.dim * o.dim; }};
inline constexpr Length kIncrements{"(l_y + l_u) * dim", [](const Orders& o) -> std::size_t { return (o.l_y + o.l_u) * o.dim; }};
inline constexpr Length kOneLayer{"dim * dim", [](const Orders& o) -> std::size_t { return o.dim * o.dim; }};
}  // namespace lengths

// One row of a state table.
struct StateArray {
    const char* key;  // its key in a saved state ("u_hist")
    StateRole role;
    Length length;
    // Absent until set (the step weights): saved as None, and as flags in a fleet.
    bool optional = false;
    // Left out of a single controller's pickled state (the reset value, which construction
    // restores); kept by whole copies (the fleets, their members' full state).
    bool pickled = true;
};

// A row tied to the member of the form's state record that holds it; Member is void for a
// row the record leaves out.
template <class Record, class T = void>
struct StateEntry {
    StateArray array;
    T Record::*member;
};
template <class Record>
struct StateEntry<Record, void> {
    StateArray array;
};

// Whether an entry is held by the state record.
template <class Entry>
inline constexpr bool in_record = requires(const Entry& e) { e.member; };

// The rows of a table of entries (a std::tuple of StateEntry), in order.
template <class Entries>
constexpr auto rows_of(const Entries& entries) {
    return std::apply([](const auto&... e) { return std::array<StateArray, sizeof...(e)>{e.array...}; }, entries);
}

}  // namespace vorn::forms
