// Step time estimated from the fastest instance of each sub-step, for the fast
// Solver (one and two threads) and its literal twin, on the benchmark's run (a
// disc of smoke gathering into a bar). On a machine shared with other work a
// whole step is rarely undisturbed, but each sub-step usually is a few times
// among the steps timed; the sum of those minimums is a steadier estimate of
// the undisturbed step than a median. Prints one row per case.
//
//   build/c/bench/velloran_substep_times

#include "bench_run.h"
#include "reference_solver.h"
#include "solver.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

// Sum over the seven sub-steps of the fastest of `steps` instances, in ms.
template <class S> double sumOfFastest(S &solver, int steps) {
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
    double sum = 0.0;
    for (const double t : fastest) {
        sum += t;
    }
    return sum;
}

} // namespace

int main() {
    std::printf("%4s %5s %11s %13s %13s %9s %9s\n", "N", "sigma", "literal ms", "fast 1t ms",
                "fast 2t ms", "ratio 1t", "ratio 2t");
    for (const std::uint32_t n : {64U, 128U, 256U, 512U}) {
        const int steps = n <= 128 ? 40 : n <= 256 ? 20 : 8;
        for (const double sigma : {1.0, 4.0}) {
            auto literal = bench::makeSolver<ReferenceSolver>(n, sigma);
            const double literalMs = sumOfFastest(*literal, steps);
            double fastMs[2] = {0.0, 0.0};
            for (int threads = 1; threads <= 2; ++threads) {
                auto fast = bench::makeSolver<Solver>(n, sigma);
                fast->setThreadCount(threads);
                fastMs[threads - 1] = sumOfFastest(*fast, 4 * steps);
            }
            std::printf("%4u %5.0f %11.3f %13.3f %13.3f %9.4f %9.4f\n", n, sigma, literalMs,
                        fastMs[0], fastMs[1], fastMs[0] / literalMs, fastMs[1] / literalMs);
            std::fflush(stdout);
        }
    }
    return 0;
}
