// Step time estimated from the fastest instance of each sub-step, for the fast
// Solver (one and two threads) and its literal twin, on the benchmark's run (a
// disc of smoke gathering into a bar). On a machine shared with other work a
// whole step is rarely undisturbed, but each sub-step usually is a few times
// among the steps timed; the sum of those minimums is a steadier estimate of
// the undisturbed step than a median. Prints one row per case; with
// --substeps, also the fastest instance of each sub-step of the fast solver.
//
//   build/bench/bench/velloran_substep_times [--substeps]

#include "bench_run.h"
#include "reference_solver.h"
#include "solver.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace {

// The sub-steps in the order sumOfFastest times them.
constexpr std::array<const char *, 7> kSubStepNames = {
    "force", "attenuate", "advectVelocity", "project", "advectDensity", "gather", "centre"};

// Sum over the seven sub-steps of the fastest of `steps` instances, in ms;
// each, if given, receives the seven fastest instances.
template <class S>
double sumOfFastest(S &solver, int steps, std::array<double, 7> *each = nullptr) {
    constexpr int kWarmUp = 5;
    for (int k = 0; k < kWarmUp; ++k) {
        solver.step();
    }
    const std::array<void (S::*)(), 7> subSteps = {
        &S::applyDrivingForce, &S::attenuateMomentum, &S::advectVelocity, &S::project,
        &S::advectDensity,     &S::gatherSmoke,       &S::centreVelocity};
    std::array<double, 7> fastest;
    fastest.fill(1e300);
    for (int k = 0; k < steps; ++k) {
        for (std::size_t s = 0; s < subSteps.size(); ++s) {
            const auto start = std::chrono::steady_clock::now();
            (solver.*subSteps[s])();
            const auto end = std::chrono::steady_clock::now();
            fastest[s] = std::min(fastest[s],
                                  std::chrono::duration<double, std::milli>(end - start).count());
        }
    }
    if (each != nullptr) {
        *each = fastest;
    }
    double sum = 0.0;
    for (const double t : fastest) {
        sum += t;
    }
    return sum;
}

} // namespace

int main(int argc, char **argv) {
    const bool substeps = argc > 1 && std::string(argv[1]) == "--substeps";
    std::printf("%4s %5s %11s %13s %13s %9s %9s\n", "N", "sigma", "literal ms", "fast 1t ms",
                "fast 2t ms", "ratio 1t", "ratio 2t");
    for (const std::uint32_t n : {64U, 128U, 256U, 512U}) {
        const int steps = n <= 128 ? 40 : n <= 256 ? 20 : 8;
        for (const double sigma : {1.0, 4.0}) {
            auto literal = bench::makeSolver<ReferenceSolver>(n, sigma);
            const double literalMs = sumOfFastest(*literal, steps);
            double fastMs[2] = {0.0, 0.0};
            std::array<double, 7> each[2];
            for (int threads = 1; threads <= 2; ++threads) {
                auto fast = bench::makeSolver<Solver>(n, sigma);
                fast->setThreadCount(threads);
                fastMs[threads - 1] = sumOfFastest(*fast, 4 * steps, &each[threads - 1]);
            }
            std::printf("%4u %5.0f %11.3f %13.3f %13.3f %9.4f %9.4f\n", n, sigma, literalMs,
                        fastMs[0], fastMs[1], fastMs[0] / literalMs, fastMs[1] / literalMs);
            if (substeps) {
                for (std::size_t k = 0; k < kSubStepNames.size(); ++k) {
                    std::printf("%12s %17s %13.3f %13.3f\n", "", kSubStepNames[k], each[0][k],
                                each[1][k]);
                }
            }
            std::fflush(stdout);
        }
    }
    return 0;
}
