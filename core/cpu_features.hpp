// cpu_features.hpp — the instruction sets that the dispatched kernels (controller fleets and
// MIMO matrix passes) are compiled for, and whether the processor runs them: one definition
// of each set, so that "AVX-512" means the same to every kernel and to its dispatcher.
#pragma once

namespace vorn::cpu {

// In order of width.
enum class Isa { Portable, Avx2, Avx512 };
inline constexpr Isa kIsas[] = {Isa::Portable, Isa::Avx2, Isa::Avx512};

// "portable", "avx2" or "avx512".
const char* isa_name(Isa isa);
// Whether this build carries kernels for `isa` and the processor can run them.
bool runs_here(Isa isa);
// The widest set that runs here: a property of the machine, decided on the first call.
Isa widest();

}  // namespace vorn::cpu

#if defined(__x86_64__)
// The target of each set's kernels. No "fma" in either: the multiplications and additions
// stay separate roundings. runs_here (cpu_features.cpp) asks the processor for exactly
// these features.
#define VORN_TARGET_AVX2 __attribute__((target("avx2")))
#define VORN_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#endif
