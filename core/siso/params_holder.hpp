// params_holder.hpp — the one parameter record of a SISO controller with its setters. The
// controller's estimator and control law read this record at every step, so a setter
// changes one value and the next step sees it.
#pragma once

#include <optional>

#include "core/siso/params.hpp"

namespace vorn {

class SisoParamsHolder {
public:
    const SisoParams& params() const { return params_; }

    void set_eta(double v) { params_.eta = v; }
    void set_mu(double v) { params_.mu = v; }
    void set_rho(double v) { params_.rho = v; }
    void set_lambda(double v) { params_.lambda = v; }
    void set_eps(double v) { params_.eps = v; }
    void set_u0(double v) { params_.u0 = v; }
    void set_u_min(std::optional<double> v) { params_.u_min = v; }
    void set_u_max(std::optional<double> v) { params_.u_max = v; }

protected:
    explicit SisoParamsHolder(const SisoParams& params) : params_(params) {}

    SisoParams params_;
};

}  // namespace vorn
