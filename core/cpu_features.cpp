// cpu_features.cpp — the processor's answer for each instruction set of cpu_features.hpp.
#include "core/cpu_features.hpp"

namespace vorn::cpu {

const char* isa_name(Isa isa) {
    constexpr const char* names[] = {"portable", "avx2", "avx512"};  // Isa's order
    return names[static_cast<int>(isa)];
}

bool runs_here(Isa isa) {
    switch (isa) {
        case Isa::Portable: return true;
#if defined(__x86_64__)
        // The features of VORN_TARGET_AVX2 and VORN_TARGET_AVX512, one by one.
        case Isa::Avx2: return __builtin_cpu_supports("avx2");
        case Isa::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                   __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
#else
        case Isa::Avx2:
        case Isa::Avx512: return false;
#endif
    }
    return false;
}

Isa widest() {
    static const Isa isa = runs_here(Isa::Avx512) ? Isa::Avx512 : runs_here(Isa::Avx2) ? Isa::Avx2 : Isa::Portable;
    return isa;
}

}  // namespace vorn::cpu
