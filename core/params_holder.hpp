// params_holder.hpp — the one parameter record of a controller, with the setters of the
// fields that the SISO and MIMO records share. The controller reads this record at every
// step, so a setter changes one value and the next step sees it.
#pragma once

namespace vorn {

template <class Record>
class ParamsHolder {
public:
    const Record& params() const { return params_; }

    void set_eta(double v) { params_.eta = v; }
    void set_mu(double v) { params_.mu = v; }
    void set_rho(double v) { params_.rho = v; }
    void set_lambda(double v) { params_.lambda = v; }
    void set_eps(double v) { params_.eps = v; }
    void set_u0(double v) { params_.u0 = v; }

protected:
    explicit ParamsHolder(const Record& params) : params_(params) {}

    Record params_;
};

}  // namespace vorn
