#include "obstacleoverlay.h"

#include <GL/gl.h>

void ObstacleOverlay::setMask(const Grid *mask) {
    m_vertices.clear();
    if (!mask || mask->NumCols() < 3 || mask->NumRows() < 3) {
        return;
    }
    // Interior cell (i, j) covers [(i-1)h, ih] x [(j-1)h, jh], as in the view.
    const double h = 1.0 / (static_cast<double>(mask->NumCols()) - 2);
    for (std::uint32_t i = 1; i + 1 < mask->NumCols(); ++i) {
        for (std::uint32_t j = 1; j + 1 < mask->NumRows(); ++j) {
            if (!((*mask)(i, j) > 0.5)) {
                continue;
            }
            const auto x0 = static_cast<float>((i - 1) * h);
            const auto x1 = static_cast<float>(i * h);
            const auto y0 = static_cast<float>((j - 1) * h);
            const auto y1 = static_cast<float>(j * h);
            m_vertices.insert(m_vertices.end(), {x0, y0, x1, y0, x1, y1, x0, y0, x1, y1, x0, y1});
        }
    }
}

void ObstacleOverlay::draw() const {
    if (m_vertices.empty()) {
        return;
    }
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(kTint[0], kTint[1], kTint[2], kTint[3]);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, m_vertices.data());
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(m_vertices.size() / 2));
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_BLEND);
}
