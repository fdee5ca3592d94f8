/* step.h: the scalar arithmetic of one SISO control step, each formula written once.
 *
 * The single controllers, the controller fleets and the exported C all call these
 * functions, so a fleet member and an exported controller round exactly as the controller
 * they stand for. Every product and sum rounds on its own (the builds forbid contraction
 * into fused multiply-adds) and the operations run in the order written.
 *
 * Plain C99 that also compiles as C++: static inline functions, <math.h> only, truth values
 * as int. Histories hold the newest value first. */
#ifndef VORN_FORMULAS_STEP_H
#define VORN_FORMULAS_STEP_H

#include <math.h>

/* --- compact form --- */

/* Normalised projection of the output increment onto the last input increment. */
static inline double vorn_cfdl_candidate(double dy, double du, double phi_hat, double eta, double mu)
{
    double t = dy - du * phi_hat;
    t = t * eta;
    t = t * du;
    t = t / (du * du + mu);
    return t + phi_hat;
}

/* Reset rule: a vanishing estimate or a vanishing input increment restores the reset value.
 * Both tests are pure, so they are evaluated together (no branch between them); a NaN
 * makes each comparison false. */
static inline int vorn_cfdl_resets(double phi_new, double du, double eps)
{
    return (fabs(phi_new) <= eps) | (fabs(du) <= eps);
}

/* The control law before the limits. */
static inline double vorn_cfdl_law(double rho, double lambda, double phi, double e, double u_prev)
{
    return ((rho * phi) * e) / (phi * phi + lambda) + u_prev;
}

/* --- vector estimate (partial and full forms) --- */

/* Running sums start from -0.0 and take one rounded product and one rounded sum per term. */
static inline double vorn_add_product(double sum, double a, double b) { return sum + a * b; }

/* The step length of the projection, from the increment vector's squared norm and the
 * estimate's dot product with it. */
static inline double vorn_ppd_step(double delta_y, double dot, double eta, double mu, double norm2)
{
    return ((delta_y - dot) * eta) / (mu + norm2);
}

/* One component of the candidate estimate. */
static inline double vorn_ppd_candidate(double dh, double step, double phi) { return dh * step + phi; }

/* Reset condition 1: the increments are too small to learn from. */
static inline int vorn_ppd_increments_vanish(double eps, double norm2) { return eps * eps >= norm2; }

/* Reset condition 2: the sign component of the candidate vanishes. */
static inline int vorn_ppd_candidate_vanishes(double eps, double c_s) { return eps >= fabs(c_s); }

/* Reset condition 3: the sign component changes sign against the reset value's (-0.0
 * counts as >= 0). NaN makes each comparison false. */
static inline int vorn_ppd_sign_changes(double c_s, double initial_s) { return (c_s >= 0.0) != (initial_s >= 0.0); }

/* --- control laws (partial and full forms), before the limits --- */

/* Partial form: d is the sum of phi_(j+1) * du(k-1-j) (+0.0 when l_u = 1). */
static inline double vorn_pfdl_law(double y, double yd, double d, double rho, double lambda, double phi0,
                                   double u_last)
{
    double a = yd - y;
    double g;
    double den;
    a = a - d;
    g = rho * phi0;
    a = a * g;
    den = phi0 * phi0 + lambda;
    a = a / den;
    return a + u_last;
}

/* Full form: component i of the estimate weighted by its step factor, when rho_vector is present. */
static inline double vorn_ffdl_weight(double phi, double rho) { return phi * rho; }

/* Full form: c and d are the weighted output and input sums, g the lead factor, f the
 * estimate's sign component. */
static inline double vorn_ffdl_law(double y, double yd, double c, double d, double g, double f, double lambda,
                                   double u_last)
{
    double a = yd - y;
    a = a - c;
    a = a - d;
    a = a * (g * f);
    a = a / (lambda + f * f);
    return a + u_last;
}

/* --- input limits --- */

/* maxNum and minNum: a NaN operand yields the other one (u when both are NaN). Of two equal
 * operands the limit is returned, so that +0.0 against -0.0 has one answer in every
 * translation unit: fmax leaves that tie open, and a compiler may swap its operands. */
static inline double vorn_max_num(double u, double limit)
{
    double r;
    if (isnan(limit) != 0) {
        r = u;
    } else if (isnan(u) != 0) {
        r = limit;
    } else {
        r = (u > limit) ? u : limit;
    }
    return r;
}

static inline double vorn_min_num(double u, double limit)
{
    double r;
    if (isnan(limit) != 0) {
        r = u;
    } else if (isnan(u) != 0) {
        r = limit;
    } else {
        r = (u < limit) ? u : limit;
    }
    return r;
}

/* Lower limit first, then upper limit. An absent limit is passed as NaN, which leaves u as
 * it is (bit for bit), exactly as skipping that limit would. */
static inline double vorn_clamp(double u, double u_min, double u_max)
{
    return vorn_min_num(vorn_max_num(u, u_min), u_max);
}

#endif /* VORN_FORMULAS_STEP_H */
