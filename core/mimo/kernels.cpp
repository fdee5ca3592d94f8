// kernels.cpp — the instruction-set variants of the matrix passes and the choice among them,
// made once per process from the processor and the environment.
#include "core/mimo/kernels.hpp"

#include <cstdlib>
#include <string_view>

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

// Instruction sets in order of width.
enum class Isa { Portable, Avx2, Avx512 };

bool supported(Isa isa) {
    switch (isa) {
        case Isa::Portable: return true;
#if defined(__x86_64__)
        case Isa::Avx2: return __builtin_cpu_supports("avx2");
        case Isa::Avx512: return __builtin_cpu_supports("avx512f");
#else
        case Isa::Avx2:
        case Isa::Avx512: return false;
#endif
    }
    return false;
}

// The widest instruction set that the processor supports and that is no wider than `limit`.
Isa widest_supported(Isa limit) {
    for (Isa isa : {Isa::Avx512, Isa::Avx2}) {
        if (isa <= limit && supported(isa)) return isa;
    }
    return Isa::Portable;
}

// The widest instruction set that `name` allows; a null, empty or unknown name allows every one.
Isa requested(const char* name) {
    const std::string_view v = name ? name : "";
    if (v == "portable") return Isa::Portable;
    if (v == "avx2") return Isa::Avx2;
    return Isa::Avx512;
}

// The table of a supported instruction set.
Kernels table_for(Isa isa) {
#if defined(__x86_64__)
    if (isa == Isa::Avx512) return avx512::table();
    if (isa == Isa::Avx2) return avx2::table();
#endif
    (void)isa;
    return portable::table();
}

}  // namespace

Kernels select_kernels() {
    // The environment is read once: every core of the process computes with the same passes.
    static const Kernels chosen = table_for(widest_supported(requested(std::getenv(kKernelsVariable))));
    return chosen;
}

}  // namespace vorn::linalg
