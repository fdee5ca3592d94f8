// fleet.cpp — the MIMO fleets' step: each member's own update, through the update for a
// fixed dimension where the fleet's dimension has one.
#include "core/mimo/fleet.hpp"

#include <utility>

#include "core/mimo/update_cycle.hpp"

namespace vorn {

namespace {

template <MimoForm F, std::size_t D>
void step_fixed(std::vector<MimoCore<F>>& members, const double* y, const double* yd, bool yd_shared, double* out) {
    for (std::size_t i = 0; i < members.size(); ++i) {
        members[i].template update_fixed<D>(y + i * D, yd_shared ? yd : yd + i * D, out + i * D);
    }
}

// The fixed-dimension step for dims 1 … kMimoFixedDimMax; false for any other dim.
template <MimoForm F, std::size_t... D>
bool step_fixed_dims(std::size_t dim, std::index_sequence<D...>, std::vector<MimoCore<F>>& members,
                     const double* y, const double* yd, bool yd_shared, double* out) {
    return ((dim == D + 1 && (step_fixed<F, D + 1>(members, y, yd, yd_shared, out), true)) || ...);
}

}  // namespace

template <MimoForm F>
void MimoFleet<F>::update(const double* y, const double* yd, bool yd_shared, double* out) {
    const std::size_t d = static_cast<std::size_t>(dim_);
    if (step_fixed_dims<F>(d, std::make_index_sequence<kMimoFixedDimMax>{}, members_, y, yd, yd_shared, out)) return;
    for (std::size_t i = 0; i < members_.size(); ++i) {
        const std::vector<double>& u = members_[i].update({y + i * d, d}, {yd_shared ? yd : yd + i * d, d});
        std::copy(u.begin(), u.end(), out + i * d);
    }
}

template class MimoFleet<MimoForm::Compact>;
template class MimoFleet<MimoForm::Partial>;
template class MimoFleet<MimoForm::Full>;

}  // namespace vorn
