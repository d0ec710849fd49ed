#include "reference_solver.h"

#include <gtest/gtest.h>

namespace {

// A (reference) solver only as a carrier of lambda = dt / h for limitedFlux.
struct FluxFixture : ::testing::Test {
    FluxFixture()
        : solver(Grid(1, 1), Grid(1, 1)) {}
    double flux(double lambda, double q, double qNext, double qNext2, double qPrev, double qPrev2,
                double aLow, double aHigh) {
        solver.m_dtOverH = lambda;
        return solver.limitedFlux(q, qNext, qNext2, qPrev, qPrev2, aLow, aHigh);
    }
    ReferenceSolver solver;
};

} // namespace

TEST(MinMod3, SignAgreementAndSmallestMagnitude) {
    EXPECT_EQ(ReferenceSolver::minMod3(3, 2, 4), 2);
    EXPECT_EQ(ReferenceSolver::minMod3(-3, -2, -4), -2);
    EXPECT_EQ(ReferenceSolver::minMod3(3, 0, 4), 0);
    EXPECT_EQ(ReferenceSolver::minMod3(3, -2, 4), 0);
    EXPECT_EQ(ReferenceSolver::minMod3(0, 0, 0), 0);
    EXPECT_EQ(ReferenceSolver::minMod3(-1, -5, -0.5), -0.5);
    EXPECT_EQ(ReferenceSolver::minMod3(1e-300, 2, 3), 1e-300);
}

TEST(UpwindFlux, DonorFollowsTheSpeedOnEachSide) {
    EXPECT_EQ(ReferenceSolver::upwindFlux(3, 6, 1, 1, -1), 6 * -1 - 1 * 1);
    EXPECT_EQ(ReferenceSolver::upwindFlux(3, 6, 1, 1, 1), 3 - 1);
    EXPECT_EQ(ReferenceSolver::upwindFlux(3, 6, 1, -1, -1), -6 + 3);
    EXPECT_EQ(ReferenceSolver::upwindFlux(3, 6, 1, -2, 0.5), 3 * 0.5 - 3 * -2);
    EXPECT_EQ(ReferenceSolver::upwindFlux(3, 6, 1, 0, 0), 0);
}

TEST_F(FluxFixture, WorkedValues) {
    EXPECT_EQ(flux(0.5, 3, 6, 10, 1, 0, 0, 0), 1);   // M_high 2, M_low 1
    EXPECT_EQ(flux(0.5, 3, 6, 10, 1, 0, 1, 1), 2.5); // upwind 2 + 0.5*2 - 0.5*1
    EXPECT_EQ(flux(0.5, 3, 6, 10, 1, 0, -1, -1), -2.5);
    EXPECT_EQ(flux(2, 3, 6, 10, 1, 0, 1, 1), 1);  // negative weights, not clamped
    EXPECT_EQ(flux(0.5, 0, 1, 4, 1, 4, 0, 0), 0); // minimum at the centre
}

TEST_F(FluxFixture, StraightRunAtRestHasNoFlux) {
    EXPECT_EQ(flux(0.5, 3, 5, 7, 1, -1, 0, 0), 0);
    EXPECT_EQ(flux(0.7, 2, 2, 2, 2, 2, 0, 0), 0);
}

TEST_F(FluxFixture, CorrectionWeightUsesTheSpeedMagnitudeOnEachSide) {
    // Only the high side moves: weight 1 - 0.5*2 = 0 there, 1 on the low side.
    const double upwind = ReferenceSolver::upwindFlux(3, 6, 1, 0, -2);
    EXPECT_EQ(flux(0.5, 3, 6, 10, 1, 0, 0, -2), upwind + 0 * 2 - 1 * 1);
}
