// siso_forms.hpp — the three SISO forms described once: names, pseudo-order rule, default
// pseudo-orders (read from the parameter table), and the state table tied to each
// controller's saved record. The single classes, the fleets, their pickling and the
// package's registry of forms are all generic over these descriptors.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>

#include "core/forms/form.hpp"
#include "core/siso/cfdl_controller.hpp"
#include "core/siso/ffdl_controller.hpp"
#include "core/siso/param_table.hpp"
#include "core/siso/pfdl_controller.hpp"

namespace vorn::forms {

namespace siso_rows {
using namespace lengths;
inline constexpr StateArray kYPrev{"y_prev", StateRole::History, kScalar};
inline constexpr StateArray kUPrev{"u_prev", StateRole::History, kScalar};
inline constexpr StateArray kUPrev2{"u_prev2", StateRole::History, kScalar};
inline constexpr StateArray kYHist{"y_hist", StateRole::History, kOutputs};
inline constexpr StateArray kUHist{"u_hist", StateRole::History, kInputs};
// The reset value, last in every table: the pickled state ends where it begins.
inline constexpr StateArray kScalarReset{"phi_reset", StateRole::Reset, kScalar, false, false};
inline constexpr StateArray kPartialReset{"phi_reset", StateRole::Reset, kInputOrder, false, false};
inline constexpr StateArray kFullReset{"phi_reset", StateRole::Reset, kBothOrders, false, false};
}  // namespace siso_rows

// Compact form: one scalar estimate; y(k−1), u(k−1), u(k−2).
struct Cfdl {
    using Core = CfdlController;
    using State = CfdlHistory;
    static constexpr DlForm form = DlForm::Compact;
    static constexpr const char* rule_terms[] = {"l_y == 0", "l_u == 1"};
    static constexpr Names names{"cfdl", "CFDL", "CFDLController", "CFDLFleet", "CfdlController", "compact-form"};
    static constexpr std::tuple state{
        StateEntry<State, double>{siso_rows::kYPrev, &State::y_prev},
        StateEntry<State, double>{siso_rows::kUPrev, &State::u_prev},
        StateEntry<State, double>{siso_rows::kUPrev2, &State::u_prev2},
        StateEntry<State, double>{{"phi_hat", StateRole::Estimate, lengths::kScalar}, &State::phi_hat},
        StateEntry<State>{siso_rows::kScalarReset},
    };
};

// Partial form: an estimate of l_u entries over the input increments.
struct Pfdl {
    using Core = PfdlController;
    using State = PfdlState;
    static constexpr DlForm form = DlForm::Partial;
    static constexpr const char* rule_terms[] = {"l_y == 0", "l_u >= 1"};
    static constexpr Names names{"pfdl", "PFDL", "PFDLController", "PFDLFleet", "PfdlController", "partial-form"};
    static constexpr std::tuple state{
        StateEntry<State, double>{siso_rows::kYPrev, &State::y_prev},
        StateEntry<State, std::vector<double>>{siso_rows::kUHist, &State::u_hist},
        StateEntry<State, std::vector<double>>{{"phi_hat", StateRole::Estimate, lengths::kInputOrder}, &State::phi_hat},
        StateEntry<State>{siso_rows::kPartialReset},
    };
};

// Full form: an estimate of l_y + l_u entries over the output and input increments, and
// optional step weights of as many.
struct Ffdl {
    using Core = FfdlController;
    using State = FfdlState;
    static constexpr DlForm form = DlForm::Full;
    static constexpr const char* rule_terms[] = {"l_u >= 1"};
    static constexpr Names names{"ffdl", "FFDL", "FFDLController", "FFDLFleet", "FfdlController", "full-form"};
    static constexpr std::tuple state{
        StateEntry<State, std::vector<double>>{siso_rows::kYHist, &State::y_hist},
        StateEntry<State, std::vector<double>>{siso_rows::kUHist, &State::u_hist},
        StateEntry<State, std::vector<double>>{{"phi_hat", StateRole::Estimate, lengths::kBothOrders}, &State::phi_hat},
        StateEntry<State, std::optional<std::vector<double>>>{
            {"rho_vector", StateRole::StepFactors, lengths::kBothOrders, true}, &State::rho_vector},
        StateEntry<State>{siso_rows::kFullReset},
    };
};

// fn(Form{}) with the descriptor type of `form`; each call returns the same type.
template <class F>
decltype(auto) with_siso_form(DlForm form, F&& fn) {
    switch (form) {
        case DlForm::Compact: return fn(Cfdl{});
        case DlForm::Partial: return fn(Pfdl{});
        case DlForm::Full: break;
    }
    return fn(Ffdl{});
}

// The SISO descriptor types in DlForm's order.
using SisoFormList = std::tuple<Cfdl, Pfdl, Ffdl>;

// fn(Form{}) for every SISO form in DlForm's order, stopping at the first false.
template <class F>
bool all_siso_forms(F&& fn) {
    return std::apply([&](auto... form) { return (fn(form) && ...); }, SisoFormList{});
}

// The form of the SISO controller type Core.
template <class Core>
inline constexpr DlForm kFormOf = std::apply(
    [](auto... form) {
        DlForm found = DlForm::Compact;
        ((std::is_same_v<Core, typename decltype(form)::Core> ? (found = form.form, true) : false) || ...);
        return found;
    },
    SisoFormList{});

// The rows of a form's state table.
template <class Form>
inline constexpr auto kStateRows = rows_of(Form::state);

// The descriptor of a form, as the registry shows it.
template <class Form>
constexpr Descriptor descriptor() {
    return {.form = Form::form, .mimo = false, .names = Form::names, .rule = {Form::rule_terms}, .state = kStateRows<Form>};
}

inline constexpr std::array<Descriptor, 3> kSisoForms{descriptor<Cfdl>(), descriptor<Pfdl>(), descriptor<Ffdl>()};

// The SISO descriptor of `form`.
constexpr const Descriptor& siso_form(DlForm form) { return kSisoForms[static_cast<std::size_t>(form)]; }

// The message of a SISO form's refused pseudo-orders, made once and kept for the process.
inline const char* order_message(DlForm form) {
    static const auto texts = [] {
        std::array<std::string, kSisoForms.size()> t;
        for (std::size_t i = 0; i < t.size(); ++i) t[i] = kSisoForms[i].rule.message(kSisoForms[i].names.upper);
        return t;
    }();
    return texts[static_cast<std::size_t>(form)].c_str();
}

}  // namespace vorn::forms
