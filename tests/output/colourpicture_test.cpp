// The picture of a colour run and the colour error measured on it.

#include "colourerror.h"
#include "colourpicture.h"
#include "fieldgrids.h"
#include "run.h"
#include "solver.h"
#include "targetschedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace velloran {
namespace {

// Half the smoke of a red field sits in the one target cell, half beside it:
// only the target's cell counts, in what it shows over the mode's plate.
TEST(ColourPicture, ColourErrorOverTheTargetsPixels) {
    Grid density(4, 4);
    Grid target(4, 4);
    target(1, 1) = 1.0;
    density(1, 1) = 0.5;
    density(2, 2) = 0.5;
    ColourPicture picture{{SmokeColour{255, 0, 0}}, ColourMode::Light};
    EXPECT_DOUBLE_EQ(colourError({&density}, {&target}, picture), 0.5 / 3.0);
    EXPECT_EQ(colourError({&target}, {&target}, picture), 0.0);
    // Dark: red passes all of the white plate's red; green and blue pass T.
    picture.mode = ColourMode::Dark;
    EXPECT_DOUBLE_EQ(colourError({&density}, {&target}, picture),
                     2.0 * (std::exp(-1.5) - std::exp(-3.0)) / 3.0);
    // Without target pixels there is nothing to compare.
    const Grid empty(4, 4);
    EXPECT_EQ(colourError({&target}, {&empty}, picture), 0.0);
}

// A meter kept through a keyframed run of two fields (a cut from the third
// step, a blend over the fifth and sixth, each field on its own schedule) gives at every
// step exactly what drawing the targets' picture afresh gives, and so does a
// change of mode between two steps with the same targets.
TEST(ColourPicture, KeptMeterFollowsEveryTargetChange) {
    const std::uint32_t n = 12;
    Grid disc(n, n), column(n, n), band(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double x = (i + 0.5) / n - 0.5, y = (j + 0.5) / n - 0.5;
            disc(i, j) = x * x + y * y < 0.1 ? 1.0 : 0.0;
            column(i, j) = std::fabs(x) < 0.1 ? 1.0 : 0.0;
            band(i, j) = std::fabs(y) < 0.15 ? 0.5 : 0.0;
        }
    }
    auto solver =
        std::make_unique<Solver>(std::vector<SmokeInput>{{&disc, &column}, {&disc, &band}});
    solver->m_vf = 1.0;
    solver->m_vd = 3.0;
    solver->setSigma(1.0);
    solver->setTimeStep(0.001);
    const auto schedule = [](const Grid &first, const Grid &cut, const Grid &blended) {
        return std::make_unique<TargetSchedule>(
            first, std::vector<Keyframe>{{2, cut, 0}, {4, blended, 2}});
    };
    velloran::Run run(std::move(solver), schedule(column, band, disc));
    std::vector<std::unique_ptr<TargetSchedule>> further;
    further.push_back(schedule(band, disc, column));
    run.setFieldSchedules(std::move(further));

    ColourPicture picture{{SmokeColour{224, 48, 32}, SmokeColour{32, 160, 224}}, ColourMode::Light};
    ColourErrorMeter meter;
    std::vector<double> errors;
    for (int step = 0; step <= 7; ++step) {
        if (step > 0) {
            run.step();
        }
        const std::vector<const Grid *> densities = fieldDensities(run.solver());
        std::vector<const Grid *> targets;
        collectFieldGrids(run.solver(), FieldGrid::Target, &targets);
        picture.mode = step == 7 ? ColourMode::Dark : ColourMode::Light;
        errors.push_back(meter.measure(densities, targets, picture));
        EXPECT_EQ(errors.back(), colourError(densities, targets, picture)) << "step " << step;
    }
    // The targets did change under the meter: the error jumps at the cut.
    EXPECT_GT(std::fabs(errors[3] - errors[2]), 0.1);
}

} // namespace
} // namespace velloran
