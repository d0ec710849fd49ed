#include "colourerror.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace velloran {

double ColourErrorMeter::measure(const std::vector<const Grid *> &densities,
                                 const std::vector<const Grid *> &targets,
                                 const ColourPicture &picture) {
    if (!drawnFrom(targets, picture)) {
        drawTargets(targets, picture);
    }
    double sum = 0.0;
    double pixels = 0.0;
    for (const TargetPixel &pixel : m_pixels) {
        const CellColour formed = cellColour(densities, pixel.i, pixel.j, picture);
        for (int c = 0; c < 3; ++c) {
            sum += std::fabs(formed.shown[c] - pixel.shown[c]);
        }
        pixels += 1.0;
    }
    return pixels > 0.0 ? sum / (3.0 * pixels) : 0.0;
}

// Bit for bit, so that a NaN that stays a NaN counts as unchanged and a 0
// that turns into -0 does not.
bool ColourErrorMeter::drawnFrom(const std::vector<const Grid *> &targets,
                                 const ColourPicture &picture) const {
    if (!m_drawn || targets.size() != m_targetCells.size() || picture.mode != m_picture.mode ||
        picture.colours != m_picture.colours) {
        return false;
    }
    for (std::size_t k = 0; k < targets.size(); ++k) {
        const Grid &grid = *targets[k];
        const std::size_t cells = static_cast<std::size_t>(grid.NumRows()) * grid.NumCols();
        if (cells != m_targetCells[k].size() ||
            std::memcmp(grid.data(), m_targetCells[k].data(), cells * sizeof(double)) != 0) {
            return false;
        }
    }
    return true;
}

void ColourErrorMeter::drawTargets(const std::vector<const Grid *> &targets,
                                   const ColourPicture &picture) {
    m_targetCells.resize(targets.size());
    for (std::size_t k = 0; k < targets.size(); ++k) {
        const Grid &grid = *targets[k];
        m_targetCells[k].assign(
            grid.data(), grid.data() + static_cast<std::size_t>(grid.NumRows()) * grid.NumCols());
    }
    m_picture = picture;
    m_drawn = true;
    m_pixels.clear();
    const std::uint32_t n = targets.empty() ? 0 : targets.front()->NumCols() - 2;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            double target = 0.0;
            for (const Grid *grid : targets) {
                target += smokeAmount((*grid)(i, j));
            }
            if (!(target > 0.0)) {
                continue;
            }
            TargetPixel pixel;
            pixel.i = i;
            pixel.j = j;
            const CellColour wanted = cellColour(targets, i, j, picture);
            std::copy(std::begin(wanted.shown), std::end(wanted.shown), pixel.shown);
            m_pixels.push_back(pixel);
        }
    }
}

} // namespace velloran
