#pragma once

// The grid view's picture drawn one OpenGL call per vertex, straight from the
// view's grids: the reference the view's vertex arrays must reproduce pixel
// for pixel, and the baseline the repaint benchmark compares them with.

#include "glview.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

class ImmediateView : public GLView {
public:
    using GLView::GLView;

protected:
    void paintGL() override {
        glClear(GL_COLOR_BUFFER_BIT);
        const Grid &d = densityGrid();
        const Grid &u = uGrid();
        const Grid &v = vGrid();
        const std::uint32_t cols = d.NumCols(), rows = d.NumRows();
        if (cols < 3 || rows < 3) {
            return;
        }
        const double h = 1.0 / (static_cast<double>(cols) - 2);
        if (viewMode() == Density) {
            glBegin(GL_QUADS);
            for (std::uint32_t i = 1; i <= cols - 2; ++i) {
                for (std::uint32_t j = 1; j <= rows - 2; ++j) {
                    const double x0 = (i - 1) * h, y0 = (j - 1) * h;
                    const double corners[4][4] = {{x0, y0, 0, 0},
                                                  {x0 + h, y0, 1, 0},
                                                  {x0 + h, y0 + h, 1, 1},
                                                  {x0, y0 + h, 0, 1}};
                    for (const auto &c : corners) {
                        const double g =
                            greyLevel(d(i + std::uint32_t(c[2]), j + std::uint32_t(c[3])));
                        glColor3d(g, g, g);
                        glVertex2d(c[0], c[1]);
                    }
                }
            }
            glEnd();
            return;
        }
        const double s = velocityScale(h, std::max(maxAbs(v), maxAbs(u)));
        glLineWidth(1.0f);
        glBegin(GL_LINES);
        for (std::uint32_t i = 1; s > 0.0 && i <= cols - 2; ++i) {
            for (std::uint32_t j = 1; j <= rows - 2; ++j) {
                const double x = (i - 0.5) * h, y = (j - 0.5) * h;
                const double tipX = x + u(i, j) * s, tipY = y + v(i, j) * s;
                if (std::isfinite(tipX) && std::isfinite(tipY)) {
                    glColor3d(1.0, 1.0, 1.0);
                    glVertex2d(x, y);
                    glColor3d(0.25, 0.25, 0.25);
                    glVertex2d(tipX, tipY);
                }
            }
        }
        glEnd();
    }
};
