// What a followed run adds to each step besides the solver's own work
// (BM_FastMeasured in solver_bench.cpp): the metrics measured after it. Same
// run as the step benchmarks, after a few steps.
//
//   build/rel/bench/velloran_bench --benchmark_filter='BM_Measure|BM_Fast.*/sigma:4/threads:2'

#include "bench_run.h"
#include "solver.h"
#include "stepmetrics.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

void BM_Measure(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const auto solver = bench::makeSolver<Solver>(n, 4.0);
    solver->setTransportMeasured(true);
    for (int k = 0; k < 5; ++k) {
        solver->step();
    }
    for (auto _ : state) {
        const velloran::StepMetrics metrics = velloran::measure(*solver, 6, 0.0);
        benchmark::DoNotOptimize(metrics.distance);
    }
}
BENCHMARK(BM_Measure)->ArgName("N")->Arg(128)->Arg(256)->Arg(512)->Unit(benchmark::kMicrosecond);

} // namespace
