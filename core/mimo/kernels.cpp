// kernels.cpp — the instruction-set variants of the matrix passes and the processor's
// choice among them.
#include "core/mimo/kernels.hpp"

#include "core/mimo/kernels_impl.hpp"

namespace vorn::linalg {

namespace {

// One variant: thin entry points compiled for the instruction set `ATTR` names, each
// inlining the shared body, and the table of them. R×NV is the register tile of the
// determinant's trailing update (rows × vectors).
#define VORN_KERNEL_VARIANT(NS, ATTR, W, R, NV)                                                              \
    namespace NS {                                                                                           \
    ATTR void feed_and_predict(const double* a, std::size_t n, const double* xs, const double* xp, double* s, \
                               double* p) {                                                                  \
        simd::feed_and_predict<W>(a, n, xs, xp, s, p);                                                       \
    }                                                                                                        \
    ATTR void control_and_predict(const double* a, std::size_t n, const double* w, const double* xp,         \
                                  double* t, double* p) {                                                    \
        simd::control_and_predict<W>(a, n, w, xp, t, p);                                                     \
    }                                                                                                        \
    ATTR double correct(double* a, std::size_t n, const double* r, const double* d, double f, double* col) {  \
        return simd::correct<W>(a, n, r, d, f, col);                                                         \
    }                                                                                                        \
    ATTR double squared_frobenius(const double* a, std::size_t n, double* col) {                             \
        return simd::squared_frobenius<W>(a, n, col);                                                        \
    }                                                                                                        \
    ATTR double lu_determinant(double* m, std::size_t n, double* panel) {                                   \
        return simd::lu_determinant<W, R, NV>(m, n, panel);                                                  \
    }                                                                                                        \
    Kernels table() {                                                                                        \
        return {feed_and_predict, control_and_predict, correct, squared_frobenius, lu_determinant};          \
    }                                                                                                        \
    }

VORN_KERNEL_VARIANT(portable, , 2, 4, 2)
#if defined(__x86_64__)
// No "fma" in either target: the multiplications and additions stay separate roundings.
VORN_KERNEL_VARIANT(avx2, __attribute__((target("avx2"))), 4, 4, 2)
VORN_KERNEL_VARIANT(avx512, __attribute__((target("avx512f"))), 8, 4, 2)
#endif

#undef VORN_KERNEL_VARIANT

}  // namespace

const char* variant_name(KernelVariant v) {
    constexpr const char* names[] = {"portable", "avx2", "avx512"};  // KernelVariant's order
    return names[static_cast<int>(v)];
}

bool runs_here(KernelVariant v) {
    switch (v) {
#if defined(__x86_64__)
        case KernelVariant::Avx2: return __builtin_cpu_supports("avx2");
        case KernelVariant::Avx512: return __builtin_cpu_supports("avx512f");
#endif
        case KernelVariant::Portable: return true;
        default: return false;
    }
}

Kernels kernels_of(KernelVariant v) {
    if (!runs_here(v)) return portable::table();
#if defined(__x86_64__)
    if (v == KernelVariant::Avx512) return avx512::table();
    if (v == KernelVariant::Avx2) return avx2::table();
#endif
    return portable::table();
}

KernelVariant widest_variant() {
    using enum KernelVariant;
    static const KernelVariant widest = runs_here(Avx512) ? Avx512 : runs_here(Avx2) ? Avx2 : Portable;
    return widest;
}

}  // namespace vorn::linalg
