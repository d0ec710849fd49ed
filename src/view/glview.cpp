#include "glview.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

GLView::GLView(QWidget *parent)
    : QOpenGLWidget(parent)
    , m_mode(Density)
    , m_densityGrid(std::make_unique<Grid>(1, 1))
    , m_uGrid(std::make_unique<Grid>(1, 1))
    , m_vGrid(std::make_unique<Grid>(1, 1)) {}

GLView::~GLView() = default;

void GLView::setGrids(const Grid &density, const Grid &u, const Grid &v) {
    const bool sameShape = density.NumRows() == u.NumRows() && density.NumCols() == u.NumCols() &&
                           u.NumRows() == v.NumRows() && u.NumCols() == v.NumCols();
    if (!sameShape) {
        return;
    }
    *m_densityGrid = density;
    *m_uGrid = u;
    *m_vGrid = v;
    repaint();
}

void GLView::setViewMode(ViewMode mode) {
    m_mode = mode;
    repaint();
}

QSize GLView::sizeHint() const {
    return QSize(768, 768);
}

double GLView::velocityScale(double cellSize, double largestComponent) {
    // maxAbs never picks NaN, so largestComponent is 0, finite or +inf.
    if (!(largestComponent > 0.0) || !std::isfinite(largestComponent)) {
        return 0.0;
    }
    return 3 * cellSize / largestComponent;
}

double GLView::greyLevel(double density) {
    if (std::isnan(density)) {
        return 0.0;
    }
    return density < 0.0 ? 0.0 : (density > 1.0 ? 1.0 : density);
}

void GLView::initializeGL() {
    const qreal ratio = devicePixelRatioF();
    glViewport(0, 0, static_cast<GLsizei>(width() * ratio), static_cast<GLsizei>(height() * ratio));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, 1, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void GLView::resizeGL(int width, int height) {
    // The framebuffer is in device pixels; on a high-density screen the
    // widget's logical size would cover only part of it.
    const qreal ratio = devicePixelRatioF();
    glViewport(0, 0, static_cast<GLsizei>(width * ratio), static_cast<GLsizei>(height * ratio));
}

void GLView::paintGL() {
    glClear(GL_COLOR_BUFFER_BIT);
    if (m_mode == Density) {
        drawDensity();
    } else if (m_mode == Velocity) {
        drawVelocity();
    }
}

// Interior cell (i, j) covers [(i-1)h, ih] x [(j-1)h, jh]. Its lower-left
// corner shows its own value, the other corners its right, upper-right and
// upper neighbours, so the picture is interpolated smoothly across each quad.
void GLView::drawDensity() {
    const Grid &d = *m_densityGrid;
    const std::uint32_t cols = d.NumCols();
    const std::uint32_t rows = d.NumRows();
    const double h = 1.0 / (static_cast<double>(cols) - 2);

    glBegin(GL_QUADS);
    if (cols >= 3 && rows >= 3) {
        for (std::uint32_t i = 1; i <= cols - 2; ++i) {
            for (std::uint32_t j = 1; j <= rows - 2; ++j) {
                const double x0 = (i - 1) * h;
                const double y0 = (j - 1) * h;
                double g = greyLevel(d(i, j));
                glColor3d(g, g, g);
                glVertex2d(x0, y0);
                g = greyLevel(d(i + 1, j));
                glColor3d(g, g, g);
                glVertex2d(x0 + h, y0);
                g = greyLevel(d(i + 1, j + 1));
                glColor3d(g, g, g);
                glVertex2d(x0 + h, y0 + h);
                g = greyLevel(d(i, j + 1));
                glColor3d(g, g, g);
                glVertex2d(x0, y0 + h);
            }
        }
    }
    glEnd();
}

// One segment per interior cell from its centre, white fading to dark grey at
// the tip. A field at rest (or one with an infinite component) has no finite
// scale and draws nothing; a cell whose tip is not finite is skipped.
void GLView::drawVelocity() {
    const Grid &u = *m_uGrid;
    const Grid &v = *m_vGrid;
    const std::uint32_t cols = u.NumCols();
    const std::uint32_t rows = u.NumRows();
    const double h = 1.0 / (static_cast<double>(cols) - 2);
    const double largest = std::max(maxAbs(v), maxAbs(u));
    const double s = velocityScale(h, largest);

    glLineWidth(1.0f);
    glBegin(GL_LINES);
    if (cols >= 3 && rows >= 3 && s > 0.0) {
        for (std::uint32_t i = 1; i <= cols - 2; ++i) {
            for (std::uint32_t j = 1; j <= rows - 2; ++j) {
                const double x = (i - 0.5) * h;
                const double y = (j - 0.5) * h;
                const double tipX = x + u(i, j) * s;
                const double tipY = y + v(i, j) * s;
                if (!std::isfinite(tipX) || !std::isfinite(tipY)) {
                    continue;
                }
                glColor3d(1.0, 1.0, 1.0);
                glVertex2d(x, y);
                glColor3d(0.25, 0.25, 0.25);
                glVertex2d(tipX, tipY);
            }
        }
    }
    glEnd();
}
