// kernel_variants.cpp — proves that every MIMO kernel variant the processor runs computes
// the portable variant's bits. Each case drives one core per variant in lockstep through
// the same script (layers set from random, singular and sign-changing matrices, updates,
// mu = NaN, reset, a new initial layer, tight Frobenius bounds) and compares every output
// and every layer bit for bit after each action (the histories follow from the outputs, and
// the lead layer's cached norm feeds the next output). Prints one line; exits 1 at the first
// difference, which it names.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/mimo/controller.hpp"

namespace {

using vorn::MimoForm;
using vorn::MimoParams;
using vorn::linalg::KernelVariant;

// Dims 0–40 cross every vector width and the first LU panel edges; the larger ones cross
// the third panel edge and the register tiles of the widest variant.
constexpr std::uint64_t kExtraDims[] = {47, 48, 49, 63, 64, 65, 127, 128, 129};

// How the random layers that a case sets are shaped.
enum class Shape { Dense, ZeroColumn, RepeatedRow, Negative, Zero };
constexpr Shape kShapes[] = {Shape::Dense, Shape::ZeroColumn, Shape::RepeatedRow, Shape::Negative, Shape::Zero};
constexpr const char* kShapeNames[] = {"dense", "zero column", "repeated row", "negated first row", "zero"};

struct Case {
    MimoForm form;
    MimoParams params;
    Shape shape;
};

const char* form_name(MimoForm f) {
    return f == MimoForm::Compact ? "compact" : f == MimoForm::Partial ? "partial" : "full";
}

std::string describe(const Case& c) {
    const MimoParams& p = c.params;
    char text[160];
    std::snprintf(text, sizeof text, "%s form, dim %llu, l_y %llu, l_u %llu, m_upper %.17g, %s layers",
                  form_name(c.form), static_cast<unsigned long long>(p.dim), static_cast<unsigned long long>(p.l_y),
                  static_cast<unsigned long long>(p.l_u), p.m_upper, kShapeNames[static_cast<int>(c.shape)]);
    return text;
}

// Uniform in [lo, hi) from the generator's top 53 bits: the same numbers on every platform.
double uniform(std::mt19937_64& rng, double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(rng() >> 11) * 0x1p-53);
}

// `count` layers of dim×dim, flat in layer order: initial_phi·I plus noise of `spread`, shaped.
std::vector<double> random_layers(std::mt19937_64& rng, const Case& c, std::size_t count, double spread) {
    const std::size_t n = c.params.dim;
    std::vector<double> flat(count * n * n);
    for (std::size_t m = 0; m < count; ++m) {
        double* a = flat.data() + m * n * n;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) {
                const double x = (i == j ? c.params.initial_phi : 0.0) + uniform(rng, -spread, spread);
                a[i * n + j] = c.shape == Shape::Zero ? 0.0 : x;
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (c.shape == Shape::ZeroColumn && n > 2) a[i * n + 1] = 0.0;
            if (c.shape == Shape::RepeatedRow && n > 3) a[3 * n + i] = a[i];
            if (c.shape == Shape::Negative) a[i] = -a[i];
        }
    }
    return flat;
}

// The first entry whose bits differ, or a.size() when none does (sizes are equal).
std::size_t first_difference(std::span<const double> a, std::span<const double> b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i])) return i;
    }
    return a.size();
}

[[noreturn]] void report(const Case& c, KernelVariant v, const std::string& action, const std::string& where,
                         double got, double want) {
    std::printf("kernel check: %s differs from portable: %s, after %s: %s is %a, portable gives %a\n",
                vorn::linalg::variant_name(v), describe(c).c_str(), action.c_str(), where.c_str(), got, want);
    std::exit(1);
}

// One core per variant, driven in lockstep; cores[0] is the portable one.
template <MimoForm F>
class Lockstep {
public:
    Lockstep(const Case& c, const std::vector<KernelVariant>& variants) : case_(c), variants_(variants) {
        for (KernelVariant v : variants) {
            auto core = vorn::MimoCore<F>::create(c.params, vorn::linalg::kernels_of(v));
            if (!core) {
                std::printf("kernel check: the case is invalid: %s: %s\n", describe(c).c_str(),
                            core.error().message().c_str());
                std::exit(2);
            }
            cores_.push_back(std::move(core).value());
        }
    }

    // Applies `act` to every core, then compares their layers with the portable core's.
    template <class Act>
    void apply(const std::string& action, Act act) {
        for (auto& core : cores_) act(core);
        compare_layers(action);
    }

    void update(const std::string& action, std::span<const double> y, std::span<const double> yd) {
        const std::vector<double> want = cores_[0].update(y, yd);
        for (std::size_t k = 1; k < cores_.size(); ++k) {
            const std::vector<double>& got = cores_[k].update(y, yd);
            const std::size_t i = first_difference(got, want);
            if (i == want.size()) continue;
            report(case_, variants_[k], action, "output entry " + std::to_string(i), got[i], want[i]);
        }
        compare_layers(action);
    }

private:
    void compare_layers(const std::string& action) {
        const std::vector<double>& want = cores_[0].layers();
        const std::size_t n = case_.params.dim;
        for (std::size_t k = 1; k < cores_.size(); ++k) {
            const std::vector<double>& got = cores_[k].layers();
            const std::size_t i = first_difference(got, want);
            if (i == want.size()) continue;
            const std::size_t in_layer = i % (n * n);
            report(case_, variants_[k], action,
                   "layer " + std::to_string(i / (n * n)) + " entry (" + std::to_string(in_layer / n) + ", " +
                       std::to_string(in_layer % n) + ")",
                   got[i], want[i]);
        }
    }

