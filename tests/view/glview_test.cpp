// The grid view, checked on the pixels it actually produces (read back from
// the framebuffer; needs an X server, run under Xvfb with Mesa).

#include "glview.h"
#include "immediateview.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace {

// Counts paints so a test can tell whether a call repainted at once.
class CountingView : public GLView {
public:
    int paints = 0;

protected:
    void paintGL() override {
        ++paints;
        GLView::paintGL();
    }
};

Grid filled(std::uint32_t side, double value) {
    Grid g(side, side);
    for (std::uint32_t i = 0; i < side; ++i) {
        for (std::uint32_t j = 0; j < side; ++j) {
            g(i, j) = value;
        }
    }
    return g;
}

// A 4 x 4 interior whose left half is white and right half black.
Grid leftHalfWhite() {
    Grid d(6, 6);
    for (std::uint32_t i = 0; i <= 2; ++i) {
        for (std::uint32_t j = 0; j < 6; ++j) {
            d(i, j) = 1.0;
        }
    }
    return d;
}

// The pixel at drawing coordinates (x, y), y up, as a grey level (red channel).
int greyAt(const QImage &img, double x, double y) {
    const int px = static_cast<int>(std::lround(x * (img.width() - 1)));
    const int py = static_cast<int>(std::lround((1.0 - y) * (img.height() - 1)));
    return qRed(img.pixel(px, py));
}

// Brightest red value within +-r pixels of (x, y): lines are one pixel thin.
int brightestNear(const QImage &img, double x, double y, int r = 2) {
    const int cx = static_cast<int>(std::lround(x * (img.width() - 1)));
    const int cy = static_cast<int>(std::lround((1.0 - y) * (img.height() - 1)));
    int best = 0;
    for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
            const int px = cx + dx, py = cy + dy;
            if (px >= 0 && py >= 0 && px < img.width() && py < img.height()) {
                best = std::max(best, qRed(img.pixel(px, py)));
            }
        }
    }
    return best;
}

// Largest difference of any colour channel between two pictures of one size.
int largestDifference(const QImage &a, const QImage &b) {
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

bool allBlack(const QImage &img) {
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if ((img.pixel(x, y) & 0xffffff) != 0) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

class GLViewTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshViewIsBlackInBothModes();
    void densityGreyLevelsAreClamped_data();
    void densityGreyLevelsAreClamped();
    void smallestGridIsOneInterpolatedQuad();
    void largestComponentIsThreeCellsLong();
    void fieldAtRestAndNonFiniteValuesDrawSafely();
    void switchingModeRepaintsSameSnapshotAtOnce();
    void mismatchedGridsAreRefused();
    void resizingStretchesThePicture();
    void drawingsMatchOneCallPerVertex_data();
    void drawingsMatchOneCallPerVertex();
    void newSnapshotAndNewShapeRebuildTheArrays();
    void copyWithoutPaintShowsAtNextPaint();
    void anotherWindowGetsItsOwnShader();
    void softwareRendererLeavesTheSimulationItsCores();

private:
    QWidget *m_window = nullptr;
    CountingView *m_view = nullptr;
};

void GLViewTest::init() {
    // A child of a plain window, as in the program.
    m_window = new QWidget;
    m_view = new CountingView;
    m_view->setParent(m_window);
    m_view->setGeometry(0, 0, 200, 200);
    m_window->resize(200, 200);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
    QTRY_VERIFY_WITH_TIMEOUT(m_view->paints > 0, 60000);
}

void GLViewTest::cleanup() {
    delete m_window;
    m_window = nullptr;
    m_view = nullptr;
}

void GLViewTest::freshViewIsBlackInBothModes() {
    QCOMPARE(m_view->sizeHint(), QSize(768, 768));
    QCOMPARE(m_view->viewMode(), Density);
    QVERIFY(allBlack(m_view->grabFramebuffer()));
    m_view->setViewMode(Velocity);
    QVERIFY(allBlack(m_view->grabFramebuffer()));
}

void GLViewTest::densityGreyLevelsAreClamped_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("negative") << -0.5 << 0 << 0;
    QTest::newRow("zero") << 0.0 << 0 << 0;
    QTest::newRow("half") << 0.5 << 127 << 128;
    QTest::newRow("one") << 1.0 << 255 << 255;
    QTest::newRow("above one") << 2.0 << 255 << 255;
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 255 << 255;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 0 << 0;
}

