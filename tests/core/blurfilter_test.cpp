#include "blurfilter.h"
#include "test_grids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

namespace {

double kernelSum(const BlurFilter &blur) {
    return std::accumulate(blur.kernel().begin(), blur.kernel().end(), 0.0);
}

} // namespace

TEST(BlurKernel, RadiusAndWeightsForSeveralWidths) {
    struct Case {
        double sigma;
        int radius;
        double centre;
    };
    for (const Case &c :
         {Case{1.0, 40, 0.3989422804}, Case{0.5, 20, 0.7978845608}, Case{0.1, 4, 3.989422804},
          Case{10.0, 400, 0.03989422804}, Case{0.02, 0, 19.94711402}}) {
        SCOPED_TRACE(c.sigma);
        BlurFilter blur;
        blur.setSigma(c.sigma);
        EXPECT_EQ(blur.radius(), c.radius);
        ASSERT_EQ(blur.kernel().size(), static_cast<std::size_t>(2 * c.radius + 1));
        EXPECT_NEAR(blur.kernel()[static_cast<std::size_t>(c.radius)], c.centre, 1e-9);
        // Symmetric about the centre.
        for (int k = 0; k <= 2 * c.radius; ++k) {
            EXPECT_EQ(blur.kernel()[static_cast<std::size_t>(k)],
                      blur.kernel()[static_cast<std::size_t>(2 * c.radius - k)]);
        }
    }
}

TEST(BlurKernel, WeightsAreTheUnnormalisedDensity) {
    BlurFilter blur;
    blur.setSigma(1.0);
    EXPECT_NEAR(blur.kernel()[39], 0.2419707245, 1e-10);
    EXPECT_NEAR(kernelSum(blur), 1.000000005, 1e-9);
    // The far tail underflows to exactly zero.
    EXPECT_EQ(blur.kernel()[0], 0.0);

    blur.setSigma(0.1); // replaces the previous kernel
    ASSERT_EQ(blur.kernel().size(), 9u);
    EXPECT_NEAR(blur.kernel()[3], 7.69e-22, 0.01e-22);
    EXPECT_EQ(blur.kernel()[0], 0.0);
    EXPECT_NEAR(kernelSum(blur), 3.989422804, 1e-9);

    blur.setSigma(0.5);
    EXPECT_NEAR(kernelSum(blur), 1.0144, 1e-4);
}

TEST(BlurApply, UnitSpikeGivesSquaredCentreWeightAndIsSymmetric) {
    const std::uint32_t n = 101;
    Grid src(n, n);
    src(50, 50) = 1.0;
    Grid dst(n, n);
    BlurFilter blur;
    blur.setSigma(1.0);
    blur.apply(src, dst);

    EXPECT_NEAR(dst(50, 50), 0.1591549431, 1e-10);
    for (std::uint32_t d = 1; d <= 5; ++d) {
        EXPECT_EQ(dst(50 + d, 50), dst(50 - d, 50));
        EXPECT_EQ(dst(50, 50 + d), dst(50, 50 - d));
        EXPECT_EQ(dst(50 + d, 50), dst(50, 50 + d));
        EXPECT_LT(dst(50 + d, 50), dst(50 + d - 1, 50));
    }
}

TEST(BlurApply, ZeroGridGivesTheFloorEverywhere) {
    Grid src(12, 9);
    Grid dst(12, 9);
    BlurFilter blur;
    blur.setSigma(2.2);
    blur.apply(src, dst);
    for (std::uint32_t j = 0; j < 12; ++j) {
        for (std::uint32_t i = 0; i < 9; ++i) {
            EXPECT_EQ(dst(i, j), 1e-256);
        }
    }
}

TEST(BlurApply, UniformFieldFallsOffAtEdgesAndCorners) {
    const std::uint32_t n = 101;
    const Grid src = uniformGrid(n, 1.0);
    Grid dst(n, n);
    BlurFilter blur;
    blur.setSigma(1.0);
    blur.apply(src, dst);

    const double sum = kernelSum(blur);
    EXPECT_NEAR(dst(50, 50), 1.0000000107, 1e-10);
    EXPECT_NEAR(dst(50, 50), sum * sum, 1e-15);
    EXPECT_NEAR(dst(0, 50), 0.69947, 1e-5);
    EXPECT_NEAR(dst(50, 0), 0.69947, 1e-5);
    EXPECT_NEAR(dst(0, 0), 0.48926, 1e-5);
    EXPECT_NEAR(dst(n - 1, n - 1), 0.48926, 1e-5);
}

TEST(BlurApply, TinySigmaScalesBySquaredSingleWeight) {
    Grid src = makeGrid(4, 5, [](std::uint32_t i, std::uint32_t j) { return 0.1 * (i + 3 * j); });
    Grid dst(4, 5);
    BlurFilter blur;
    blur.setSigma(0.02);
    blur.apply(src, dst);
    const double w = blur.kernel()[0];
    for (std::uint32_t j = 0; j < 4; ++j) {
        for (std::uint32_t i = 0; i < 5; ++i) {
            EXPECT_EQ(dst(i, j), w * src(i, j) * w + 1e-256);
        }
    }
    EXPECT_NEAR(w * w, 397.887, 1e-3);
}

TEST(BlurApply, InPlaceEqualsOutOfPlace) {
    Grid src = makeGrid(17, 23, [](std::uint32_t i, std::uint32_t j) {
        return std::sin(0.7 * i) * std::cos(0.3 * j) + 1.0;
    });
    BlurFilter blur;
    blur.setSigma(1.3);
    Grid out(17, 23);
    blur.apply(src, out);
    blur.apply(src, src);
    EXPECT_TRUE(equalBits(src, out));
}

using BlurDeathTest = ::testing::Test;

TEST_F(BlurDeathTest, NonPositiveOrNaNWidthEndsTheProgram) {
    BlurFilter blur;
    EXPECT_DEATH(blur.setSigma(0.0), "blurfilter\\.cpp.*sigma > 0\\.0");
    EXPECT_DEATH(blur.setSigma(-1.0), "sigma > 0\\.0");
    EXPECT_DEATH(blur.setSigma(std::numeric_limits<double>::quiet_NaN()), "sigma > 0\\.0");
}

TEST_F(BlurDeathTest, MismatchedShapesEndTheProgram) {
    BlurFilter blur;
    blur.setSigma(1.0);
    Grid a(4, 4);
    Grid rowsDiffer(5, 4);
    Grid bothDiffer(5, 6);
    Grid colsDiffer(4, 6);
    EXPECT_DEATH(blur.apply(a, rowsDiffer), "src\\.NumRows\\(\\) == dst\\.NumRows\\(\\)");
    EXPECT_DEATH(blur.apply(a, bothDiffer), "src\\.NumRows\\(\\) == dst\\.NumRows\\(\\)");
    EXPECT_DEATH(blur.apply(a, colsDiffer), "src\\.NumCols\\(\\) == dst\\.NumCols\\(\\)");
}
