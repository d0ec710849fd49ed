#include "glview.h"

#include <QOpenGLContext>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cmath>
#include <ctime>
#include <thread>

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

GLView::GLView(QWidget *parent)
    : QOpenGLWidget(parent)
    , m_mode(Density)
    , m_densityGrid(std::make_unique<Grid>(1, 1))
    , m_uGrid(std::make_unique<Grid>(1, 1))
    , m_vGrid(std::make_unique<Grid>(1, 1)) {
    // The window's composition and buffer swap, in this thread's processor
    // time: a swap that waits for the screen's refresh costs nothing.
    connect(this, &QOpenGLWidget::aboutToCompose, this, [this] { m_composeStart = threadCpuMs(); });
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (m_composeStart >= 0.0) {
            m_lastFrameMs = m_paintMs + (threadCpuMs() - m_composeStart);
            m_composeStart = -1.0;
        }
    });
}

GLView::~GLView() {
    releaseShader();
}

void GLView::releaseShader() {
    if (!context() || (!m_shaderReady && m_fallbackTexture == 0)) {
        return;
    }
    makeCurrent();
    m_shader.release();
    if (m_fallbackTexture != 0) {
        glDeleteTextures(1, &m_fallbackTexture);
        m_fallbackTexture = 0;
        m_fallbackSize = QSize();
    }
    doneCurrent();
    m_shaderReady = false;
}

void GLView::setShaderAllowed(bool allowed) {
    m_shaderAllowed = allowed;
    update();
}

void GLView::setGrids(const Grid &density, const Grid &u, const Grid &v) {
    if (copyGrids(density, u, v)) {
        repaint();
    }
}

bool GLView::copyGrids(const Grid &density, const Grid &u, const Grid &v,
                       const std::vector<Grid> &fields) {
    const auto shaped = [&density](const Grid &grid) {
        return grid.NumRows() == density.NumRows() && grid.NumCols() == density.NumCols();
    };
    if (!shaped(u) || !shaped(v) || !std::all_of(fields.begin(), fields.end(), shaped)) {
        return false;
    }
    m_fieldGrids = fields; // element by element: the grids keep their storage
    m_colourStale = true;
    *m_densityGrid = density;
    *m_uGrid = u;
    *m_vGrid = v;
    m_densityStale = true;
    m_velocityStale = true;
    m_textureStale = true;
    return true;
}

void GLView::setColourPicture(const std::optional<velloran::ColourPicture> &picture) {
    m_colour = picture;
    if (!picture) {
        m_colourImage = QImage();
    }
    m_colourStale = true;
    m_textureStale = true;
    update();
}

void GLView::setViewMode(ViewMode mode) {
    m_mode = mode;
    repaint();
}

void GLView::retainRendererMemory() {
#ifdef __GLIBC__
    // Setting either value turns off the library's own adjustment of both, so
    // set both: large blocks come from the heap, and the heap is not trimmed.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
#endif
}

int GLView::rendererThreads(int cores, int simulationThreads) {
    return std::max(1, cores - simulationThreads);
}

void GLView::leaveCoresToSimulation(int simulationThreads) {
    if (qEnvironmentVariableIsSet("LP_NUM_THREADS")) {
        return;
    }
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    qputenv("LP_NUM_THREADS", QByteArray::number(rendererThreads(cores, simulationThreads)));
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

    // A new context (the widget moved to another window) needs its own
    // program and texture; the old ones go with the old context.
    m_shaderReady = m_shader.initialize();
    m_fallbackTexture = createPictureTexture();
    m_fallbackSize = QSize();
    m_textureStale = true;
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GLView::releaseShader,
            Qt::UniqueConnection);
}

void GLView::resizeGL(int width, int height) {
    // The framebuffer is in device pixels; on a high-density screen the
    // widget's logical size would cover only part of it.
    const qreal ratio = devicePixelRatioF();
    glViewport(0, 0, static_cast<GLsizei>(width * ratio), static_cast<GLsizei>(height * ratio));
}

void GLView::setObstacles(const Grid *mask) {
    m_obstacles.setMask(mask);
    update();
}

