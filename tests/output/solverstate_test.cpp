#include "solverstate.h"

#include "runsetup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace velloran;

namespace {

constexpr std::uint32_t kN = 24;

Grid blob(double cx, double cy, double radius) {
    Grid grid(kN, kN);
    for (std::uint32_t j = 0; j < kN; ++j) {
        for (std::uint32_t i = 0; i < kN; ++i) {
            const double dx = i + 0.5 - cx * kN;
            const double dy = j + 0.5 - cy * kN;
            grid(i, j) = std::exp(-(dx * dx + dy * dy) / (radius * radius));
        }
    }
    return grid;
}

std::unique_ptr<Solver> makeRun(int threads) {
    SimParameters p;
    p[kVf] = 2.0;
    p[kVd] = 3.0;
    p[kVg] = 0.0001;
    p[kSigma] = 1.5;
    p[kDt] = 0.001;
    std::unique_ptr<Solver> solver = makeSolver(blob(0.3, 0.4, 4), blob(0.6, 0.6, 3), p);
    solver->setThreadCount(threads);
    solver->setParallelSide(8); // share the rows even at this size
    return solver;
}

bool sameBits(const Grid &a, const Grid &b) {
    return a.NumRows() == b.NumRows() && a.NumCols() == b.NumCols() &&
           std::memcmp(a.data(), b.data(), sizeof(double) * a.NumRows() * a.NumCols()) == 0;
}

} // namespace

// A solver restored from a capture continues exactly as the captured one,
// whatever its own scratch grids held and whatever its thread count.
TEST(SolverState, RestoredRunContinuesBitForBit) {
    std::unique_ptr<Solver> straight = makeRun(1);
    for (int k = 0; k < 40; ++k) {
        straight->step();
    }
    const std::vector<CheckpointGrid> state = captureSolverState(*straight);

    std::unique_ptr<Solver> resumed = makeRun(2);
    for (int k = 0; k < 7; ++k) {
        resumed->step(); // leaves other values in every scratch grid
    }
    QString error;
    ASSERT_TRUE(restoreSolverState(state, *resumed, &error)) << error.toStdString();
    for (int k = 0; k < 40; ++k) {
        straight->step();
        resumed->step();
    }
    EXPECT_TRUE(sameBits(*straight->m_density, *resumed->m_density));
    EXPECT_TRUE(sameBits(*straight->m_u, *resumed->m_u));
    EXPECT_TRUE(sameBits(*straight->m_v, *resumed->m_v));
    EXPECT_TRUE(sameBits(*straight->m_uCentre, *resumed->m_uCentre));
    EXPECT_TRUE(sameBits(*straight->m_vCentre, *resumed->m_vCentre));
}

TEST(SolverState, MissingOrMisshapenGridsLeaveTheSolverAlone) {
    std::unique_ptr<Solver> source = makeRun(1);
    source->step();
    std::vector<CheckpointGrid> state = captureSolverState(*source);
    std::unique_ptr<Solver> solver = makeRun(1);
    const Grid before = *solver->m_density;
    QString error;

    std::vector<CheckpointGrid> lacking(state.begin(), state.end() - 1);
    EXPECT_FALSE(restoreSolverState(lacking, *solver, &error));
    EXPECT_EQ(error, "the checkpoint lacks the grid 'pressure'");
    EXPECT_TRUE(sameBits(*solver->m_density, before));

    state.back().grid = Grid(kN + 3, kN + 2);
    EXPECT_FALSE(restoreSolverState(state, *solver, &error));
    EXPECT_EQ(error, "the checkpoint's grid 'pressure' is 27 x 26, the run needs 26 x 26");
    EXPECT_TRUE(sameBits(*solver->m_density, before));

    // Another number of smoke fields, either way round: a colour run's grids
    // would otherwise be dropped, or missing ones named one by one.
    const Grid a = blob(0.3, 0.4, 4);
    const Grid b = blob(0.6, 0.6, 3);
    const std::unique_ptr<Solver> colour = makeSolver({{&a, &b}, {&b, &a}}, SimParameters());
    state = captureSolverState(*source);
    EXPECT_FALSE(restoreSolverState(state, *colour, &error));
    EXPECT_EQ(error, "the checkpoint holds 1 smoke field(s), the run has 2");
    EXPECT_FALSE(restoreSolverState(captureSolverState(*colour), *solver, &error));
    EXPECT_EQ(error, "the checkpoint holds 2 smoke field(s), the run has 1");
    EXPECT_TRUE(sameBits(*solver->m_density, before));
}
