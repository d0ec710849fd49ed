// The pressure solve of a run without obstacles (the cosine transform) beside
// the one of a run with obstacles (the sparse LDL^T, factorised once per
// mask), at N = 256 and 512, side by side in one run:
//
//   build/rel/bench/velloran_bench --benchmark_filter='Solve|Factorise'
//       --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//
// Masks: a wall across the middle with a gap of an eighth, a solid disc a
// third of the domain wide, and a stencil of ten bars. BM_SoundStepObstacles
// times whole steps with each.

#include "bench_run.h"
#include "lattice.h"
#include "neumannpoisson.h"
#include "obstaclemap.h"
#include "obstaclepoisson.h"
#include "solver.h"
#include "workerpool.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

Grid mask(std::uint32_t n, int shape) {
    Grid solid(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double x = (i + 0.5) / n;
            const double y = (j + 0.5) / n;
            bool inside = false;
            if (shape == 0) {
                inside = std::fabs(x - 0.5) < 1.5 / n && std::fabs(y - 0.5) > 1.0 / 16;
            } else if (shape == 1) {
                inside = (x - 0.5) * (x - 0.5) + (y - 0.5) * (y - 0.5) < 1.0 / 36;
            } else {
                inside = std::fabs(y - 0.5) < 0.2 && std::fmod(x * 10.0, 1.0) < 0.3;
            }
            solid(i, j) = inside ? 1.0 : 0.0;
        }
    }
    return solid;
}

std::vector<double> randomRhs(std::uint32_t n) {
    std::mt19937_64 rng(n);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> r(static_cast<std::size_t>(n) * n);
    for (double &value : r) {
        value = unit(rng);
    }
    return r;
}

void BM_CosineSolve(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    velloran::WorkerPool pool(threads);
    velloran::NeumannPoisson poisson(static_cast<int>(n), threads);
    const std::vector<double> r = randomRhs(n);
    std::vector<double> p(r.size());
    for (auto _ : state) {
        poisson.solve(r.data(), p.data(), threads > 1 ? &pool : nullptr);
        benchmark::DoNotOptimize(p.data());
    }
}
BENCHMARK(BM_CosineSolve)
    ->ArgNames({"N", "threads"})
    ->Args({256, 1})
    ->Args({256, 2})
    ->Args({512, 1})
    ->Args({512, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ObstacleSolve(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const velloran::ObstacleMap obstacles(velloran::Lattice(n),
                                          mask(n, static_cast<int>(state.range(1))));
    velloran::ObstaclePoisson poisson(obstacles);
    const std::vector<double> r = randomRhs(n);
    std::vector<double> p(r.size());
    for (auto _ : state) {
        poisson.solve(r.data(), p.data());
        benchmark::DoNotOptimize(p.data());
    }
}
BENCHMARK(BM_ObstacleSolve)
    ->ArgNames({"N", "mask"})
    ->ArgsProduct({{256, 512}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ObstacleFactorise(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const velloran::ObstacleMap obstacles(velloran::Lattice(n), mask(n, 0));
    for (auto _ : state) {
        velloran::ObstaclePoisson poisson(obstacles);
        benchmark::DoNotOptimize(&poisson);
    }
}
BENCHMARK(BM_ObstacleFactorise)
    ->ArgNames({"N"})
    ->Arg(256)
    ->Arg(512)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A whole sound step (two threads) of the benchmark run, without obstacles
// (mask -1) and with each mask: the projection and the balancing potential
// are then solved on the open cells.
void BM_SoundStepObstacles(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const int shape = static_cast<int>(state.range(1));
    auto solver = bench::makeSolver<Solver>(n, 1.0);
    solver->setScheme(velloran::Scheme::Sound);
    if (shape >= 0) {
        solver->setObstacles(mask(n, shape));
    }
    solver->m_vg = 0.3;
    solver->setThreadCount(2);
    for (int k = 0; k < 5; ++k) {
        solver->step();
    }
    for (auto _ : state) {
        solver->step();
        benchmark::DoNotOptimize(solver->m_density->data());
    }
}
BENCHMARK(BM_SoundStepObstacles)
    ->ArgNames({"N", "mask"})
    ->ArgsProduct({{256, 512}, {-1, 0, 1, 2}})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
