// Time of one repaint of the grid view, for a 256 x 256 snapshot (grids of
// 258 x 258), in both modes. Not a test: run it by hand under an X server,
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/view/glview_bench [repeats]
// and it prints the median and the spread of the repeats in milliseconds.
//
// "paint" is the drawing alone (paintGL into the view's framebuffer, then
// glFinish so the software renderer has really drawn); "setGrids" is the
// whole hand-over the window does per step: copy the three grids, repaint,
// once back to back (as during a run) and once with the window idle before.

#include "glview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSurfaceFormat>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

class BenchView : public GLView {
public:
    void paintNow() {
        makeCurrent();
        paintGL();
        glFinish();
        doneCurrent();
    }
};

struct Stats {
    double median, low, high;
};

template <typename Fn> Stats timeIt(int repeats, Fn fn) {
    std::vector<double> ms;
    for (int k = 0; k < repeats; ++k) {
        QElapsedTimer clock;
        clock.start();
        fn();
        ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

} // namespace

int main(int argc, char **argv) {
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;

    BenchView view;
    view.resize(768, 768);
    view.show();
    while (!view.isValid()) {
        QCoreApplication::processEvents();
    }

    const std::uint32_t side = 258;
    Grid d(side, side), u(side, side), v(side, side);
    for (std::uint32_t j = 0; j < side; ++j) {
        for (std::uint32_t i = 0; i < side; ++i) {
            d(i, j) = 0.5 + 0.5 * std::sin(i * 0.05) * std::cos(j * 0.07);
            u(i, j) = std::sin(j * 0.1);
            v(i, j) = std::cos(i * 0.1);
        }
    }
    view.setGrids(d, u, v);
    QCoreApplication::processEvents();

    std::printf("view %dx%d, snapshot %ux%u, %d repeats, %s\n", view.width(), view.height(),
                side - 2, side - 2, repeats,
                reinterpret_cast<const char *>(glGetString(GL_RENDERER)));
    for (ViewMode mode : {Density, Velocity}) {
        view.setViewMode(mode);
        QCoreApplication::processEvents();
        const Stats paint = timeIt(repeats, [&] { view.paintNow(); });
        const Stats hand = timeIt(repeats, [&] {
            view.setGrids(d, u, v);
            view.makeCurrent();
            glFinish();
            view.doneCurrent();
        });
        // The same with the window idle before each call: no frame pending.
        std::vector<double> idle;
        for (int k = 0; k < repeats; ++k) {
            QElapsedTimer pause;
            pause.start();
            while (pause.elapsed() < 50) {
                QCoreApplication::processEvents();
            }
            idle.push_back(timeIt(1, [&] {
                               view.setGrids(d, u, v);
                               view.makeCurrent();
                               glFinish();
                               view.doneCurrent();
                           }).median);
        }
        std::sort(idle.begin(), idle.end());
        std::printf("%-8s paint    median %7.2f ms (min %.2f, max %.2f)\n",
                    mode == Density ? "density" : "velocity", paint.median, paint.low, paint.high);
        std::printf("%-8s setGrids median %7.2f ms (min %.2f, max %.2f)\n",
                    mode == Density ? "density" : "velocity", hand.median, hand.low, hand.high);
        std::printf("%-8s setGrids median %7.2f ms (min %.2f, max %.2f) after 50 ms idle\n",
                    mode == Density ? "density" : "velocity", idle[idle.size() / 2], idle.front(),
                    idle.back());
    }
    return 0;
}