void GLViewTest::densityGreyLevelsAreClamped() {
    QFETCH(double, value);
    QFETCH(int, low);
    QFETCH(int, high);
    const Grid d = filled(10, value);
    const Grid zero(10, 10);
    m_view->setGrids(d, zero, zero);
    const QImage img = m_view->grabFramebuffer();
    for (double x : {0.02, 0.5, 0.98}) {
        for (double y : {0.02, 0.5, 0.98}) {
            const int g = greyAt(img, x, y);
            QVERIFY2(g >= low && g <= high, qPrintable(QString::number(g)));
        }
    }
}

void GLViewTest::smallestGridIsOneInterpolatedQuad() {
    // 3 x 3: one quad over the whole widget, its corners from cells (1,1),
    // (2,1), (2,2), (1,2); row and column 0 are never shown.
    Grid d(3, 3);
    d(0, 0) = d(0, 1) = d(1, 0) = 1.0; // must not appear
    d(1, 1) = 0.0;                     // lower left
    d(2, 1) = 1.0;                     // lower right
    d(2, 2) = 1.0;                     // upper right
    d(1, 2) = 0.0;                     // upper left
    const Grid zero(3, 3);
    m_view->setGrids(d, zero, zero);
    QImage img = m_view->grabFramebuffer();
    QVERIFY(greyAt(img, 0.0, 0.0) < 8);
    QVERIFY(greyAt(img, 0.0, 1.0) < 8);
    QVERIFY(greyAt(img, 1.0, 0.0) > 247);
    QVERIFY(greyAt(img, 1.0, 1.0) > 247);
    QVERIFY(std::abs(greyAt(img, 0.5, 0.5) - 128) < 8);

    // The velocity view: one segment from the centre of the widget.
    Grid u(3, 3);
    u(1, 1) = 1.0;
    m_view->setGrids(d, u, zero);
    m_view->setViewMode(Velocity);
    img = m_view->grabFramebuffer();
    QVERIFY(brightestNear(img, 0.5, 0.5) > 200);
    QVERIFY(brightestNear(img, 0.5, 0.3) == 0);
}

void GLViewTest::largestComponentIsThreeCellsLong() {
    // 8 x 8 interior, h = 1/8. Cell (2, 4) has u = 2, the largest component:
    // its segment runs from x = 1.5 h to 4.5 h at y = 3.5 h.
    const double h = 1.0 / 8;
    Grid u(10, 10), v(10, 10);
    u(2, 4) = 2.0;
    v(6, 6) = -0.5;
    const Grid d(10, 10);
    m_view->setViewMode(Velocity);
    m_view->setGrids(d, u, v);
    const QImage full = m_view->grabFramebuffer();
    QVERIFY(brightestNear(full, 1.5 * h, 3.5 * h) > 200); // white base
    QVERIFY(brightestNear(full, 4.4 * h, 3.5 * h) > 40);  // still drawn near the tip
    QVERIFY(brightestNear(full, 5.0 * h, 3.5 * h, 1) == 0);
    QVERIFY(brightestNear(full, 5.5 * h, 4.75 * h) > 0); // the other one, 0.75 h down

    // Halving the whole field leaves the picture unchanged.
    Grid halfU = u, halfV = v;
    halfU(2, 4) = 1.0;
    halfV(6, 6) = -0.25;
    m_view->setGrids(d, halfU, halfV);
    QCOMPARE(m_view->grabFramebuffer(), full);
}

void GLViewTest::fieldAtRestAndNonFiniteValuesDrawSafely() {
    QCOMPARE(GLView::velocityScale(0.1, 0.0), 0.0);
    QCOMPARE(GLView::velocityScale(0.1, std::numeric_limits<double>::infinity()), 0.0);
    QCOMPARE(GLView::velocityScale(0.25, 0.5), 1.5);

    const Grid d(6, 6);
    Grid rest(6, 6);
    m_view->setViewMode(Velocity);
    m_view->setGrids(d, rest, rest);
    QVERIFY(allBlack(m_view->grabFramebuffer()));

    // One NaN cell is skipped; the others are drawn with the finite scale.
    Grid u(6, 6);
    u(1, 1) = std::numeric_limits<double>::quiet_NaN();
    u(3, 3) = 1.0;
    m_view->setGrids(d, u, rest);
    QImage img = m_view->grabFramebuffer();
    QVERIFY(brightestNear(img, 2.5 / 4, 2.5 / 4) > 200);
    QVERIFY(brightestNear(img, 0.5 / 4, 0.5 / 4) == 0);

    // An infinite component leaves no finite scale: nothing is drawn.
    u(2, 2) = -std::numeric_limits<double>::infinity();
    m_view->setGrids(d, u, rest);
    QVERIFY(allBlack(m_view->grabFramebuffer()));
}

