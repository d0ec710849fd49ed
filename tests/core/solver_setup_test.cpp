#include "solver.h"
#include "test_grids.h"

#include <gtest/gtest.h>

namespace {

void expectShape(const Grid &g, std::uint32_t rows, std::uint32_t cols) {
    EXPECT_EQ(g.NumRows(), rows);
    EXPECT_EQ(g.NumCols(), cols);
}

double interiorSum(const Grid &g) {
    double sum = 0.0;
    for (std::uint32_t i = 1; i + 1 < g.NumCols(); ++i) {
        for (std::uint32_t j = 1; j + 1 < g.NumRows(); ++j) {
            sum += g(i, j);
        }
    }
    return sum;
}

} // namespace

TEST(SolverSetup, ShapesAndCellSizeForOneCell) {
    Solver s(uniformGrid(1, 0.5), uniformGrid(1, 0.5));
    for (const Grid *g : {s.m_density.get(), s.m_target.get(), s.m_blurDensity.get(),
                          s.m_blurTarget.get(), s.m_densityDiff.get(), s.m_densityTmp.get(),
                          s.m_pressure.get(), s.m_uCentre.get(), s.m_vCentre.get()}) {
        expectShape(*g, 3, 3);
    }
    for (const Grid *g : {s.m_u.get(), s.m_driveU.get(), s.m_uTmp.get()}) {
        expectShape(*g, 3, 4);
    }
    for (const Grid *g : {s.m_v.get(), s.m_driveV.get(), s.m_vTmp.get()}) {
        expectShape(*g, 4, 3);
    }
    EXPECT_EQ(s.m_h, 1.0);
    EXPECT_EQ(s.m_twoH, 2.0);
    EXPECT_EQ(s.m_blur->radius(), 0);
    EXPECT_TRUE(s.m_blur->kernel().empty());
}

TEST(SolverSetup, DerivedStepValues) {
    Solver s(Grid(64, 64), Grid(64, 64));
    EXPECT_EQ(s.m_h, 0.015625);
    EXPECT_EQ(s.m_twoH, 0.03125);
    s.setTimeStep(0.001);
    EXPECT_EQ(s.m_dt, 0.001);
    EXPECT_EQ(s.m_dtOverH, 0.064);
}

TEST(SolverSetup, InputsLandInTheInteriorAndEverythingElseIsZero) {
    const Grid src =
        makeGrid(5, 5, [](std::uint32_t i, std::uint32_t j) { return 0.01 * (i + 5 * j + 1); });
    Solver s(src, src);
    for (std::uint32_t i = 0; i < 7; ++i) {
        for (std::uint32_t j = 0; j < 7; ++j) {
            const bool frame = i == 0 || j == 0 || i == 6 || j == 6;
            const double expected = frame ? 0.0 : src(i - 1, j - 1);
            // Equal sums: the density is scaled by S / S, which may round.
            EXPECT_DOUBLE_EQ((*s.m_density)(i, j), expected);
            EXPECT_EQ((*s.m_target)(i, j), expected);
        }
    }
    for (const Grid *g :
         {s.m_blurDensity.get(), s.m_blurTarget.get(), s.m_densityDiff.get(), s.m_densityTmp.get(),
          s.m_pressure.get(), s.m_u.get(), s.m_v.get(), s.m_driveU.get(), s.m_driveV.get(),
          s.m_uTmp.get(), s.m_vTmp.get(), s.m_uCentre.get(), s.m_vCentre.get()}) {
        EXPECT_EQ(maxAbs(*g), 0.0);
    }
}

TEST(SolverSetup, MassEqualisationScalesTheHeavierDown) {
    // Source sum 2, target sum 4: the target is halved.
    const Grid two =
        makeGrid(2, 2, [](std::uint32_t i, std::uint32_t) { return i == 0 ? 0.5 : 0.5; });
    const Grid four =
        makeGrid(2, 2, [](std::uint32_t i, std::uint32_t j) { return i + j == 0 ? 1.6 : 0.8; });
    {
        Solver s(two, four);
        EXPECT_EQ((*s.m_target)(1, 1), 1.6 * 2.0 / 4.0);
        EXPECT_EQ((*s.m_target)(2, 2), 0.8 * 2.0 / 4.0);
        EXPECT_EQ((*s.m_density)(1, 1), 0.5);
        EXPECT_DOUBLE_EQ(interiorSum(*s.m_target), 2.0);
    }
    {
        Solver s(four, two);
        EXPECT_EQ((*s.m_density)(1, 1), 1.6 * 2.0 / 4.0);
        EXPECT_EQ((*s.m_target)(1, 1), 0.5);
    }
}

