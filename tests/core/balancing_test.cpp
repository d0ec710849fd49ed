// The balancing force: the fluid carries smoke between separate parts of a
// target, with mass kept to rounding and no negative cell; the force itself
// moves no smoke, and without a driving force there is none.

#include "gatherbudget.h"
#include "solver.h"
#include "targetdistance.h"
#include "test_grids.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr std::uint32_t kSide = 32;

// Two equal squares of density 1: one on the left, one on the right, with an
// empty gap of 8 cells between them.
double leftSquare(std::uint32_t i, std::uint32_t j) {
    return (i >= 4 && i < 12 && j >= 12 && j < 20) ? 1.0 : 0.0;
}
double rightSquare(std::uint32_t i, std::uint32_t j) {
    return (i >= 20 && i < 28 && j >= 12 && j < 20) ? 1.0 : 0.0;
}

Grid bothSquares() {
    return makeGrid(kSide, kSide, [](std::uint32_t i, std::uint32_t j) {
        return leftSquare(i, j) + rightSquare(i, j);
    });
}

// Smoke only on the left; the target asks for half of it on the right.
std::unique_ptr<Solver> leftToBothSolver(double vf) {
    const Grid src = makeGrid(kSide, kSide, leftSquare);
    auto s = std::make_unique<Solver>(src, bothSquares());
    s->m_vf = vf;
    s->m_vd = 30.0;
    s->m_vg = 0.15;
    s->setSigma(1.0);
    s->setTimeStep(0.001);
    s->setScheme(velloran::Scheme::Sound);
    s->setTransportMeasured(true);
    return s;
}

struct Halves {
    long double left = 0.0L;
    long double right = 0.0L;
    double lowest = 0.0;
};

Halves halvesOf(const Grid &rho) {
    Halves halves;
    halves.lowest = rho(1, 1);
    for (std::uint32_t j = 1; j <= kSide; ++j) {
        for (std::uint32_t i = 1; i <= kSide; ++i) {
            (i <= kSide / 2 ? halves.left : halves.right) += rho(i, j);
            halves.lowest = std::min(halves.lowest, rho(i, j));
        }
    }
    return halves;
}

} // namespace

// The fault the force exists for: the driving force holds smoke in the basin
// of the nearest part, and gathering is local, so without it the right square
// stays empty. With it, whole sound steps bring the right square its half,
// mostly by the fluid's own transport, while the total stays put and no cell
// goes negative. The gathering is paid for by the flow: from the start, and
// from a new target on, it never moves more than the flow has (a new target
// clears what it had saved, so its first step may spend only its per-step
// share).
TEST(Balancing, TheFluidCarriesSmokeAcrossAnEmptyGap) {
    auto s = leftToBothSolver(2.0);
    const long double total = halvesOf(*s->m_density).left;
    const double start = distanceToTarget(*s->m_density, *s->m_target);
    double advected = 0.0;
    double gathered = 0.0;
    const double firstShare =
        velloran::kGatherPerStep + velloran::kCreditSpendRate * 0.001 * velloran::kGatherBudget;
    for (int step = 1; step <= 1500; ++step) {
        if (step == 1000) {
            s->setTarget(bothSquares());
        }
        s->step();
        const velloran::TransportAmounts &moved = s->lastTransport();
        ASSERT_LE(gathered + moved.gathered,
                  velloran::kGatherBudget * (advected + moved.advected) * (1.0 + 1e-12))
            << "step " << step;
        if (step == 1000) {
            EXPECT_LE(moved.gathered, firstShare * moved.advected * (1.0 + 1e-12));
            EXPECT_GT(moved.gathered, 0.0);
        }
        ASSERT_FALSE(s->hitSubcycleCap()) << "step " << step;
        const Halves halves = halvesOf(*s->m_density);
        ASSERT_GE(halves.lowest, 0.0) << "step " << step;
        ASSERT_LE(std::fabs(static_cast<double>((halves.left + halves.right - total) / total)),
                  1e-12)
            << "step " << step;
        advected += moved.advected;
        gathered += moved.gathered;
    }
    EXPECT_EQ(s->lastSubsteps().balancing, 1);
    EXPECT_GT(static_cast<double>(halvesOf(*s->m_density).right / total), 0.4);
    EXPECT_LT(distanceToTarget(*s->m_density, *s->m_target), 0.3 * start);
    EXPECT_GT(advected, gathered);
}

// The force acts on the fluid only: the density keeps its bits, and without a
// driving force (vf 0) the velocity does too, and no balancing is reported.
TEST(Balancing, MovesOnlyTheFluidAndOnlyWithADrivingForce) {
    for (const double vf : {2.0, 0.0}) {
        auto s = leftToBothSolver(vf);
        s->applyDrivingForceAndAttenuation(); // blurs the density the force weighs with
        const Grid density = *s->m_density;
        const Grid u = *s->m_u;
        s->applyBalancingForce();
        EXPECT_TRUE(equalBits(density, *s->m_density)) << "vf " << vf;
        EXPECT_EQ(equalBits(u, *s->m_u), vf == 0.0) << "vf " << vf;
        EXPECT_EQ(s->lastSubsteps().balancing, vf == 0.0 ? 0 : 1) << "vf " << vf;
    }
}
