// step_formulas.hpp — the scalar arithmetic of one SISO control step, each formula written
// once: the single controllers and the controller fleets both call these, so a member of a
// fleet rounds exactly as the controller it stands for. Every product and sum rounds on
// its own (the build forbids contraction into fused multiply–adds); the operations run in
// the order written.
#pragma once

#include <cmath>

namespace vorn::formula {

// --- compact form ---

// Normalised projection of the output increment onto the last input increment.
inline double cfdl_candidate(double dy, double du, double phi_hat, double eta, double mu) {
    double t = dy - du * phi_hat;
    t = t * eta;
    t = t * du;
    t = t / (du * du + mu);
    return t + phi_hat;
}

// Reset rule: a vanishing estimate or a vanishing input increment restores the reset value.
inline bool cfdl_resets(double phi_new, double du, double eps) {
    return std::fabs(phi_new) <= eps || std::fabs(du) <= eps;
}

// The control law before the limits.
inline double cfdl_law(double rho, double lambda, double phi, double e, double u_prev) {
    return ((rho * phi) * e) / (phi * phi + lambda) + u_prev;
}

// --- vector estimate (partial and full forms) ---

// Running sums start from −0.0 and take one rounded product and one rounded sum per term.
inline double add_product(double sum, double a, double b) { return sum + a * b; }

// The step length of the projection, from ΔH's squared norm and φ̂·ΔH.
inline double ppd_step(double delta_y, double dot, double eta, double mu, double norm2) {
    return ((delta_y - dot) * eta) / (mu + norm2);
}

// One component of the candidate estimate.
inline double ppd_candidate(double dh, double step, double phi) { return dh * step + phi; }

// Reset condition 1: the increments are too small to learn from.
inline bool ppd_increments_vanish(double eps, double norm2) { return eps * eps >= norm2; }

// Reset condition 2: the sign component of the candidate vanishes.
inline bool ppd_candidate_vanishes(double eps, double c_s) { return eps >= std::fabs(c_s); }

// Reset condition 3: the sign component changes sign against the reset value's (−0.0
// counts as ≥ 0). NaN makes each comparison false.
inline bool ppd_sign_changes(double c_s, double initial_s) { return (c_s >= 0.0) != (initial_s >= 0.0); }

// --- control laws (partial and full forms), before the limits ---

// Partial form: d is Σ φ̂_(j+1)·Δu(k−1−j) (+0.0 when l_u = 1).
inline double pfdl_law(double y, double yd, double d, double rho, double lambda, double phi0, double u_last) {
    double a = yd - y;
    a = a - d;
    const double g = rho * phi0;
    a = a * g;
    const double den = phi0 * phi0 + lambda;
    a = a / den;
    return a + u_last;
}

// Full form: component i of φ̂ weighted by its step factor, when rho_vector is present.
inline double ffdl_weight(double phi, double rho) { return phi * rho; }

// Full form: c and d are the weighted output and input sums, g the lead factor, f = φ̂_s.
inline double ffdl_law(double y, double yd, double c, double d, double g, double f, double lambda,
                       double u_last) {
    double a = yd - y;
    a = a - c;
    a = a - d;
    a = a * (g * f);
    a = a / (lambda + f * f);
    return a + u_last;
}

// --- input limits ---

// maxNum and minNum: a NaN operand yields the other one (u when both are NaN). Of two equal
// operands the limit is returned, so that +0.0 against −0.0 has one answer in every
// translation unit: std::fmax leaves that tie open, and a compiler may swap its operands.
inline double max_num(double u, double limit) {
    if (std::isnan(limit)) return u;
    if (std::isnan(u)) return limit;
    return u > limit ? u : limit;
}
inline double min_num(double u, double limit) {
    if (std::isnan(limit)) return u;
    if (std::isnan(u)) return limit;
    return u < limit ? u : limit;
}

// Lower limit first, then upper limit.
inline double clamp(double u, bool has_min, double u_min, bool has_max, double u_max) {
    if (has_min) u = max_num(u, u_min);
    if (has_max) u = min_num(u, u_max);
    return u;
}

}  // namespace vorn::formula
