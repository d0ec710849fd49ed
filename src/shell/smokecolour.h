#pragma once

// The colour of the smoke in the compositing outputs (RGBA PNG, EXR).

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace velloran {

struct SmokeColour {
    std::uint8_t red = 255;
    std::uint8_t green = 255;
    std::uint8_t blue = 255;

    bool operator==(const SmokeColour &other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }

    // "RRGGBB", lower case.
    QString hex() const;
};

// "RRGGBB" or "#RRGGBB", six hex digits in either case. Anything else gives
// nothing.
std::optional<SmokeColour> parseSmokeColour(const QString &text);

// An 8-bit sRGB component as linear light in [0, 1]: EXR holds linear values,
// so the smoke shows the chosen colour once a viewer applies its display curve.
float linearFromSrgb(std::uint8_t component);
// The same for a component in [0, 1].
double linearLight(double component);

// How much a cell covers what lies behind it: the density clamped to [0, 1];
// a non-finite density (an unstable run) covers nothing.
inline double smokeCoverage(double density) {
    return std::isfinite(density) ? std::clamp(density, 0.0, 1.0) : 0.0;
}

} // namespace velloran