void GLViewTest::switchingModeRepaintsSameSnapshotAtOnce() {
    // repaint() paints synchronously unless the window still composes the
    // previous frame; then the paint follows with that frame. Either way no
    // new data is needed and no other event has to arrive first.
    const Grid d = filled(6, 1.0);
    Grid u(6, 6);
    u(2, 2) = 1.0;
    const Grid zero(6, 6);
    int before = m_view->paints;
    m_view->setGrids(d, u, zero);
    QTRY_VERIFY_WITH_TIMEOUT(m_view->paints > before, 60000);
    const QImage density = m_view->grabFramebuffer();

    before = m_view->paints;
    m_view->setViewMode(Velocity);
    QTRY_VERIFY_WITH_TIMEOUT(m_view->paints > before, 60000);
    const QImage velocity = m_view->grabFramebuffer();
    QVERIFY(velocity != density);
    QVERIFY(!allBlack(velocity));

    before = m_view->paints;
    m_view->setViewMode(Density);
    QTRY_VERIFY_WITH_TIMEOUT(m_view->paints > before, 60000);
    QCOMPARE(m_view->grabFramebuffer(), density);
}

void GLViewTest::mismatchedGridsAreRefused() {
    const Grid d = filled(6, 0.5);
    const Grid zero(6, 6);
    m_view->setGrids(d, zero, zero);
    const QImage before = m_view->grabFramebuffer();

    // A smaller v would be read out of bounds; unequal density likewise.
    m_view->setGrids(filled(8, 1.0), Grid(8, 8), Grid(7, 7));
    m_view->setGrids(filled(8, 1.0), Grid(8, 9), Grid(8, 9));
    m_view->setGrids(Grid(9, 8), Grid(8, 8), Grid(8, 8));
    QCOMPARE(m_view->densityGrid().NumRows(), 6u);
    QCOMPARE(m_view->densityGrid()(3, 3), 0.5);
    m_view->setViewMode(Velocity);
    m_view->setViewMode(Density);
    QCOMPARE(m_view->grabFramebuffer(), before);
}

void GLViewTest::resizingStretchesThePicture() {
    const Grid d = leftHalfWhite();
    const Grid zero(6, 6);
    m_view->setGrids(d, zero, zero);
    m_view->resize(400, 200);
    QTRY_COMPARE_WITH_TIMEOUT(m_view->grabFramebuffer().size(), QSize(400, 200), 60000);
    const QImage img = m_view->grabFramebuffer();
    QVERIFY(greyAt(img, 0.1, 0.2) > 247);
    QVERIFY(greyAt(img, 0.1, 0.9) > 247);
    QVERIFY(greyAt(img, 0.9, 0.5) < 8);
    // The last white column's quad fades to black across [0.25, 0.5].
    QVERIFY(std::abs(greyAt(img, 0.3, 0.5) - 204) < 12);
    QVERIFY(std::abs(greyAt(img, 0.45, 0.5) - 51) < 12);
}

void GLViewTest::drawingsMatchOneCallPerVertex_data() {
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("oddValues");
    QTest::addColumn<bool>("emptySpace");
    QTest::newRow("3x3") << 3 << 3 << QSize(200, 200) << false << false;
    QTest::newRow("10x10") << 10 << 10 << QSize(200, 200) << true << false;
    QTest::newRow("66x66 stretched") << 66 << 66 << QSize(257, 131) << true << false;
    QTest::newRow("130x130") << 130 << 130 << QSize(300, 300) << false << false;
    QTest::newRow("258x258") << 258 << 258 << QSize(400, 400) << true << false;
    QTest::newRow("smoke in empty space") << 66 << 66 << QSize(300, 300) << true << true;
    QTest::newRow("3x3 half black") << 3 << 3 << QSize(200, 200) << false << true;
}

