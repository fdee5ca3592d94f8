// fleet.hpp — n MIMO cores of one form, dimension and pair of pseudo-orders, stepped by
// one call on member-major arrays. Each member is a whole MimoCore stepped by its own
// update, so a member is bit for bit the single controller given the same samples.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/checked_size.hpp"
#include "core/mimo/controller.hpp"

namespace vorn {

template <MimoForm F>
class MimoFleet {
public:
    using Member = MimoCore<F>;

    // Bytes taken by n members built from `shared` (whose counts every member shares);
    // empty on overflow. A fleet of none is judged as one, so that absurd dimensions or
    // pseudo-orders are refused whatever the count.
    static Size storage_bytes(std::size_t n, const MimoParams& shared) {
        return checked_mul(Size(std::max<std::size_t>(n, 1)), checked_add(Member::storage_bytes(shared), Size(sizeof(Member))));
    }

    MimoFleet(std::uint64_t dim, std::uint64_t l_y, std::uint64_t l_u, std::vector<Member> members)
        : dim_(dim), l_y_(l_y), l_u_(l_u), members_(std::move(members)) {}

    std::size_t size() const { return members_.size(); }
    std::uint64_t dim() const { return dim_; }
    std::uint64_t l_y() const { return l_y_; }
    std::uint64_t l_u() const { return l_u_; }
    // Layers per member: l_y + l_u in the full form, l_u in the partial form, 1 in the compact.
    std::size_t layer_count() const {
        if constexpr (F == MimoForm::Compact) return 1;
        if constexpr (F == MimoForm::Partial) return static_cast<std::size_t>(l_u_);
        return static_cast<std::size_t>(l_y_ + l_u_);
    }

    Member& member(std::size_t i) { return members_[i]; }
    const Member& member(std::size_t i) const { return members_[i]; }

    // One sample for every member: y is n×dim, yd n×dim or one dim row for everyone
    // (yd_shared); out receives n×dim inputs. Small dimensions step through the members'
    // update_fixed (fleet.cpp).
    void update(const double* y, const double* yd, bool yd_shared, double* out);

    void reset() {
        for (Member& m : members_) m.reset();
    }

private:
    std::uint64_t dim_, l_y_, l_u_;
    std::vector<Member> members_;
};

extern template class MimoFleet<MimoForm::Compact>;
extern template class MimoFleet<MimoForm::Partial>;
extern template class MimoFleet<MimoForm::Full>;

}  // namespace vorn
