// mimo_forms.hpp — the three MIMO forms described once: names, pseudo-order rule and the
// state table of their one core (layers of dim×dim, each paired with an increment history
// entry). The MIMO classes take their names from here; they are not pickled, so their
// table is the description of what a core holds.
#pragma once

#include <array>

#include "core/forms/form.hpp"
#include "core/forms/siso_forms.hpp"
#include "core/mimo/params.hpp"

namespace vorn::forms {

namespace mimo_rows {
using namespace lengths;
// No row is pickled: the MIMO classes refuse pickling.
inline constexpr StateArray kState[] = {
    {"layers", StateRole::Estimate, kLayers, false, false},
    {"initial_layer", StateRole::Reset, kOneLayer, false, false},
    {"increments", StateRole::History, kIncrements, false, false},
    {"y_prev", StateRole::History, kDim, false, false},
    {"u_prev", StateRole::History, kDim, false, false},
};
}  // namespace mimo_rows

// The MIMO descriptor of the SISO form `siso`: the same rule, its own names.
constexpr Descriptor mimo_descriptor(const Descriptor& siso, const char* single_class, const char* fleet_class,
                                     const char* core_class) {
    Names names = siso.names;
    names.single_class = single_class;
    names.fleet_class = fleet_class;
    names.core_class = core_class;
    return {.form = siso.form, .mimo = true, .names = names, .rule = siso.rule, .state = mimo_rows::kState};
}

inline constexpr std::array<Descriptor, 3> kMimoForms{
    mimo_descriptor(kSisoForms[0], "MimoCfdlController", "MimoCfdlFleet", "MimoCfdlCore"),
    mimo_descriptor(kSisoForms[1], "MimoPfdlController", "MimoPfdlFleet", "MimoPfdlCore"),
    mimo_descriptor(kSisoForms[2], "MimoFfdlController", "MimoFfdlFleet", "MimoFfdlCore"),
};

constexpr const Descriptor& mimo_form(MimoForm form) { return kMimoForms[static_cast<std::size_t>(form)]; }

}  // namespace vorn::forms