void GLView::paintGL() {
    QElapsedTimer clock;
    clock.start();
    glClear(GL_COLOR_BUFFER_BIT);
    if (m_mode == Density) {
        drawDensity();
    } else if (m_mode == Velocity) {
        drawVelocity();
    }
    m_obstacles.draw();
    // The composition needs the finished picture anyway; waiting for it here
    // makes the drawing's real cost measurable (a software renderer draws on
    // its own threads).
    glFinish();
    m_paintMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

namespace {

constexpr int kFloatsPerVertex = 5;
constexpr float kInvisibleGrey = 1.0f / 1024;
constexpr GLsizei kStride = kFloatsPerVertex * sizeof(float);

void putVertex(float *out, double x, double y, double red, double green, double blue) {
    out[0] = static_cast<float>(x);
    out[1] = static_cast<float>(y);
    out[2] = static_cast<float>(red);
    out[3] = static_cast<float>(green);
    out[4] = static_cast<float>(blue);
}

void beginInterleaved(const std::vector<float> &vertices) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, kStride, vertices.data());
    glColorPointer(3, GL_FLOAT, kStride, vertices.data() + 2);
}

void endInterleaved() {
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

} // namespace

// Interior cell (i, j) covers [(i-1)h, ih] x [(j-1)h, jh]. Its lower-left
// corner shows its own value, the other corners its right, upper-right and
// upper neighbours, so the picture is interpolated smoothly across each quad.
// Every corner therefore has one position and one colour whichever quad it
// belongs to: corner (a, b), for columns a = 1 .. cols-1 and rows
// b = 1 .. rows-1, sits at ((a-1)h, (b-1)h) and shows D(a, b). Each quad is
// drawn as the two triangles (lower left, lower right, upper right) and
// (lower left, upper right, upper left), column by column: the split and
// vertex order the renderer gives a quad, so the shading across each quad is
// the same as if it were drawn as a quad. (The other diagonal would shade
// visibly differently.)
void GLView::buildDensityArrays() {
    const Grid &d = *m_densityGrid;
    const std::uint32_t cols = d.NumCols();
    const std::uint32_t rows = d.NumRows();
    m_densityStale = false;
    if (cols < 3 || rows < 3) {
        m_densityVertices.clear();
        m_quadIndexCount = 0;
        return;
    }
    const double h = 1.0 / (static_cast<double>(cols) - 2);
    const std::uint32_t cornerRows = rows - 1;
    m_densityVertices.resize(static_cast<std::size_t>(cols - 1) * cornerRows * kFloatsPerVertex);
    float *out = m_densityVertices.data();
    for (std::uint32_t a = 1; a <= cols - 1; ++a) {
        const double x = (a - 1) * h;
        for (std::uint32_t b = 1; b <= rows - 1; ++b) {
            const double g = greyLevel(d(a, b));
            putVertex(out, x, (b - 1) * h, g, g, g);
            out += kFloatsPerVertex;
        }
    }

    // A quad whose four corners are all darker than kInvisibleGrey shows
    // exactly the black the paint clears to, so it is left out: the view's
    // framebuffer has 8 bits per channel (the widget's default), and a level
    // below a quarter of one step rounds to 0 however it is interpolated.
    // Much of a typical snapshot is such empty space, and the renderer's
    // cost grows with the number of triangles.
    m_quadIndices.resize(static_cast<std::size_t>(cols - 2) * (rows - 2) * 6);
    std::uint32_t *index = m_quadIndices.data();
    const float *grey = m_densityVertices.data() + 2; // red of corner 0
    auto black = [grey](std::uint32_t corner) {
        return grey[corner * kFloatsPerVertex] < kInvisibleGrey;
    };
    for (std::uint32_t i = 0; i < cols - 2; ++i) {
        for (std::uint32_t j = 0; j < rows - 2; ++j) {
            const std::uint32_t lowerLeft = i * cornerRows + j;
            const std::uint32_t lowerRight = lowerLeft + cornerRows;
            if (black(lowerLeft) && black(lowerRight) && black(lowerRight + 1) &&
                black(lowerLeft + 1)) {
                continue;
            }
            index[0] = lowerLeft;
            index[1] = lowerRight;
            index[2] = lowerRight + 1;
            index[3] = lowerLeft;
            index[4] = lowerRight + 1;
            index[5] = lowerLeft + 1;
            index += 6;
        }
    }
    m_quadIndexCount = static_cast<std::size_t>(index - m_quadIndices.data());
}