void GLViewTest::drawingsMatchOneCallPerVertex() {
    // Random densities beyond both ends of the grey scale and random
    // velocities, optionally with NaN and infinite cells, drawn by the view
    // and by a one-call-per-vertex reference of the same size. Each quad is
    // two triangles split along the diagonal from its lower-left corner, as
    // the renderer splits a quad; the other diagonal shades differently.
    // The geometry (vertex arrays, where shaders are unavailable) draws the
    // same pixels; the shader's density differs by at most one 8-bit level,
    // rounding differently, and never elsewhere than where the picture is.
    // (Square grids only, as the program has: a grid taller than wide
    // reaches outside the view, and clipping changes how the renderer splits
    // the reference's quads.)
    QFETCH(int, side);
    QFETCH(int, rows);
    QFETCH(QSize, size);
    QFETCH(bool, oddValues);
    QFETCH(bool, emptySpace);
    const auto cols = static_cast<std::uint32_t>(side);
    const auto nrows = static_cast<std::uint32_t>(rows);
    Grid d(nrows, cols), u(nrows, cols), v(nrows, cols);
    std::uint32_t state = 12345u + cols;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / double(1u << 24);
    };
    for (std::uint32_t j = 0; j < nrows; ++j) {
        for (std::uint32_t i = 0; i < cols; ++i) {
            d(i, j) = next() * 1.6 - 0.3;
            u(i, j) = next() - 0.5;
            v(i, j) = next() - 0.5;
        }
    }
    if (emptySpace) {
        // Smoke only in a band of columns; elsewhere zero, negative, NaN and
        // traces too faint to show (but some just bright enough to).
        const double faint[] = {0.0, -0.25, 1e-12, 0.0009, 0.00097, 0.0015, 0.0021};
        for (std::uint32_t j = 0; j < nrows; ++j) {
            for (std::uint32_t i = 0; i < cols; ++i) {
                if (i < cols / 3 || i > cols / 2) {
                    d(i, j) = faint[(i * 7 + j * 3) % 7];
                }
            }
        }
        d(0, 0) = std::numeric_limits<double>::quiet_NaN();
    }
    if (oddValues) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        d(1, 1) = nan;
        d(2, 1) = inf;
        d(cols - 2, nrows - 2) = -inf;
        u(cols / 2, nrows / 2) = nan;
        v(1, nrows - 2) = nan;
    }

    QWidget other;
    auto *reference = new ImmediateView;
    reference->setParent(&other);
    reference->setGeometry(0, 0, size.width(), size.height());
    other.resize(size);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other, 60000));
    m_view->resize(size);
    QTRY_COMPARE_WITH_TIMEOUT(m_view->grabFramebuffer().size(), size, 60000);

    reference->setShaderAllowed(false);
    for (bool shader : {false, true}) {
        m_view->setShaderAllowed(shader);
        for (ViewMode mode : {Density, Velocity}) {
            reference->setViewMode(mode);
            m_view->setViewMode(mode);
            reference->setGrids(d, u, v);
            m_view->setGrids(d, u, v);
            const QImage expected = reference->grabFramebuffer();
            const QImage drawn = m_view->grabFramebuffer();
            QCOMPARE(m_view->drawsWithShader(), shader);
            QVERIFY(!allBlack(expected));
            if (shader && mode == Density) {
                QCOMPARE(drawn.size(), expected.size());
                const int difference = largestDifference(drawn, expected);
                QVERIFY2(difference <= 1, qPrintable(QString::number(difference)));
            } else {
                QCOMPARE(drawn, expected);
            }
        }
    }
}

