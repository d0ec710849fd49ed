#include "solver.h"
#include "targetdistance.h"
#include "test_grids.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The renderer's distance: sum |rho - rho*| / sum rho* over the interior, to
// the target as the solver holds it (scaled to the smoke).
double distanceToTarget(const Solver &s) {
    return ::distanceToTarget(*s.m_density, *s.m_target);
}

// An "L": a vertical bar and a horizontal foot, away from the disc's centre.
Grid letterL(std::uint32_t n) {
    return makeGrid(n, n, [n](std::uint32_t i, std::uint32_t j) {
        const double x = (i + 0.5) / n;
        const double y = (j + 0.5) / n;
        const bool bar = x > 0.25 && x < 0.42 && y > 0.2 && y < 0.8;
        const bool foot = x > 0.25 && x < 0.75 && y > 0.2 && y < 0.37;
        return bar || foot ? 1.0 : 0.0;
    });
}

} // namespace

// A disc of smoke gathers into an L at 64 x 64 with vf 1, vd 3, vg 0,
// sigma 1, dt 0.001.
TEST(WholeRun, DiscGathersIntoALetter) {
    const std::uint32_t n = 64;
    Solver s(discGrid(n, 40, 38, 14), letterL(n));
    s.m_vf = 1.0;
    s.m_vd = 3.0;
    s.m_vg = 0.0;
    s.setSigma(1.0);
    s.setTimeStep(0.001);

    std::vector<double> distances{distanceToTarget(s)};
    for (int stepIndex = 1; stepIndex <= 600; ++stepIndex) {
        s.step();
        if (stepIndex % 100 == 0) {
            ASSERT_TRUE(allFinite(*s.m_density)) << "step " << stepIndex;
            ASSERT_TRUE(allFinite(*s.m_uCentre)) << "step " << stepIndex;
            distances.push_back(distanceToTarget(s));
        }
    }
    for (std::size_t k = 0; k < distances.size(); ++k) {
        RecordProperty("distance_step_" + std::to_string(100 * k), std::to_string(distances[k]));
    }
    EXPECT_GT(distances.front(), 1.2);
    EXPECT_LT(distances.back(), 0.3 * distances.front());
}

// Gathering switched on with the small coefficient and time step that keep
// a run stable: the density stays finite and still approaches the target.
TEST(WholeRun, GatheringRunStaysFiniteAndConverges) {
    const std::uint32_t n = 48;
    Solver s(discGrid(n, 30, 28, 10), letterL(n));
    s.m_vf = 40.0;
    s.m_vd = 10.0;
    s.m_vg = 0.0001;
    s.setSigma(1.0);
    s.setTimeStep(0.0001);
    const double start = distanceToTarget(s);
    for (int stepIndex = 0; stepIndex < 300; ++stepIndex) {
        s.step();
    }
    ASSERT_TRUE(allFinite(*s.m_density));
    EXPECT_LT(distanceToTarget(s), 0.8 * start);
}

// Same inputs, same bits: nothing in a step depends on uninitialised memory or
// on state outside the solver.
TEST(WholeRun, StepsAreReproducible) {
    auto run = [] {
        auto s = std::make_unique<Solver>(discGrid(24, 12, 12, 6), letterL(24));
        s->m_vf = 1.0;
        s->m_vd = 3.0;
        s->m_vg = 0.0001;
        s->setSigma(1.5);
        s->setTimeStep(0.001);
        for (int k = 0; k < 30; ++k) {
            s->step();
        }
        return s;
    };
    const auto a = run();
    const auto b = run();
    EXPECT_TRUE(equalBits(*a->m_density, *b->m_density));
    EXPECT_TRUE(equalBits(*a->m_u, *b->m_u));
    EXPECT_TRUE(equalBits(*a->m_vCentre, *b->m_vCentre));
}
