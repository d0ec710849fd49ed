// Time per step of the fast Solver and of its literal twin, side by side in one
// run (and of the fast solver's sound step, BM_Sound), on a disc of smoke gathering into a bar, for
// N = 64 ... 512, blur widths 1 and 4, and one or two threads for the fast solver. Each case runs a
// fixed number of steps from the same start (after a few warm-up steps), so fast and literal time
// the same stretch of the same run.
//
//   build/bench/bench/velloran_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
//   bench/ratios.sh build/bench/bench/velloran_bench 5   (the ratio tables)
//
// Besides mean, median and deviation each case reports "min", the fastest
// repetition.

#include "bench_run.h"
#include "reference_solver.h"
#include "solver.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWarmUpSteps = 5;

// Steps timed per case: enough for a stable figure, few enough that the
// literal 512 x 512 case (about a fifth of a second per step) stays short.
int timedSteps(std::uint32_t n) {
    return n <= 64 ? 200 : n <= 128 ? 100 : n <= 256 ? 30 : 10;
}

template <class S> void timeSteps(benchmark::State &state, S &solver) {
    for (int k = 0; k < kWarmUpSteps; ++k) {
        solver.step();
    }
    for (auto _ : state) {
        solver.step();
        benchmark::DoNotOptimize(solver.m_density->data());
    }
    state.counters["steps/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Fast(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    auto solver = bench::makeSolver<Solver>(n, static_cast<double>(state.range(1)));
    solver->setThreadCount(static_cast<int>(state.range(2)));
    timeSteps(state, *solver);
}

// The step as the renderer and the Python module make it: the solver also
// measures the smoke each stage moved (advected, gathered).
void BM_FastMeasured(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    auto solver = bench::makeSolver<Solver>(n, static_cast<double>(state.range(1)));
    solver->setThreadCount(static_cast<int>(state.range(2)));
    solver->setTransportMeasured(true);
    timeSteps(state, *solver);
}

void BM_Literal(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    auto solver = bench::makeSolver<ReferenceSolver>(n, static_cast<double>(state.range(1)));
    timeSteps(state, *solver);
}

// The fast solver stepping the sound scheme (implicit gathering) on the same
// run, gathering on: what a sound step costs, sub-cycles included.
void BM_Sound(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    auto solver = bench::makeSolver<Solver>(n, static_cast<double>(state.range(1)));
    solver->setScheme(velloran::Scheme::Sound);
    solver->m_vg = 0.3;
    solver->setThreadCount(static_cast<int>(state.range(2)));
    timeSteps(state, *solver);
}

// K smoke fields on one flow (sound scheme, its default parameters, two
// threads): discs at different places, each gathering into 1/K of the bar. The flow's
// stages are paid once; each field adds its blur, force, balancing, transport
// and gathering.
void BM_SoundFields(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const auto count = static_cast<int>(state.range(1));
    std::vector<Grid> sources;
    for (int k = 0; k < count; ++k) {
        sources.push_back(bench::disc(n, 0.3 + 0.1 * k, 0.55, 0.15));
    }
    // Each field gathers into its share of the bar, so that the run carries
    // as much smoke, and the flow is as strong, as with one field.
    Grid target = bench::bar(n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            target(i, j) = target(i, j) / count;
        }
    }
    std::vector<SmokeInput> smoke;
    for (const Grid &source : sources) {
        smoke.push_back(SmokeInput{&source, &target});
    }
    Solver solver(smoke);
    solver.m_vf = 2.0;
    solver.m_vd = 30.0;
    solver.m_vg = 0.3;
    solver.setSigma(1.0);
    solver.setTimeStep(0.001);
    solver.setScheme(velloran::Scheme::Sound);
    solver.setThreadCount(2);
    timeSteps(state, solver);
}
BENCHMARK(BM_SoundFields)
    ->ArgNames({"N", "fields"})
    ->Args({256, 1})
    ->Args({256, 2})
    ->Args({256, 4})
    ->Iterations(30)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A new target in the middle of a run (a keyframe cut, or each step of a
// blend): the target copied in, scaled, blurred and its driving field rebuilt.
void BM_SetTarget(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    auto solver = bench::makeSolver<Solver>(n, static_cast<double>(state.range(1)));
    const Grid first = bench::bar(n);
    const Grid second = bench::disc(n, 0.3, 0.4, 0.15);
    bool flip = false;
    for (auto _ : state) {
        solver->setTarget(flip ? first : second);
        flip = !flip;
        benchmark::DoNotOptimize(solver->m_driveU->data());
    }
}
BENCHMARK(BM_SetTarget)
    ->ArgNames({"N", "sigma"})
    ->Args({128, 1})
    ->Args({256, 1})
    ->Args({256, 4})
    ->Args({512, 1})
    ->Unit(benchmark::kMillisecond);

// The fastest repetition: on a machine shared with other work, the one least
// disturbed by it.
double minimum(const std::vector<double> &values) {
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

// One step case timed in wall time over a fixed number of steps, with the
// fastest repetition reported beside the median.
void registerStepCase(const char *name, void (*body)(benchmark::State &),
                      const std::vector<std::string> &argNames,
                      const std::vector<std::int64_t> &args, int steps) {
    benchmark::RegisterBenchmark(name, body)
        ->ArgNames(argNames)
        ->Args(args)
        ->Iterations(steps)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", minimum);
}

// Google Benchmark keeps one iteration count per registration, so every grid
// size is registered on its own.
void registerCases() {
    for (const int n : {64, 128, 256, 512}) {
        const int steps = timedSteps(static_cast<std::uint32_t>(n));
        for (const int sigma : {1, 4}) {
            for (const int threads : {1, 2}) {
                registerStepCase("BM_Fast", BM_Fast, {"N", "sigma", "threads"}, {n, sigma, threads},
                                 steps);
                registerStepCase("BM_FastMeasured", BM_FastMeasured, {"N", "sigma", "threads"},
                                 {n, sigma, threads}, steps);
                registerStepCase("BM_Sound", BM_Sound, {"N", "sigma", "threads"},
                                 {n, sigma, threads}, steps);
            }
            registerStepCase("BM_Literal", BM_Literal, {"N", "sigma"}, {n, sigma}, steps);
        }
    }
}

const bool kRegistered = (registerCases(), true);

} // namespace