void GLView::drawDensity() {
    if (m_colour) {
        drawColour();
        return;
    }
    if (drawsWithShader()) {
        if (m_textureStale) {
            m_shader.upload(*m_densityGrid);
            m_textureStale = false;
        }
        m_shader.paint();
        return;
    }
    if (m_densityStale) {
        buildDensityArrays();
    }
    if (m_quadIndexCount == 0) {
        return;
    }
    beginInterleaved(m_densityVertices);
    const auto last = static_cast<GLuint>(m_densityVertices.size() / kFloatsPerVertex - 1);
    glDrawRangeElements(GL_TRIANGLES, 0, last, static_cast<GLsizei>(m_quadIndexCount),
                        GL_UNSIGNED_INT, m_quadIndices.data());
    endInterleaved();
}

// One segment per interior cell from its centre, white fading to dark grey at
// the tip. A field at rest (or one with an infinite component) has no finite
// scale and draws nothing; a cell whose tip is not finite is skipped.
void GLView::buildVelocityArrays() {
    const Grid &u = *m_uGrid;
    const Grid &v = *m_vGrid;
    const std::uint32_t cols = u.NumCols();
    const std::uint32_t rows = u.NumRows();
    m_velocityStale = false;
    m_velocityVertices.clear();
    const double h = 1.0 / (static_cast<double>(cols) - 2);
    const double largest = std::max(maxAbs(v), maxAbs(u));
    const double s = velocityScale(h, largest);
    if (cols < 3 || rows < 3 || !(s > 0.0)) {
        return;
    }
    m_velocityVertices.resize(static_cast<std::size_t>(cols - 2) * (rows - 2) * 2 *
                              kFloatsPerVertex);
    float *out = m_velocityVertices.data();
    for (std::uint32_t i = 1; i <= cols - 2; ++i) {
        for (std::uint32_t j = 1; j <= rows - 2; ++j) {
            const double x = (i - 0.5) * h;
            const double y = (j - 0.5) * h;
            const double tipX = x + u(i, j) * s;
            const double tipY = y + v(i, j) * s;
            if (!std::isfinite(tipX) || !std::isfinite(tipY)) {
                continue;
            }
            putVertex(out, x, y, 1.0, 1.0, 1.0);
            putVertex(out + kFloatsPerVertex, tipX, tipY, 0.25, 0.25, 0.25);
            out += 2 * kFloatsPerVertex;
        }
    }
    m_velocityVertices.resize(static_cast<std::size_t>(out - m_velocityVertices.data()));
}

void GLView::drawVelocity() {
    if (m_velocityStale) {
        buildVelocityArrays();
    }
    glLineWidth(1.0f);
    if (m_velocityVertices.empty()) {
        return;
    }
    beginInterleaved(m_velocityVertices);
    glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(m_velocityVertices.size() / kFloatsPerVertex));
    endInterleaved();
}

// The picture comes from the renderer's own drawing of a colour frame, so the
// view shows what its PNG frames show. Only the fields it has are drawn: a
// set that does not match the colours (a frame of another run) shows nothing.
void GLView::refreshColourImage() {
    m_colourStale = false;
    const Grid &d = *m_densityGrid;
    if (d.NumCols() < 3 || d.NumRows() != d.NumCols() ||
        m_fieldGrids.size() + 1 != m_colour->colours.size()) {
        m_colourImage = QImage();
        return;
    }
    // Refilled, not rebuilt: a live run redraws every frame without allocating.
    m_colourInputs.assign(1, &d);
    for (const Grid &grid : m_fieldGrids) {
        m_colourInputs.push_back(&grid);
    }
    velloran::drawColourImage(m_colourInputs, *m_colour, &m_colourImage);
}

void GLView::drawColour() {
    const bool redrawn = m_colourStale;
    if (m_colourStale) {
        refreshColourImage();
    }
    if (drawsWithShader()) {
        if (redrawn || m_textureStale) {
            m_shader.uploadColour(m_colourImage);
            m_textureStale = false;
        }
        m_shader.paint();
        return;
    }
    if (m_colourImage.isNull() || m_fallbackTexture == 0) {
        return;
    }
    if (redrawn || m_fallbackSize != m_colourImage.size()) {
        uploadPictureTexture(m_fallbackTexture, m_colourImage, &m_fallbackSize);
    }
    // Fixed-function texturing, the picture's top row at the top.
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBindTexture(GL_TEXTURE_2D, m_fallbackTexture);
    glBegin(GL_TRIANGLE_STRIP);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(0.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(1.0f, 0.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(0.0f, 1.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(1.0f, 1.0f);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}
