// Time of one repaint of the grid view, for a 256 x 256 snapshot (grids of
// 258 x 258) in a 768 x 768 view, in both modes (the density once with smoke
// everywhere, once with smoke in a disc only): the density drawn by the
// shader, by the vertex arrays (the fallback where shaders are unavailable)
// and one call per vertex, side by side. Not a test: run it by hand under an
// X server,
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/view/glview_bench [repeats]
// and it prints medians and the spread of the repeats in milliseconds, of
// wall time and of the process's processor time (all threads, the software
// renderer's included; less disturbed by other work on a busy machine).
//
// "paint" is the drawing alone, repeated on the same snapshot (paintGL into
// the view's framebuffer, then glFinish so the software renderer has really
// drawn); "new snapshot" is what the window pays per shown step: copy the
// three grids, then paint. The ways are timed in turn, repeat by repeat, so a
// change in the machine's load hits all of them. The velocity view has no
// shader: its two array lines time the same drawing twice.

#include "glview.h"
#include "immediateview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSurfaceFormat>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

template <typename Base> class Timed : public Base {
public:
    void paintNow() {
        this->makeCurrent();
        this->paintGL();
        glFinish();
        this->doneCurrent();
    }
};

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Sample {
    std::vector<double> wall, cpu;
};

template <typename Fn> void timeOnce(Sample &s, Fn fn) {
    QElapsedTimer clock;
    const double cpu0 = cpuMs();
    clock.start();
    fn();
    s.wall.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    s.cpu.push_back(cpuMs() - cpu0);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void report(const char *what, const Sample &s) {
    std::printf("  %-28s wall median %7.2f ms (min %6.2f, max %6.2f)   cpu median %7.2f ms\n", what,
                median(s.wall), *std::min_element(s.wall.begin(), s.wall.end()),
                *std::max_element(s.wall.begin(), s.wall.end()), median(s.cpu));
}

template <typename View> void showAndWait(View &view) {
    view.resize(768, 768);
    view.show();
    while (!view.isValid()) {
        QCoreApplication::processEvents();
    }
}

} // namespace

int main(int argc, char **argv) {
    GLView::retainRendererMemory();
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;

    Timed<GLView> shader;
    Timed<GLView> arrays;
    Timed<ImmediateView> immediate;
    arrays.setShaderAllowed(false);
    immediate.setShaderAllowed(false);
    showAndWait(shader);
    showAndWait(arrays);
    showAndWait(immediate);
    if (!shader.drawsWithShader()) {
        std::printf("no OpenGL 3.0 context: the shader is unavailable\n");
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
    arrays.makeCurrent();
    std::printf("view %dx%d, snapshot %ux%u, %d repeats, %s\n", arrays.width(), arrays.height(),
                side - 2, side - 2, repeats,
                reinterpret_cast<const char *>(glGetString(GL_RENDERER)));
    arrays.doneCurrent();

    // A disc of smoke (radius 0.35 of the view) in empty space, about what a
    // run shows once the smoke has gathered: a good part of the view black.
    Grid disc(side, side);
    for (std::uint32_t j = 0; j < side; ++j) {
        for (std::uint32_t i = 0; i < side; ++i) {
            const double x = (i - 0.5) / (side - 2) - 0.5, y = (j - 0.5) / (side - 2) - 0.5;
            disc(i, j) = x * x + y * y < 0.35 * 0.35 ? d(i, j) : 0.0;
        }
    }

    struct Case {
        const char *name;
        ViewMode mode;
        const Grid *density;
    };
    for (const Case &c : {Case{"density, smoke everywhere", Density, &d},
                          Case{"density, a disc of smoke in empty space", Density, &disc},
                          Case{"velocity", Velocity, &d}}) {
        const Grid &density = *c.density;
        shader.setViewMode(c.mode);
        arrays.setViewMode(c.mode);
        immediate.setViewMode(c.mode);
        shader.copyGrids(density, u, v);
        arrays.copyGrids(density, u, v);
        immediate.copyGrids(density, u, v);
        shader.paintNow(); // the first paint uploads the texture, builds the arrays
        arrays.paintNow();
        immediate.paintNow();
        QCoreApplication::processEvents();

        Sample shaderPaint, arrayPaint, immediatePaint, shaderNew, arrayNew, immediateNew;
        for (int k = 0; k < repeats; ++k) {
            timeOnce(shaderPaint, [&] { shader.paintNow(); });
            timeOnce(arrayPaint, [&] { arrays.paintNow(); });
            timeOnce(immediatePaint, [&] { immediate.paintNow(); });
            timeOnce(shaderNew, [&] {
                shader.copyGrids(density, u, v);
                shader.paintNow();
            });
            timeOnce(arrayNew, [&] {
                arrays.copyGrids(density, u, v);
                arrays.paintNow();
            });
            timeOnce(immediateNew, [&] {
                immediate.copyGrids(density, u, v);
                immediate.paintNow();
            });
        }
        std::printf("%s\n", c.name);
        report("paint, one call per vertex", immediatePaint);
        report("paint, arrays", arrayPaint);
        report("paint, shader", shaderPaint);
        report("new snapshot, per vertex", immediateNew);
        report("new snapshot, arrays", arrayNew);
        report("new snapshot, shader", shaderNew);
        std::printf("  ratio shader / arrays (new snapshot): wall %.2f, cpu %.2f\n",
                    median(shaderNew.wall) / median(arrayNew.wall),
                    median(shaderNew.cpu) / median(arrayNew.cpu));
    }
    return 0;
}
