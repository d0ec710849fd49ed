// The per-step measures and the one finite check every driver of a run uses.

#include "metricshistory.h"
#include "solver.h"
#include "stepmetrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

using namespace velloran;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A 2 x 2 run (4 x 4 grids with their frame).
std::unique_ptr<Solver> smallSolver(const Grid &src, const Grid &tgt) {
    auto solver = std::make_unique<Solver>(src, tgt);
    solver->setSigma(1.0);
    solver->setTimeStep(0.001);
    return solver;
}

} // namespace

TEST(Metrics, DistanceMassAndSpeedOverTheInterior) {
    Grid src(2, 2);
    Grid tgt(2, 2);
    src(0, 0) = 1.0; // total 1.0
    tgt(1, 1) = 0.5; // total 0.5: the density is scaled to 0.5
    tgt(0, 1) = 0.5; // now 1.0
    auto solver = smallSolver(src, tgt);
    // Frame entries must not count.
    (*solver->m_density)(0, 0) = 100.0;
    (*solver->m_target)(3, 3) = 100.0;
    (*solver->m_uCentre)(1, 2) = 3.0;
    (*solver->m_vCentre)(1, 2) = -4.0;
    (*solver->m_uCentre)(0, 1) = 1000.0;

    const StepMetrics m = measure(*solver, 7, 1.5);
    EXPECT_EQ(m.step, 7);
    EXPECT_EQ(m.mass, 1.0);
    // rho = 1 at (1,1); rho* = 0.5 at (2,2) and (1,2): |1| + 0.5 + 0.5 = 2 over 1.
    EXPECT_EQ(m.distance, 2.0);
    EXPECT_EQ(m.maxSpeed, 5.0);
    EXPECT_EQ(m.seconds, 1.5);
    EXPECT_TRUE(m.finite);
    EXPECT_EQ(m.substeps, 3);                        // a literal step: one sub-cycle of each kind
    EXPECT_EQ(measure(*solver, 0, 0.0).substeps, 0); // before the first step

    (*solver->m_density)(2, 1) = kInf;
    EXPECT_FALSE(measure(*solver, 9, 0).finite);
}

// The sums keep their one order (rows from the bottom, each left to right) to
// the bit, and the largest speed is found wherever it lies in a row: values
// of widely different magnitudes, so that any other order would round
// differently, on 13 cells a row (lanes and a tail).
TEST(Metrics, SameBitsAsThePlainLoops) {
    const std::uint32_t n = 13;
    Grid src(n, n);
    src(3, 4) = 1.0;
    auto solver = smallSolver(src, src);
    std::mt19937_64 random(27);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    Grid *const grids[] = {solver->m_density.get(), solver->m_target.get(), solver->m_uCentre.get(),
                           solver->m_vCentre.get()};
    for (int trial = 0; trial < 20; ++trial) {
        for (Grid *grid : grids) {
            for (std::uint32_t j = 0; j < n + 2; ++j) {
                for (std::uint32_t i = 0; i < n + 2; ++i) {
                    (*grid)(i, j) = unit(random) * std::ldexp(1.0, exponent(random));
                }
            }
        }
        double difference = 0.0;
        double targetSum = 0.0;
        double mass = 0.0;
        double speedSquared = 0.0;
        const Grid &rho = *solver->m_density;
        const Grid &goal = *solver->m_target;
        const Grid &u = *solver->m_uCentre;
        const Grid &v = *solver->m_vCentre;
        for (std::uint32_t j = 1; j <= n; ++j) {
            for (std::uint32_t i = 1; i <= n; ++i) {
                difference += std::fabs(rho(i, j) - goal(i, j));
                targetSum += goal(i, j);
                mass += rho(i, j);
                speedSquared = std::max(speedSquared, u(i, j) * u(i, j) + v(i, j) * v(i, j));
            }
        }
        const StepMetrics m = measure(*solver, 1, 0.0);
        EXPECT_EQ(m.mass, mass);
        EXPECT_EQ(m.distance, targetSum > 0.0 ? difference / targetSum : difference);
        EXPECT_EQ(m.maxSpeed, std::sqrt(speedSquared));
    }
}

TEST(Metrics, EmptyTargetGivesNoNaN) {
    Grid src(2, 2);
    Grid tgt(2, 2);
    src(0, 0) = 1.0;
    const auto solver = smallSolver(src, tgt);
    const StepMetrics m = measure(*solver, 0, 0);
    EXPECT_TRUE(m.finite);
    EXPECT_EQ(m.distance, 0.0); // the density was scaled to nothing as well
}

TEST(StateFinite, FindsEveryNonFiniteValueWhereverItIs) {
    // A 3 x 3 run: 25 values a grid, frame included, so that some fall in
    // the tail after the check's blocks of eight.
    Grid src(3, 3);
    src(1, 1) = 1.0;
    const auto solver = smallSolver(src, src);
    ASSERT_TRUE(stateFinite(*solver));
    Grid *const grids[] = {solver->m_density.get(), solver->m_uCentre.get(),
                           solver->m_vCentre.get()};
    for (Grid *grid : grids) {
        for (double bad : {kInf, -kInf, kNaN, -kNaN}) {
            for (std::uint32_t k = 0; k < 25; ++k) {
                const double kept = (*grid)(k % 5, k / 5);
                (*grid)(k % 5, k / 5) = bad;
                EXPECT_FALSE(stateFinite(*solver)) << bad << " at " << k;
                (*grid)(k % 5, k / 5) = kept;
            }
        }
    }
    // The extremes of the finite doubles pass.
    (*solver->m_uCentre)(0, 0) = std::numeric_limits<double>::max();
    (*solver->m_uCentre)(1, 0) = -std::numeric_limits<double>::max();
    (*solver->m_vCentre)(2, 0) = std::numeric_limits<double>::denorm_min();
    (*solver->m_density)(4, 4) = -0.0;
    EXPECT_TRUE(stateFinite(*solver));
}

TEST(Metrics, HistoryStaysBoundedAndKeepsFirstBestLatest) {
    MetricsHistory history;
    const int steps = 3 * static_cast<int>(MetricsHistory::kMaxPoints) + 7;
    for (int step = 0; step <= steps; ++step) {
        StepMetrics m;
        m.step = step;
        m.distance = step == 12345 ? 0.01 : 1.0 + step;
        if (step == 20000) {
            m.distance = kNaN;
        }
        history.add(m);
    }
    const std::vector<StepMetrics> curve = history.curve();
    EXPECT_LE(curve.size(), MetricsHistory::kMaxPoints + 1);
    EXPECT_GT(curve.size(), MetricsHistory::kMaxPoints / 2);
    EXPECT_EQ(curve.front().step, 0);
    EXPECT_EQ(curve.back().step, steps);
    for (std::size_t k = 1; k < curve.size(); ++k) {
        EXPECT_LT(curve[k - 1].step, curve[k].step);
    }
    EXPECT_EQ(history.first().step, 0);
    EXPECT_EQ(history.latest().step, steps);
    EXPECT_EQ(history.best().step, 12345);
}
