#pragma once

// Runs a lane kernel in the compiled flavour a SimdLevel names.
//
// A kernel is a struct with a static template `run<W>(args...)`, always
// inlined, and a flag kWide; LaneDispatch<Kernel>::run(level, args...) calls
// it from a function built for the matching instruction set: W = 2 (SSE2,
// every x86-64), 4 (AVX2) or 8 (AVX-512, only for kernels with kWide set: the
// others measured no faster with 8 lanes and run their AVX2 form there).
// Neither target enables fused multiply-add, so every flavour gives the same
// bits.
// Internal to the core.

#include "lanes.h"

namespace velloran::kernels {

template <class Kernel> struct LaneDispatch {
    template <class... Args> static void run(SimdLevel level, const Args &...args) {
#if defined(__x86_64__)
        // Never run a flavour the processor lacks, whatever was asked for.
        if (static_cast<int>(level) > static_cast<int>(bestSimdLevel())) {
            level = bestSimdLevel();
        }
        if (level == SimdLevel::Avx512 && Kernel::kWide) {
            avx512(args...);
            return;
        }
        if (level != SimdLevel::Baseline) {
            avx2(args...);
            return;
        }
#else
        (void)level;
#endif
        Kernel::template run<2>(args...);
    }

private:
#if defined(__x86_64__)
    template <class... Args>
    __attribute__((target("avx2,no-fma"))) static void avx2(const Args &...args) {
        Kernel::template run<4>(args...);
    }
    template <class... Args>
    __attribute__((target("avx512f,avx512dq,no-fma"))) static void avx512(const Args &...args) {
        Kernel::template run<8>(args...);
    }
#endif
};

} // namespace velloran::kernels
