// fleet_kinds.hpp — what differs between CFDLFleet, PFDLFleet and FFDLFleet: names and
// defaults, the form test, the fleet core and the single controller it stands
// for, the shape of an estimate, and the arrays that make up a member's state (for pickling).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/siso/cfdl_fleet.hpp"
#include "core/siso/vector_fleet.hpp"

namespace vorn::py::fleet {

// An array of the dynamic state besides the estimates, kept rows×n in the core and shown
// (n, rows) to Python; rows 0 means one value per member, shown (n,).
template <class Core>
struct StateArray {
    const char* key;
    std::vector<double>& (Core::*get)();
    std::size_t (*rows)(const Core&);
};

struct CfdlKind {
    using Core = CfdlFleet;
    using Single = CfdlController;
    using Log = CfdlFleetLog;
    static constexpr const char* name = "CFDLFleet";
    static constexpr const char* single_name = "CFDLController";
    static constexpr const char* form_name = "compact-form";
    static constexpr bool has_rho_vector = false;
    static constexpr std::uint64_t default_l_y = 0, default_l_u = 1;
    static constexpr const char* form_message = "CFDL 要求 l_y == 0 且 l_u == 1";
    static bool form_ok(const SisoParams& p) { return p.l_y == 0 && p.l_u == 1; }

    static Size storage_bytes(std::size_t n, std::uint64_t, std::uint64_t) { return Core::storage_bytes(n); }
    static Core make(FleetParams p) { return Core(std::move(p)); }
    // Rows of an estimate, and of every state array of this form, as Python shows them: 0,
    // one value per member, shape (n,).
    static std::size_t estimate_rows(const Core&) { return 0; }
    static Single member(const Core& c, std::size_t i) { return c.member(i); }
    static Status<FleetMismatch> set_member(Core& c, std::size_t i, const Single& s) {
        c.set_member(i, s);
        return std::nullopt;
    }

    static inline const StateArray<Core> state[] = {
        {"y_prev", &Core::y_prev, estimate_rows},
        {"u_prev", &Core::u_prev, estimate_rows},
        {"u_prev2", &Core::u_prev2, estimate_rows},
    };
};

// The partial and full forms share the core; `Full` picks the form.
template <bool Full>
struct VectorKind {
    using Core = VectorFleet;
    using Single = std::conditional_t<Full, FfdlController, PfdlController>;
    using Log = VectorFleetLog;
    static constexpr const char* name = Full ? "FFDLFleet" : "PFDLFleet";
    static constexpr const char* single_name = Full ? "FFDLController" : "PFDLController";
    static constexpr const char* form_name = Full ? "full-form" : "partial-form";
    static constexpr bool has_rho_vector = Full;
    static constexpr std::uint64_t default_l_y = Full ? 1 : 0, default_l_u = 2;
    static constexpr const char* form_message = Full ? "FFDL 要求 l_u >= 1" : "PFDL 要求 l_y == 0 且 l_u >= 1";
    static constexpr Core::Form form = Full ? Core::Form::Full : Core::Form::Partial;
    static bool form_ok(const SisoParams& p) { return p.l_u >= 1 && (Full || p.l_y == 0); }

    static Size storage_bytes(std::size_t n, std::uint64_t l_y, std::uint64_t l_u) {
        return Core::storage_bytes(form, n, l_y, l_u);
    }
    static Core make(FleetParams p) { return Core(form, std::move(p)); }
    // Rows of an estimate as Python shows it: m, shape (n, m).
    static std::size_t estimate_rows(const Core& c) { return c.components(); }
    static Single member(const Core& c, std::size_t i) {
        if constexpr (Full) {
            return c.ffdl_member(i);
        } else {
            return c.pfdl_member(i);
        }
    }
    static Status<FleetMismatch> set_member(Core& c, std::size_t i, const Single& s) { return c.set_member(i, s); }

    static std::size_t u_rows(const Core& c) { return c.l_u() + 1; }
    static std::size_t y_rows(const Core& c) { return Full ? c.l_y() + 1 : 0; }
    static inline const StateArray<Core> state[] = {
        {"u_hist", &Core::u_hist, u_rows},
        {Full ? "y_hist" : "y_prev", &Core::y_hist, y_rows},
        // Only the full form has step weights; the partial form leaves them out.
        {"rho_vector", &Core::rho_vector, Full ? estimate_rows : nullptr},
    };
};

using PfdlKind = VectorKind<false>;
using FfdlKind = VectorKind<true>;

}  // namespace vorn::py::fleet
