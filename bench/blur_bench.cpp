// One blur of a field with smoke everywhere (as a run's density becomes once
// the smoke has spread), fast and literal side by side:
//
//   build/bench/bench/velloran_bench --benchmark_filter=Blur --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
//
// The step benchmark's early stretch has its smoke in a disc, where the fast
// blur skips the empty rows and columns; this one shows the full-field cost.

#include "blurfilter.h"
#include "grid.h"
#include "reference_blurfilter.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

// Values between 0.01 and 1.01 in a pattern that repeats every 11 cells.
Grid spreadSmoke(std::uint32_t side) {
    Grid g(side, side);
    for (std::uint32_t j = 0; j < side; ++j) {
        for (std::uint32_t i = 0; i < side; ++i) {
            g(i, j) = ((i * 7 + j * 3) % 11) * 0.1 + 0.01;
        }
    }
    return g;
}

template <class Filter> void timeBlur(benchmark::State &state, Filter &filter) {
    const auto side = static_cast<std::uint32_t>(state.range(0));
    filter.setSigma(static_cast<double>(state.range(1)));
    const Grid src = spreadSmoke(side);
    Grid dst(side, side);
    filter.apply(src, dst); // the first call sizes the scratch
    for (auto _ : state) {
        filter.apply(src, dst);
        benchmark::DoNotOptimize(dst.data());
    }
}

void BM_BlurFast(benchmark::State &state) {
    BlurFilter filter;
    timeBlur(state, filter);
}

void BM_BlurLiteral(benchmark::State &state) {
    ReferenceBlurFilter filter;
    timeBlur(state, filter);
}

// Cell-centred grids of 128, 256 and 512 cells a side, frame included.
void blurCases(benchmark::internal::Benchmark *b) {
    b->ArgNames({"side", "sigma"});
    for (const int side : {130, 258, 514}) {
        for (const int sigma : {1, 4}) {
            b->Args({side, sigma});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_BlurFast)->Apply(blurCases);
BENCHMARK(BM_BlurLiteral)->Apply(blurCases);

} // namespace
