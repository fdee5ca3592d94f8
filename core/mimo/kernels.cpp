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
VORN_KERNEL_VARIANT(avx2, VORN_TARGET_AVX2, 4, 4, 2)
VORN_KERNEL_VARIANT(avx512, VORN_TARGET_AVX512, 8, 4, 2)
#endif

#undef VORN_KERNEL_VARIANT

}  // namespace

Kernels kernels_of(KernelVariant v) {
    if (!cpu::runs_here(v)) return portable::table();
#if defined(__x86_64__)
    if (v == KernelVariant::Avx512) return avx512::table();
    if (v == KernelVariant::Avx2) return avx2::table();
#endif
    return portable::table();
}

}  // namespace vorn::linalg
