// fleet_kinds.hpp — what differs between CFDLFleet, PFDLFleet and FFDLFleet beyond their
// form's descriptor (core/forms/siso_forms.hpp, which gives the names, defaults, pseudo-order
// rule and state table): the fleet core, the single controller it stands for and the way
// between a member and a controller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/forms/siso_forms.hpp"
#include "core/siso/cfdl_fleet.hpp"
#include "core/siso/vector_fleet.hpp"

namespace vorn::py::fleet {

// What every kind takes from its form's descriptor.
template <class Descriptor>
struct KindOf {
    using Form = Descriptor;
    using Single = typename Descriptor::Core;
    static constexpr DlForm form = Descriptor::form;
    static constexpr const char* name = Descriptor::names.fleet_class;
    static constexpr const char* single_name = Descriptor::names.single_class;
    static constexpr auto& state = forms::kStateRows<Descriptor>;
    static bool form_ok(const SisoParams& p) { return orders_fit(form, p.l_y, p.l_u); }
    static const char* form_message() { return forms::order_message(form); }

    // Rows of an array of the state table as Python shows it: 0 for a scalar per member,
    // shape (n,); else its length, shape (n, rows).
    static std::size_t rows(const forms::StateArray& a, const SisoParams& shared) {
        return a.length.scalar ? 0 : a.length.of({.l_y = shared.l_y, .l_u = shared.l_u});
    }
    // Whether the form has step weights (set_rho_vector).
    static constexpr bool has_step_factors = [] {
        for (const forms::StateArray& a : state) {
            if (a.role == forms::StateRole::StepFactors) return true;
        }
        return false;
    }();
    // The estimate's row of the state table.
    static constexpr const forms::StateArray& estimate() {
        for (const forms::StateArray& a : state) {
            if (a.role == forms::StateRole::Estimate) return a;
        }
        throw "a form's state table holds its estimate";  // not a constant: fails to compile
    }
};

struct CfdlKind : KindOf<forms::Cfdl> {
    using Core = CfdlFleet;
    using Log = CfdlFleetLog;

    static Size storage_bytes(std::size_t n, std::uint64_t, std::uint64_t) { return Core::storage_bytes(n); }
    static Core make(FleetParams p) { return Core(std::move(p)); }
    static Single member(const Core& c, std::size_t i) { return c.member(i); }
    static Status<FleetMismatch> set_member(Core& c, std::size_t i, const Single& s) {
        c.set_member(i, s);
        return std::nullopt;
    }
};

// The partial and full forms share the core.
template <class Descriptor>
struct VectorKind : KindOf<Descriptor> {
    using Core = VectorFleet;
    using Log = VectorFleetLog;
    using Single = typename Descriptor::Core;
    static constexpr DlForm form = Descriptor::form;

    static Size storage_bytes(std::size_t n, std::uint64_t l_y, std::uint64_t l_u) {
        return Core::storage_bytes(form, n, l_y, l_u);
    }
    static Core make(FleetParams p) { return Core(form, std::move(p)); }
    static Single member(const Core& c, std::size_t i) {
        if constexpr (form == DlForm::Full) {
            return c.ffdl_member(i);
        } else {
            return c.pfdl_member(i);
        }
    }
    static Status<FleetMismatch> set_member(Core& c, std::size_t i, const Single& s) { return c.set_member(i, s); }
};

using PfdlKind = VectorKind<forms::Pfdl>;
using FfdlKind = VectorKind<forms::Ffdl>;

}  // namespace vorn::py::fleet
