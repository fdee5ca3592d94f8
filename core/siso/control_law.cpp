// control_law.cpp — the PFDL and FFDL control laws, operations in their fixed order.
#include "core/siso/control_law.hpp"

#include "core/formulas/step.h"

#include <algorithm>

namespace vorn {

namespace {

// The full-form law with lead factor g and component weights w(i).
template <class Weight>
double ffdl_control_with(const SisoParams& p, std::size_t l_y, std::size_t l_u, double y, double yd,
                         const std::vector<double>& phi, const std::vector<double>& y_hist,
                         const std::vector<double>& u_hist, double g, Weight w) {
    const double f = phi[l_y];

    // Output sum over Δy(k) … Δy(k−l_y+1).
    double c = +0.0;
    if (l_y >= 1) {
        c = -0.0;
        c = vorn_add_product(c, w(0), y - y_hist[0]);
        for (std::size_t i = 1; i < l_y; ++i) c = vorn_add_product(c, w(i), y_hist[i - 1] - y_hist[i]);
    }
    // Input sum over Δu(k−1) … Δu(k−l_u+1).
    double d = +0.0;
    if (l_u >= 2) {
        d = -0.0;
        for (std::size_t j = 0; j + 1 < l_u; ++j) d = vorn_add_product(d, w(l_y + 1 + j), u_hist[j] - u_hist[j + 1]);
    }

    const double u = vorn_ffdl_law(y, yd, c, d, g, f, p.lambda, u_hist[0]);
    return clamp_input(u, p.u_min, p.u_max);
}

}  // namespace

double pfdl_control(const SisoParams& p, std::size_t l_u, double y, double yd, const std::vector<double>& phi,
                    const std::vector<double>& u_hist) {
    // Increment sum: φ̂_(j+1)·Δu(k−1−j), as far as both l_u and the estimate reach.
    double d = +0.0;
    if (l_u >= 2) {
        d = -0.0;
        const std::size_t terms = std::min(l_u - 1, phi.size() - 1);
        for (std::size_t j = 0; j < terms; ++j) {
            const double du = u_hist[j] - u_hist[j + 1];
            d = vorn_add_product(d, phi[j + 1], du);
        }
    }
    const double u = vorn_pfdl_law(y, yd, d, p.rho, p.lambda, phi[0], u_hist[0]);
    return clamp_input(u, p.u_min, p.u_max);
}

double ffdl_control(const SisoParams& p, std::size_t l_y, std::size_t l_u, double y, double yd,
                    const std::vector<double>& phi, const std::vector<double>& y_hist,
                    const std::vector<double>& u_hist, const std::optional<std::vector<double>>& rho_vector) {
    if (rho_vector) {
        const std::vector<double>& r = *rho_vector;
        return ffdl_control_with(p, l_y, l_u, y, yd, phi, y_hist, u_hist, r[l_y],
                                 [&](std::size_t i) { return vorn_ffdl_weight(phi[i], r[i]); });
    }
    return ffdl_control_with(p, l_y, l_u, y, yd, phi, y_hist, u_hist, p.rho, [&](std::size_t i) { return phi[i]; });
}

}  // namespace vorn
