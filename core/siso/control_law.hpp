// control_law.hpp — the partial-form and full-form control laws: the new input from the
// estimate, the histories and the tracking error, clamped to the optional limits.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "core/siso/params.hpp"

namespace vorn {

// Histories hold the newest value at index 0: u_hist[j] = u(k−1−j), y_hist[i] = y(k−1−i).
// Each law reads rho, lambda and the limits from the owning controller's record `p`, and
// the pseudo-orders as machine words (the caller has checked that they fit).
// The laws check no values and no lengths; their callers keep these limits:
//   partial: phi has at least 1 entry, u_hist at least max(l_u, 1);
//   full: phi and a present rho_vector at least l_y + l_u, y_hist at least l_y, u_hist at
//   least max(l_u, 1).

double pfdl_control(const SisoParams& p, std::size_t l_u, double y, double yd, const std::vector<double>& phi,
                    const std::vector<double>& u_hist);

// A present `rho_vector` gives each component its own step weight.
double ffdl_control(const SisoParams& p, std::size_t l_y, std::size_t l_u, double y, double yd,
                    const std::vector<double>& phi, const std::vector<double>& y_hist,
                    const std::vector<double>& u_hist, const std::optional<std::vector<double>>& rho_vector);

}  // namespace vorn
