// fleet_kernels.cpp — the instruction-set variants of the fleets' block steps and the
// choice among them.
#include "core/siso/fleet_kernels.hpp"

#include "core/siso/fleet_kernels_impl.hpp"

namespace vorn::fleet_kernels {

namespace {

// The unlogged steps of the commonest pseudo-orders run the one-pass body; the rest, and
// every logged step, the general one.
#define VORN_FIXED_PFDL(LU)                                                  \
    case LU: return body::vector_fixed<false, 0, LU>(v, b, e, y, yd, u);
#define VORN_FIXED_FFDL(LY, LU)                                              \
    if (v.l_y == LY && v.l_u == LU) return body::vector_fixed<true, LY, LU>(v, b, e, y, yd, u);

#define VORN_VECTOR_DISPATCH                                                                    \
    VORN_FLEET_ALWAYS void pfdl_steps(const VectorView& v, std::size_t b, std::size_t e, const double* y,   \
                                      const double* yd, double* u) {                              \
        switch (v.l_u) {                                                                          \
            VORN_FIXED_PFDL(1)                                                                    \
            VORN_FIXED_PFDL(2)                                                                    \
            VORN_FIXED_PFDL(3)                                                                    \
            VORN_FIXED_PFDL(4)                                                                    \
            default: return body::vector<false, false>(v, b, e, y, yd, u, nullptr);               \
        }                                                                                         \
    }                                                                                             \
    VORN_FLEET_ALWAYS void ffdl_steps(const VectorView& v, std::size_t b, std::size_t e, const double* y,   \
                                      const double* yd, double* u) {                              \
        VORN_FIXED_FFDL(0, 1)                                                                     \
        VORN_FIXED_FFDL(0, 2)                                                                     \
        VORN_FIXED_FFDL(1, 1)                                                                     \
        VORN_FIXED_FFDL(1, 2)                                                                     \
        VORN_FIXED_FFDL(2, 1)                                                                     \
        VORN_FIXED_FFDL(2, 2)                                                                     \
        return body::vector<true, false>(v, b, e, y, yd, u, nullptr);                             \
    }

#define VORN_FLEET_ALWAYS inline __attribute__((always_inline))

// One variant: entry points compiled for the instruction set `ATTR` names, each inlining
// the shared body (the compiler vectorises its loops across members), and their table.
#define VORN_FLEET_VARIANT(NS, ATTR)                                                                           \
    namespace NS {                                                                                             \
    VORN_VECTOR_DISPATCH                                                                                       \
    ATTR void cfdl(const CfdlView& v, std::size_t b, std::size_t e, const double* y, const double* yd,         \
                   double* u, const CfdlLog* log) {                                                            \
        log ? body::cfdl<true>(v, b, e, y, yd, u, log) : body::cfdl<false>(v, b, e, y, yd, u, log);             \
    }                                                                                                          \
    ATTR void pfdl(const VectorView& v, std::size_t b, std::size_t e, const double* y, const double* yd,       \
                   double* u, const VectorLog* log) {                                                          \
        log ? body::vector<false, true>(v, b, e, y, yd, u, log) : pfdl_steps(v, b, e, y, yd, u);               \
    }                                                                                                          \
    ATTR void ffdl(const VectorView& v, std::size_t b, std::size_t e, const double* y, const double* yd,       \
                   double* u, const VectorLog* log) {                                                          \
        log ? body::vector<true, true>(v, b, e, y, yd, u, log) : ffdl_steps(v, b, e, y, yd, u);                \
    }                                                                                                          \
    Table table() { return {cfdl, pfdl, ffdl}; }                                                               \
    }

VORN_FLEET_VARIANT(portable, )
#if defined(__x86_64__)
VORN_FLEET_VARIANT(avx2, VORN_TARGET_AVX2)
VORN_FLEET_VARIANT(avx512, VORN_TARGET_AVX512)
#endif

#undef VORN_FLEET_VARIANT
#undef VORN_VECTOR_DISPATCH
#undef VORN_FIXED_PFDL
#undef VORN_FIXED_FFDL

}  // namespace

Table table_for(Isa isa) {
#if defined(__x86_64__)
    if (isa == Isa::Avx512 && cpu::runs_here(isa)) return avx512::table();
    if (isa == Isa::Avx2 && cpu::runs_here(isa)) return avx2::table();
#endif
    (void)isa;
    return portable::table();
}

const Table& selected() {
    static const Table table = table_for(cpu::widest());
    return table;
}

}  // namespace vorn::fleet_kernels
