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
// Each case also runs its steps twice more and reports "fastest ms/step": the
// mean over the steps of each step's fastest time in the three passes. On a
// machine shared with other work that is far steadier than a whole pass (a
// disturbance rarely hits the same step in every pass), so compare schemes
// and builds by it.
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

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace {

constexpr int kSteps = 2000;
constexpr int kPasses = 3;

// Each step's fastest time over the passes, in seconds.
struct FastestSteps {
    std::vector<double> seconds = std::vector<double>(kSteps, 1e300);
    void add(int step, double t) {
        seconds[static_cast<std::size_t>(step)] =
            std::min(seconds[static_cast<std::size_t>(step)], t);
    }
    double msPerStep() const {
        double sum = 0.0;
        for (const double t : seconds) {
            sum += t;
        }
        return sum / kSteps * 1e3;
    }
};

template <class Step> double timed(Step &&step) {
    const auto t0 = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

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
    double shapeStep = -1.0;
    double shapeSeconds = 0.0;
    FastestSteps fastest;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            Solver s(source, target);
            s.m_vf = velloran::soundDefaultValue(velloran::kVf);
            s.m_vd = velloran::soundDefaultValue(velloran::kVd);
            s.m_vg = velloran::soundDefaultValue(velloran::kVg);
            s.setSigma(static_cast<double>(state.range(1)));
            s.setTimeStep(velloran::soundDefaultValue(velloran::kDt));
            s.setScheme(velloran::Scheme::Sound);
            double solverSeconds = 0.0;
            for (int k = 1; k <= kSteps; ++k) {
                const double t = timed([&] { s.step(); });
                fastest.add(k - 1, t);
                solverSeconds += t;
                if (pass == 0 && shapeStep < 0 && fidelity::distance(s) < 0.15) {
                    shapeStep = k;
                    shapeSeconds = solverSeconds;
                }
            }
            if (pass == 0) {
                state.SetIterationTime(solverSeconds);
                perStep = solverSeconds / kSteps * 1e3;
            }
        }
    }
    state.counters["fastest ms/step"] = fastest.msPerStep();
    state.counters["ms/step"] = perStep;
    state.counters["steps to 0.15"] = shapeStep;
    state.counters["s to 0.15"] = shapeSeconds;
}

void BM_Literal(benchmark::State &state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    double perStep = 0.0;
    FastestSteps fastest;
    for (auto _ : state) {
        for (int pass = 0; pass < kPasses; ++pass) {
            auto s = bench::makeSolver<Solver>(n, static_cast<double>(state.range(1)));
            double seconds = 0.0;
            for (int k = 0; k < kSteps; ++k) {
                const double t = timed([&] { s->step(); });
                fastest.add(k, t);
                seconds += t;
            }
            if (pass == 0) {
                state.SetIterationTime(seconds);
                perStep = seconds / kSteps * 1e3;
            }
        }
    }
    state.counters["fastest ms/step"] = fastest.msPerStep();
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