void GLViewTest::newSnapshotAndNewShapeRebuildTheArrays() {
    // The arrays are built once per snapshot: a repaint without new data
    // shows the same picture, a new snapshot (also of another shape) shows
    // the new one, in both modes.
    const Grid zero6(6, 6), zero10(10, 10);
    m_view->setGrids(filled(6, 1.0), zero6, zero6);
    QVERIFY(greyAt(m_view->grabFramebuffer(), 0.5, 0.5) > 247);
    m_view->repaint();
    QVERIFY(greyAt(m_view->grabFramebuffer(), 0.5, 0.5) > 247);
    m_view->setGrids(filled(6, 0.0), zero6, zero6);
    QVERIFY(allBlack(m_view->grabFramebuffer()));
    m_view->setGrids(filled(10, 1.0), zero10, zero10);
    QVERIFY(greyAt(m_view->grabFramebuffer(), 0.95, 0.95) > 247);

    Grid u(10, 10);
    u(8, 8) = 1.0; // centre (0.9375, 0.9375)
    m_view->setViewMode(Velocity);
    m_view->setGrids(filled(10, 1.0), u, zero10);
    QVERIFY(brightestNear(m_view->grabFramebuffer(), 0.9375, 0.9375) > 200);
    m_view->setGrids(filled(10, 1.0), zero10, zero10);
    QVERIFY(allBlack(m_view->grabFramebuffer()));
    // Back to a 3 x 3 snapshot, then to nothing drawable at all.
    Grid u3(3, 3);
    u3(1, 1) = 1.0;
    m_view->setGrids(Grid(3, 3), u3, Grid(3, 3));
    QVERIFY(brightestNear(m_view->grabFramebuffer(), 0.5, 0.5) > 200);
    m_view->setGrids(Grid(2, 2), Grid(2, 2), Grid(2, 2));
    QVERIFY(allBlack(m_view->grabFramebuffer()));
    m_view->setViewMode(Density);
    QVERIFY(allBlack(m_view->grabFramebuffer()));
}

void GLViewTest::copyWithoutPaintShowsAtNextPaint() {
    const Grid zero(6, 6);
    const int before = m_view->paints;
    QVERIFY(m_view->copyGrids(filled(6, 1.0), zero, zero));
    QCOMPARE(m_view->paints, before); // nothing painted yet
    QCOMPARE(m_view->densityGrid()(3, 3), 1.0);
    QVERIFY(!m_view->copyGrids(filled(6, 0.0), zero, Grid(5, 5)));
    QCOMPARE(m_view->densityGrid()(3, 3), 1.0);
    QVERIFY(greyAt(m_view->grabFramebuffer(), 0.5, 0.5) > 247);
}

// Moving the view into another window gives it a new context; the shader and
// its texture are made again there and show the same picture.
void GLViewTest::anotherWindowGetsItsOwnShader() {
    const Grid d = leftHalfWhite();
    const Grid zero(6, 6);
    m_view->setGrids(d, zero, zero);
    QVERIFY(m_view->drawsWithShader());
    const QImage before = m_view->grabFramebuffer();
    QVERIFY(greyAt(before, 0.1, 0.5) > 247);

    QWidget other;
    other.resize(200, 200);
    m_view->setParent(&other);
    m_view->setGeometry(0, 0, 200, 200);
    m_view->show();
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other, 60000));
    QVERIFY(m_view->drawsWithShader());
    QCOMPARE(m_view->grabFramebuffer(), before);
    m_view->setParent(m_window); // back, so cleanup() deletes it
}

// The renderer gets the cores the simulation does not use, at least one, and
// a count the user chose stays.
void GLViewTest::softwareRendererLeavesTheSimulationItsCores() {
    QCOMPARE(GLView::rendererThreads(2, 2), 1);
    QCOMPARE(GLView::rendererThreads(1, 2), 1);
    QCOMPARE(GLView::rendererThreads(0, 1), 1); // core count unknown
    QCOMPARE(GLView::rendererThreads(8, 2), 6);

    const QByteArray saved = qgetenv("LP_NUM_THREADS");
    const bool wasSet = qEnvironmentVariableIsSet("LP_NUM_THREADS");
    qputenv("LP_NUM_THREADS", "3");
    GLView::leaveCoresToSimulation(2);
    QCOMPARE(qgetenv("LP_NUM_THREADS"), QByteArray("3"));
    qunsetenv("LP_NUM_THREADS");
    GLView::leaveCoresToSimulation(2);
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    QCOMPARE(qgetenv("LP_NUM_THREADS"), QByteArray::number(GLView::rendererThreads(cores, 2)));
    if (wasSet) {
        qputenv("LP_NUM_THREADS", saved);
    } else {
        qunsetenv("LP_NUM_THREADS");
    }
}

int main(int argc, char **argv) {
    // Fixed-function drawing needs a compatibility context; it must be the default
    // before the application object exists.
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    GLViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "glview_test.moc"
