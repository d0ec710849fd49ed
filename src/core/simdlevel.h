#pragma once

// Which compiled flavour of the vector kernels runs. Every flavour computes
// the same values in the same order, so the choice changes speed only.

namespace velloran {

enum class SimdLevel : int { Baseline = 0, Avx2 = 1, Avx512 = 2 };

// The best level this processor supports (detected once); Baseline where the
// x86 vector flavours do not exist.
SimdLevel bestSimdLevel();
const char *simdLevelName(SimdLevel level);

} // namespace velloran