TEST(SolverSetup, BlackSourceEmptiesTheTargetAndAllBlackStaysZero) {
    Solver s(Grid(4, 4), uniformGrid(4, 0.3));
    EXPECT_EQ(maxAbs(*s.m_target), 0.0);

    Solver black(Grid(4, 4), Grid(4, 4));
    EXPECT_TRUE(allFinite(*black.m_density));
    EXPECT_TRUE(allFinite(*black.m_target));
    EXPECT_EQ(maxAbs(*black.m_density), 0.0);
    black.setSigma(1.0);
    black.setTimeStep(0.001);
    black.m_vf = 1;
    black.m_vd = 3;
    black.m_vg = 0.0001;
    for (int k = 0; k < 5; ++k) {
        black.step();
    }
    EXPECT_TRUE(allFinite(*black.m_density));
    EXPECT_TRUE(allFinite(*black.m_u));
}

TEST(SolverSetup, DriveFieldIsTheNormalisedTargetGradient) {
    const Grid target =
        makeGrid(6, 6, [](std::uint32_t i, std::uint32_t j) { return 0.1 * i + 0.05 * j * j; });
    Solver s(target, target);
    s.setSigma(0.7);
    const Grid &b = *s.m_blurTarget;
    const double h = s.m_h;
    for (std::uint32_t i = 1; i <= 7; ++i) {
        for (std::uint32_t j = 1; j <= 6; ++j) {
            EXPECT_EQ((*s.m_driveU)(i, j),
                      ((b(i, j) - b(i - 1, j)) / h) / (0.5 * (b(i, j) + b(i - 1, j))));
        }
    }
    for (std::uint32_t i = 1; i <= 6; ++i) {
        for (std::uint32_t j = 1; j <= 7; ++j) {
            EXPECT_EQ((*s.m_driveV)(i, j),
                      ((b(i, j) - b(i, j - 1)) / h) / (0.5 * (b(i, j) + b(i, j - 1))));
        }
    }
    // Frames are never written.
    for (std::uint32_t j = 0; j < 8; ++j) {
        EXPECT_EQ((*s.m_driveU)(0, j), 0.0);
        EXPECT_EQ((*s.m_driveU)(8, j), 0.0);
    }
    EXPECT_EQ((*s.m_driveU)(3, 0), 0.0);
    EXPECT_EQ((*s.m_driveV)(3, 8), 0.0);
}

TEST(SolverSetup, UniformTargetDrivesInwardsFromEveryWall) {
    Solver s(uniformGrid(20, 0.5), uniformGrid(20, 0.5));
    s.setSigma(2.0);
    const Grid &du = *s.m_driveU;
    const Grid &dv = *s.m_driveV;
    EXPECT_TRUE(allFinite(du));
    EXPECT_TRUE(allFinite(dv));
    for (std::uint32_t k = 1; k <= 20; ++k) {
        EXPECT_GT(du(1, k), 0.0);  // next to the left wall
        EXPECT_LT(du(21, k), 0.0); // next to the right wall
        EXPECT_GT(dv(k, 1), 0.0);  // lower wall
        EXPECT_LT(dv(k, 21), 0.0); // upper wall
    }
}

using SolverDeathTest = ::testing::Test;

TEST_F(SolverDeathTest, BadInputGridsEndTheProgramWithTheCondition) {
    EXPECT_DEATH(Solver(Grid(0, 0), Grid(0, 0)), "solver\\.cpp.*side > 0");
    EXPECT_DEATH(Solver(Grid(64, 63), Grid(64, 63)), "grid->NumCols\\(\\) == side");
    EXPECT_DEATH(Solver(Grid(64, 64), Grid(32, 32)), "grid->NumRows\\(\\) == side");
    EXPECT_DEATH(Solver(Grid(8, 8), Grid(8, 9)), "grid->NumCols\\(\\) == side");
    // Several fields: 1..8 of them, every grid of the same side.
    const Grid a(8, 8);
    const Grid b(9, 9);
    EXPECT_DEATH(Solver(std::vector<SmokeInput>{}), "!smoke\\.empty\\(\\)");
    EXPECT_DEATH(Solver(std::vector<SmokeInput>(9, SmokeInput{&a, &a})), "smoke\\.size\\(\\) <=");
    EXPECT_DEATH(Solver(std::vector<SmokeInput>{{&a, &a}, {&a, &b}}),
                 "grid->NumRows\\(\\) == side");
}

TEST_F(SolverDeathTest, NonPositiveSigmaEndsTheProgram) {
    Solver s(Grid(4, 4), Grid(4, 4));
    EXPECT_DEATH(s.setSigma(0.0), "sigma > 0\\.0");
}
