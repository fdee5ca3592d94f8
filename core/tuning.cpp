// tuning.cpp — the tuning error texts and the PFDL initial PPD mappings (formats A, B, C).
#include "core/tuning.hpp"

#include <utility>

#include "core/siso/pfdl_controller.hpp"

namespace vorn {

namespace {

using K = TuningError::Kind;

bool order_supported(std::uint64_t order) { return order >= 1 && order <= 3; }

}  // namespace

std::string TuningError::message() const {
    return kind == Kind::UnsupportedOrder ? "整定不支持当前伪阶数" : "整定参数非法";
}

TuningVector pid_to_pfdl(double kp, double ti, double td, double ts, std::uint64_t order) {
    // 1. Order first, so a bad order beats bad real arguments.
    if (!order_supported(order)) return TuningError{K::UnsupportedOrder};
    // 2. kp is free; td = 0 is accepted. NaN passes every test.
    if (ti <= 0.0 || td < 0.0 || ts <= 0.0) return TuningError{K::InvalidParameter};
    // 3. The elements, each in its own association.
    if (order == 1) return std::vector<double>{-kp};
    std::vector<double> psi{((-kp) * ts) / ti, (kp * (td + ts)) / ts};
    if (order == 3) psi.push_back(((-kp) * td) / ts);
    return psi;
}

TuningVector zn_response_to_pfdl(double k, double tau, double time_delay, double ts, std::uint64_t order) {
    if (!order_supported(order)) return TuningError{K::UnsupportedOrder};
    if (k <= 0.0 || tau <= 0.0 || time_delay <= 0.0 || ts <= 0.0) return TuningError{K::InvalidParameter};
    const double kp = 1.2 / ((k * time_delay) / tau);
    const double ti = time_delay + time_delay;
    const double td = time_delay * 0.5;
    return pid_to_pfdl(kp, ti, td, ts, order);
}

TuningVector critical_proportional_to_pfdl(double ku, double tu, double ts, std::uint64_t order) {
    if (!order_supported(order)) return TuningError{K::UnsupportedOrder};
    if (ku <= 0.0 || tu <= 0.0 || ts <= 0.0) return TuningError{K::InvalidParameter};
    const double kp = ku * 0.6;
    const double ti = 0.5 * tu;
    const double td = tu * 0.125;
    return pid_to_pfdl(kp, ti, td, ts, order);
}

Status<TuningError> apply_pfdl_initial_guess(PfdlController& controller, const std::vector<double>& psi) {
    // 1. Only the length is judged; the values are written as they are.
    if (psi.size() != controller.params().l_u) return TuningError{K::InvalidParameter};
    // 2. Estimate and reset value both become psi; l_u >= 1 entries pass the setter's check.
    (void)controller.set_phi_hat(psi);
    return std::nullopt;
}

}  // namespace vorn