    const Case& case_;
    const std::vector<KernelVariant>& variants_;
    std::vector<vorn::MimoCore<F>> cores_;
};

// The script of one case; returns the number of updates it ran on each core.
template <MimoForm F>
int run_case(const Case& c, const std::vector<KernelVariant>& variants, std::uint64_t seed) {
    using Core = vorn::MimoCore<F>;
    std::mt19937_64 rng(seed);
    Lockstep<F> cores(c, variants);
    const std::size_t n = c.params.dim;
    const std::size_t count = c.params.l_y + (F == MimoForm::Compact ? 1 : c.params.l_u);
    int updates = 0;
    std::vector<double> y(n), yd(n);
    // k updates around a random set point of magnitude `scale`.
    const auto steps = [&](const std::string& when, int k, double scale = 1.0) {
        for (double& v : yd) v = scale * (1.0 + uniform(rng, -0.25, 0.25));
        for (int s = 0; s < k; ++s) {
            for (std::size_t i = 0; i < n; ++i) y[i] = yd[i] + scale * uniform(rng, -0.2, 0.2);
            cores.update("update " + std::to_string(s + 1) + " " + when, y, yd);
            ++updates;
        }
    };
    // The compact form's layers stray far from initial_phi·I, so that determinants come near
    // zero and change sign; the other forms' stay close, where a tight bound is crossed now
    // and then.
    const double spread = F == MimoForm::Compact ? 0.4 : 0.05;
    const std::vector<double> layers = random_layers(rng, c, count, spread);
    cores.apply("set_phi_hat", [&](Core& core) { core.set_phi_hat(layers); });
    steps("after set_phi_hat", 6);
    cores.apply("set_mu(NaN)", [](Core& core) { core.set_mu(std::numeric_limits<double>::quiet_NaN()); });
    steps("with mu = NaN", 3);
    cores.apply("set_mu(1)", [](Core& core) { core.set_mu(1.0); });
    cores.apply("set_initial_phi(1.5)", [](Core& core) { core.set_initial_phi(1.5); });
    steps("after set_initial_phi(1.5)", 4);
    cores.apply("reset", [](Core& core) { core.reset(); });
    steps("after reset", 6);
    // Squares of these overflow: infinite norms, then NaN layers and outputs.
    steps("around a set point of 1e160", 3, 1e160);
    return updates;
}

int run(const Case& c, const std::vector<KernelVariant>& variants, std::uint64_t seed) {
    switch (c.form) {
        case MimoForm::Compact: return run_case<MimoForm::Compact>(c, variants, seed);
        case MimoForm::Partial: return run_case<MimoForm::Partial>(c, variants, seed);
        case MimoForm::Full: return run_case<MimoForm::Full>(c, variants, seed);
    }
    return 0;
}

// Every case at one dim: the compact form with each shape of layers, the partial and full
// forms at several orders, each with loose bounds and with m_upper just above the initial
// layer's norm, so that the bound rule restores a corrected layer now and then.
std::vector<Case> cases_at(std::uint64_t dim) {
    const MimoParams base{.dim = dim, .eta = 1.0, .mu = 1.0, .rho = 0.5, .lambda = 0.02, .eps = 1e-5, .l_y = 0,
                          .l_u = 1, .initial_phi = 0.5, .u0 = 0.0, .m_upper = 1e6, .m_lower = 1e-6};
    struct Orders {
        MimoForm form;
        std::uint64_t l_y, l_u;
    };
    constexpr Orders kOrders[] = {{MimoForm::Partial, 0, 1}, {MimoForm::Partial, 0, 3}, {MimoForm::Full, 0, 2},
                                  {MimoForm::Full, 1, 2}, {MimoForm::Full, 2, 1}};
    std::vector<Case> out;
    // Just above ‖initial_phi·I‖_F; at dim 0 the bounds cannot matter.
    const auto bound = [dim](bool tight, double initial_phi) {
        return tight && dim ? 1.02 * initial_phi * std::sqrt(static_cast<double>(dim)) : 1e6;
    };
    for (bool tight : {false, true}) {
        for (Shape s : kShapes) {
            MimoParams p = base;
            p.initial_phi = 1.0;
            p.m_upper = bound(tight, p.initial_phi);
            out.push_back({MimoForm::Compact, p, s});
        }
        for (Orders o : kOrders) {
            MimoParams p = base;
            p.l_y = o.l_y;
            p.l_u = o.l_u;
            p.m_upper = bound(tight, p.initial_phi);
            out.push_back({o.form, p, Shape::Dense});
        }
    }
    return out;
}

}  // namespace

int main() {
    std::vector<KernelVariant> variants;
    std::string names;
    for (KernelVariant v : vorn::linalg::kKernelVariants) {
        if (!vorn::linalg::runs_here(v)) continue;
        variants.push_back(v);
        names += std::string(names.empty() ? "" : " ") + vorn::linalg::variant_name(v);
    }
    std::vector<std::uint64_t> dims;
    for (std::uint64_t d = 0; d <= 40; ++d) dims.push_back(d);
    dims.insert(dims.end(), std::begin(kExtraDims), std::end(kExtraDims));
    int cases = 0, updates = 0;
    for (std::uint64_t dim : dims) {
        for (const Case& c : cases_at(dim)) updates += run(c, variants, static_cast<std::uint64_t>(++cases));
    }
    std::printf("kernel check: every variant run here (%s) gives the portable bits in %d cases, %d updates; "
                "MIMO cores take %s\n",
                names.c_str(), cases, updates, vorn::linalg::variant_name(vorn::linalg::widest_variant()));
    return 0;
}
