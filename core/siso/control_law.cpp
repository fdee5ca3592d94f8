// control_law.cpp — the PFDL and FFDL control laws, operations in their fixed order.
#include "core/siso/control_law.hpp"

#include <algorithm>

namespace vorn {

double PfdlControlLaw::compute(double y, double yd, const std::vector<double>& phi,
                               const std::vector<double>& u_hist) const {
    // Increment sum: φ̂_(j+1)·Δu(k−1−j), as far as both l_u and the estimate reach.
    double d = +0.0;
    if (l_u_ >= 2) {
        d = -0.0;
        const std::size_t terms = std::min(l_u_ - 1, phi.size() - 1);
        for (std::size_t j = 0; j < terms; ++j) {
            const double du = u_hist[j] - u_hist[j + 1];
            d = formula::add_product(d, phi[j + 1], du);
        }
    }
    const double u = formula::pfdl_law(y, yd, d, params_.rho, params_.lambda, phi[0], u_hist[0]);
    return clamp_input(u, params_.u_min, params_.u_max);
}

template <class Weight>
double FfdlControlLaw::compute_with(double y, double yd, const std::vector<double>& phi,
                                    const std::vector<double>& y_hist, const std::vector<double>& u_hist, double g,
                                    Weight w) const {
    const double f = phi[l_y_];

    // Output sum over Δy(k) … Δy(k−l_y+1).
    double c = +0.0;
    if (l_y_ >= 1) {
        c = -0.0;
        c = formula::add_product(c, w(0), y - y_hist[0]);
        for (std::size_t i = 1; i < l_y_; ++i) c = formula::add_product(c, w(i), y_hist[i - 1] - y_hist[i]);
    }
    // Input sum over Δu(k−1) … Δu(k−l_u+1).
    double d = +0.0;
    if (l_u_ >= 2) {
        d = -0.0;
        for (std::size_t j = 0; j + 1 < l_u_; ++j) d = formula::add_product(d, w(l_y_ + 1 + j), u_hist[j] - u_hist[j + 1]);
    }

    const double u = formula::ffdl_law(y, yd, c, d, g, f, params_.lambda, u_hist[0]);
    return clamp_input(u, params_.u_min, params_.u_max);
}

double FfdlControlLaw::compute(double y, double yd, const std::vector<double>& phi,
                               const std::vector<double>& y_hist, const std::vector<double>& u_hist) const {
    if (rho_vector_) {
        const std::vector<double>& r = *rho_vector_;
        return compute_with(y, yd, phi, y_hist, u_hist, r[l_y_], [&](std::size_t i) { return formula::ffdl_weight(phi[i], r[i]); });
    }
    return compute_with(y, yd, phi, y_hist, u_hist, params_.rho, [&](std::size_t i) { return phi[i]; });
}

}  // namespace vorn
