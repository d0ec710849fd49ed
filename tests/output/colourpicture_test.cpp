// The picture of a colour run and the colour error measured on it.

#include "colourpicture.h"

#include <gtest/gtest.h>

#include <cmath>

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

} // namespace
} // namespace velloran
