// What a checkpoint costs: its size and the time to capture, encode and write
// it (to a temporary folder, replaced whole as the renderer does), at the grid
// sizes users render. Also one EXR frame and one OpenVDB frame (half and full
// floats), for comparison with a checkpoint.
//
//   render_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true

#include "checkpointio.h"
#include "exrframe.h"
#include "runsetup.h"
#include "solverstate.h"
#include "vdbframe.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>

using namespace velloran;

namespace {

std::unique_ptr<Solver> steppedRun(std::uint32_t n) {
    Grid source(n, n);
    Grid target(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double x = (i + 0.5) / n - 0.5;
            const double y = (j + 0.5) / n - 0.5;
            source(i, j) = std::exp(-(x * x + y * y) * 40.0);
            target(i, j) = std::exp(-((x - 0.1) * (x - 0.1) + y * y) * 80.0);
        }
    }
    SimParameters p;
    p[kVf] = 0.5;
    p[kVd] = 5.0;
    p[kSigma] = 2.0;
    p[kDt] = 0.001;
    std::unique_ptr<Solver> solver = makeSolver(source, target, p);
    for (int k = 0; k < 3; ++k) {
        solver->step();
    }
    return solver;
}

Checkpoint checkpointOf(const Solver &solver, std::uint32_t n) {
    Checkpoint checkpoint;
    checkpoint.run.side = static_cast<std::int32_t>(n);
    checkpoint.run.job.steps = 1000;
    checkpoint.run.job.every = 10;
    checkpoint.step = 3;
    checkpoint.grids = captureSolverState(solver);
    return checkpoint;
}

void CheckpointWrite(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::unique_ptr<Solver> solver = steppedRun(n);
    QTemporaryDir dir;
    QString error;
    for (auto _ : state) {
        if (!saveCheckpoint(dir.path(), checkpointOf(*solver, n), &error)) {
            state.SkipWithError(error.toUtf8().constData());
            break;
        }
    }
    state.counters["bytes"] =
        static_cast<double>(encodeCheckpoint(checkpointOf(*solver, n)).size());
}
BENCHMARK(CheckpointWrite)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

void CheckpointEncode(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::unique_ptr<Solver> solver = steppedRun(n);
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeCheckpoint(checkpointOf(*solver, n)));
    }
}
BENCHMARK(CheckpointEncode)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

void ExrFrameEncode(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::unique_ptr<Solver> solver = steppedRun(n);
    QString error;
    QByteArray bytes;
    for (auto _ : state) {
        bytes = exrBytes({*solver->m_density, *solver->m_uCentre, *solver->m_vCentre},
                         SmokeColour(), &error);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(ExrFrameEncode)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();

void VdbFrameEncode(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const std::unique_ptr<Solver> solver = steppedRun(n);
    VdbSettings settings;
    settings.fullFloat = state.range(1) != 0;
    QString error;
    QByteArray bytes;
    for (auto _ : state) {
        bytes = vdbBytes({*solver->m_density, *solver->m_uCentre, *solver->m_vCentre}, settings,
                         &error);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(VdbFrameEncode)
    ->ArgNames({"n", "float"})
    ->Args({256, 0})
    ->Args({512, 0})
    ->Args({512, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
