#pragma once

// The colour error of a run, measured step after step. The targets' picture
// is what takes half the work, and the targets change only now and then (a
// keyframe cut, each step of a blend, a new target from outside, a resumed
// run): it is drawn again only when a target grid or the picture's colours
// and mode differ from the ones it was drawn from, compared bit for bit, so
// every figure is exactly that of colourError.

#include "colourpicture.h"
#include "grid.h"

#include <cstdint>
#include <vector>

namespace velloran {

class ColourErrorMeter {
public:
    // colourError(densities, targets, picture), with the targets' picture
    // kept from the previous call when nothing it depends on changed.
    double measure(const std::vector<const Grid *> &densities,
                   const std::vector<const Grid *> &targets, const ColourPicture &picture);

private:
    bool drawnFrom(const std::vector<const Grid *> &targets, const ColourPicture &picture) const;
    void drawTargets(const std::vector<const Grid *> &targets, const ColourPicture &picture);

    // A target pixel and what the targets show there, in the order the error
    // sums them (columns outer, rows inner).
    struct TargetPixel {
        std::uint32_t i = 0;
        std::uint32_t j = 0;
        double shown[3] = {0.0, 0.0, 0.0};
    };
    std::vector<TargetPixel> m_pixels;
    // What the pixels were drawn from: the targets' cells and the picture.
    std::vector<std::vector<double>> m_targetCells;
    ColourPicture m_picture;
    bool m_drawn = false;
};

} // namespace velloran
