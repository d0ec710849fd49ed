// velloran_scheme_cost: what a step of each scheme costs on the run users
// watch, side by side in one process (Google Benchmark, repetitions of all
// cases interleaved at random).
//
//   SoundBlobToS/N/sigma  the sound blob-to-s example drawn at N x N (its images
//                         scaled from the bundled 128 x 128 ones) with the
//                         sound scheme's default set (sigma aside), the first
//                         2000 steps, sub-cycles included; counters: ms per
//                         step, and the step and the solver seconds at which
//                         the distance first falls below 0.15
//   Literal/N/sigma       the literal step of the core benchmark (a disc into a
//                         bar), its first 2000 steps at dt 0.064 / N
//
//   build/b/bench/fidelity/velloran_scheme_cost --benchmark_repetitions=3
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
//
// Run it from the repository root (it reads examples/).

#include "bench_run.h"
#include "distance.h"
#include "parameters.h"
#include "runsetup.h"
#include "solver.h"

#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

namespace {

constexpr int kSteps = 2000;

Grid exampleDensity(const char *path, int n) {
    QImage image(QString::fromLatin1(path));
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s (run from the repository root)\n", path);
        std::exit(2);
    }
    if (image.width() != n) {
        image = image.scaled(n, n, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return velloran::densityFromImage(image, n, n);
}

void BM_SoundBlobToS(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    const Grid source = exampleDensity("examples/blob.png", n);
    const Grid target = exampleDensity("examples/letter-s.png", n);
    double perStep = 0.0;
    double shapeStep = 0.0;
    double shapeSeconds = 0.0;
    for (auto _ : state) {
        Solver s(source, target);
        s.m_vf = velloran::soundDefaultValue(velloran::kVf);
        s.m_vd = velloran::soundDefaultValue(velloran::kVd);
        s.m_vg = velloran::soundDefaultValue(velloran::kVg);
        s.setSigma(static_cast<double>(state.range(1)));
        s.setTimeStep(velloran::soundDefaultValue(velloran::kDt));
        s.setScheme(velloran::Scheme::Sound);
        double solverSeconds = 0.0;
        shapeStep = -1.0;
        for (int k = 1; k <= kSteps; ++k) {
            const auto t0 = std::chrono::steady_clock::now();
            s.step();
            solverSeconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (shapeStep < 0 && fidelity::distance(s) < 0.15) {
                shapeStep = k;
                shapeSeconds = solverSeconds;
            }
        }
        state.SetIterationTime(solverSeconds);
        perStep = solverSeconds / kSteps * 1e3;
    }
    state.counters["ms/step"] = perStep;
    state.counters["steps to 0.15"] = shapeStep;
    state.counters["s to 0.15"] = shapeSeconds;
}

void BM_Literal(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    double perStep = 0.0;
    for (auto _ : state) {
        auto s = bench::makeSolver<Solver>(n, static_cast<double>(state.range(1)));
        const auto t0 = std::chrono::steady_clock::now();
        for (int k = 0; k < kSteps; ++k) {
            s->step();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(seconds);
        perStep = seconds / kSteps * 1e3;
    }
    state.counters["ms/step"] = perStep;
}

} // namespace

BENCHMARK(BM_SoundBlobToS)
    ->Args({128, 1})
    ->Args({256, 1})
    ->Args({256, 4})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_Literal)
    ->Args({128, 1})
    ->Args({256, 4})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
