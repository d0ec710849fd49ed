// What the worker adds to each step, against the step itself, at 128 x 128 on
// the bundled blob-to-s run (after 300 steps, smoke in motion): the run's
// finite check (every driver, every step), the copy of the shown state, the
// distance to the target (computed only for frames shown), and the run's
// metrics of a step (computed every step while somebody follows the run).
// Not a test: run by hand,
//   build/tests/sim/framecost_bench --benchmark_repetitions=15
//       --benchmark_report_aggregates_only=true     (one line)

#include "runsetup.h"
#include "solver.h"
#include "stepmetrics.h"
#include "targetdistance.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

std::unique_ptr<Solver> blobToS() {
    velloran::RunDensities densities;
    const QString examples = QStringLiteral(VELLORAN_EXAMPLES);
    velloran::prepareRun(examples + "/blob.png", examples + "/letter-s.png", false, &densities);
    velloran::SimParameters parameters;
    const double values[] = {0.5, 5.0, 0.0, 2.2, 0.001};
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        parameters[k] = values[k];
    }
    auto solver = velloran::makeSolver(densities.srcDensity, densities.tgtDensity, parameters);
    for (int k = 0; k < 300; ++k) {
        solver->step();
    }
    return solver;
}

Solver &run() {
    static std::unique_ptr<Solver> solver = blobToS();
    return *solver;
}

void plainCopy(const Grid &from, Grid &to) {
    std::memcpy(to.data(), from.data(), sizeof(double) * from.NumRows() * from.NumCols());
}

void BM_Step(benchmark::State &state) {
    Solver &solver = run();
    for (auto _ : state) {
        solver.step();
    }
}

void BM_StateFinite(benchmark::State &state) {
    Solver &solver = run();
    for (auto _ : state) {
        benchmark::DoNotOptimize(velloran::stateFinite(solver));
    }
}

void BM_CopyOnly(benchmark::State &state) {
    Solver &solver = run();
    Grid d = *solver.m_density, u = *solver.m_uCentre, v = *solver.m_vCentre;
    for (auto _ : state) {
        plainCopy(*solver.m_density, d);
        plainCopy(*solver.m_uCentre, u);
        plainCopy(*solver.m_vCentre, v);
        benchmark::ClobberMemory();
    }
}

void BM_Distance(benchmark::State &state) {
    Solver &solver = run();
    for (auto _ : state) {
        benchmark::DoNotOptimize(distanceToTarget(*solver.m_density, *solver.m_target));
    }
}

void BM_Metrics(benchmark::State &state) {
    Solver &solver = run();
    for (auto _ : state) {
        benchmark::DoNotOptimize(velloran::measure(solver, 300, 0.0));
    }
}

} // namespace

BENCHMARK(BM_Step)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StateFinite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Distance)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Metrics)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
