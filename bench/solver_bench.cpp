// Time per Solver::step on a disc of smoke gathering into a bar, for several
// grid sizes and blur widths. Report: steps per second ("steps/s").
//
//   build/test-release/bench/velloran_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true      (one line)

#include "solver.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

Grid disc(std::uint32_t n, double cx, double cy, double r) {
    Grid g(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double dx = (i + 0.5) / n - cx;
            const double dy = (j + 0.5) / n - cy;
            g(i, j) = std::sqrt(dx * dx + dy * dy) < r ? 1.0 : 0.0;
        }
    }
    return g;
}

Grid bar(std::uint32_t n) {
    Grid g(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double x = (i + 0.5) / n;
            const double y = (j + 0.5) / n;
            g(i, j) = x > 0.3 && x < 0.45 && y > 0.2 && y < 0.8 ? 1.0 : 0.0;
        }
    }
    return g;
}

// Parameters that stay finite at every size: the time step shrinks with h.
std::unique_ptr<Solver> makeSolver(std::uint32_t n, double sigma) {
    auto solver = std::make_unique<Solver>(disc(n, 0.6, 0.55, 0.2), bar(n));
    solver->m_vf = 1.0;
    solver->m_vd = 3.0;
    solver->m_vg = 0.0;
    solver->setSigma(sigma);
    solver->setTimeStep(0.064 / n);
    return solver;
}

void BM_SolverStep(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const double sigma = static_cast<double>(state.range(1));
    auto solver = makeSolver(n, sigma);
    for (auto _ : state) {
        solver->step();
        benchmark::DoNotOptimize(solver->m_density->data());
    }
    state.counters["steps/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_SolverStep)
    ->ArgNames({"N", "sigma"})
    ->ArgsProduct({{64, 128, 256}, {1, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
