#include "parameters.h"

#include <QDoubleSpinBox>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace velloran;

TEST(Parameters, TableMatchesTheSpinBoxLayout) {
    ASSERT_EQ(kParameterRanges.size(), 5u);
    const char *keys[] = {"vf", "vd", "vg", "sigma", "dt"};
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        EXPECT_STREQ(kParameterRanges[k].key, keys[k]);
        EXPECT_EQ(parameterIndex(keys[k]), k);
    }
    EXPECT_EQ(parameterIndex("Vf"), kParameterCount);
    EXPECT_EQ(parameterIndex(""), kParameterCount);
    EXPECT_EQ(kParameterRanges[kVg].decimals, 4);
    EXPECT_EQ(kParameterRanges[kVg].singleStep, 0.0005);
    EXPECT_EQ(kParameterRanges[kSigma].minimum, 0.1);
    EXPECT_EQ(kParameterRanges[kSigma].singleStep, 0.3);
    EXPECT_EQ(kParameterRanges[kDt].decimals, 5);
    EXPECT_EQ(kParameterRanges[kDt].singleStep, 0.00005);

    const SimParameters defaults;
    EXPECT_EQ(defaults.vf(), 0.0);
    EXPECT_EQ(defaults.sigma(), 0.1);
    EXPECT_EQ(defaults.dt(), 0.0);
}

// The clamp must give what the desktop window's spin boxes hold after setValue,
// bit for bit, for every finite value (NaN and infinities are ours to define).
TEST(Parameters, ClampAgreesWithRealSpinBoxes) {
    const double probes[] = {0.0,     0.00005, 0.000049, 0.000051, 0.000015, 0.000025, 2.25,
                             2.35,    0.05,    0.15,     0.25,     1e-7,     123.45,   123.449,
                             999.95,  1000.04, 1000.05,  1e9,      -1e-7,    -0.04,    -0.05,
                             -2.25,   -123.45, 0.1,      0.04,     0.05,     0.06,     9.95,
                             10.04,   0.5,     0.00015,  0.00025,  0.00035,  0.12345,  0.98765,
                             1.0 / 3, 2.0 / 3, 0.29,     0.099999, 1e-300,   1e300};
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        const ParameterRange &range = kParameterRanges[k];
        QDoubleSpinBox box;
        box.setDecimals(range.decimals);
        box.setMinimum(range.minimum);
        box.setMaximum(range.maximum);
        box.setSingleStep(range.singleStep);
        for (double probe : probes) {
            box.setValue(probe);
            EXPECT_EQ(clampParameter(k, probe), box.value())
                << range.key << " setValue(" << probe << ")";
            EXPECT_FALSE(std::signbit(clampParameter(k, probe)));
        }
    }
}

TEST(Parameters, NonFiniteValuesNeverGetThrough) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(clampParameter(kVf, nan), 0.0);
    EXPECT_EQ(clampParameter(kSigma, nan), 0.1); // 0.0, then bounded
    EXPECT_EQ(clampParameter(kVf, inf), 1000.0);
    EXPECT_EQ(clampParameter(kVf, -inf), 0.0);
    EXPECT_EQ(clampParameter(kSigma, -inf), 0.1);
    EXPECT_EQ(clampParameter(kDt, inf), 1.0);
    // A value beyond every decimal representation still bounds cleanly.
    EXPECT_EQ(clampParameter(kVg, 1e308), 1.0);
    EXPECT_EQ(clampParameter(kVg, -1e308), 0.0);
}

TEST(Parameters, RoundingOfTypicalValues) {
    EXPECT_EQ(clampParameter(kDt, 0.00005), 0.00005);
    EXPECT_EQ(clampParameter(kDt, 0.000004), 0.0);
    EXPECT_EQ(clampParameter(kVg, 0.00014), 0.0001);
    EXPECT_EQ(clampParameter(kSigma, 2.25), 2.3);
    EXPECT_EQ(clampParameter(kVf, 123.45), 123.5);
    EXPECT_EQ(clampParameter(kVf, -3.0), 0.0);
    EXPECT_EQ(spinBoxValue(-0.0, -1.0, 1.0, 2), 0.0);
    EXPECT_FALSE(std::signbit(spinBoxValue(-0.0, -1.0, 1.0, 2)));
}
