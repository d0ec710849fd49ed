// What the window pays per shown frame of a colour run against a grey one:
// copy the frame's grids into the view, then paint (the view's paintGL into
// its framebuffer and glFinish, so the software renderer has really drawn).
// Grey (K = 0) against K = 2 and 4 fields, at 128 and 256, with the shader and
// with the fallback. Not a test: run it by hand under an X server,
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/view/colourframe_bench
//       --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
//
// Each case also counts the heap blocks asked for per frame ("allocs": malloc,
// calloc and realloc of every thread, the software renderer's included), so a
// colour frame that allocated where a grey one does not shows as a larger
// count; BM_ColourPicture counts the picture's own drawing alone, which must
// be 0 once its image exists. BM_ColourError is what recording a colour run
// adds to each of its steps.

#include "colourerror.h"
#include "colourpicture.h"
#include "glview.h"

#include <QApplication>
#include <QSurfaceFormat>

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

// Counts every block asked of the C library's allocator, then hands the
// request on to it.
namespace {
std::atomic<long> g_allocations{0};
} // namespace

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);

void *malloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void *realloc(void *block, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
}

namespace {

class TimedView : public GLView {
public:
    void paintNow() {
        makeCurrent();
        paintGL();
        glFinish();
        doneCurrent();
    }
};

// The views, shown once: one draws with the shader, one with the fallback.
TimedView *g_views[2] = {nullptr, nullptr};

// A frame of `fields` smoke fields (0: a grey run) of side n: swirls of smoke
// shared out among the fields by angle, so every colour shows and mixes.
struct Snapshot {
    Grid density, u, v;
    std::vector<Grid> further;
    velloran::ColourPicture picture;

    // Every field's density, in order.
    std::vector<const Grid *> densities() const {
        std::vector<const Grid *> all = {&density};
        for (const Grid &grid : further) {
            all.push_back(&grid);
        }
        return all;
    }

    Snapshot(std::uint32_t n, int fields)
        : density(n + 2, n + 2)
        , u(n + 2, n + 2)
        , v(n + 2, n + 2) {
        const int count = std::max(fields, 1);
        further.assign(static_cast<std::size_t>(count - 1), Grid(n + 2, n + 2));
        const velloran::SmokeColour palette[4] = {
            {224, 48, 32}, {32, 64, 192}, {240, 200, 40}, {40, 170, 120}};
        for (int k = 0; k < fields; ++k) {
            picture.colours.push_back(palette[k]);
        }
        for (std::uint32_t i = 0; i < n + 2; ++i) {
            for (std::uint32_t j = 0; j < n + 2; ++j) {
                const double x = (i - 0.5) / n - 0.5, y = (j - 0.5) / n - 0.5;
                const double smoke = 0.5 + 0.5 * std::sin(i * 0.05) * std::cos(j * 0.07);
                const double share = (std::atan2(y, x) + M_PI) / (2 * M_PI) * count;
                const int owner = std::min(count - 1, static_cast<int>(share));
                for (int k = 0; k < count; ++k) {
                    (k == 0 ? density : further[static_cast<std::size_t>(k - 1)])(i, j) =
                        k == owner ? smoke : 0.1 * smoke;
                }
                u(i, j) = std::sin(j * 0.1);
                v(i, j) = std::cos(i * 0.1);
            }
        }
    }
};

// The blocks asked for since `before`, per iteration, as the case's "allocs".
void countAllocations(benchmark::State &state, long before) {
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                           static_cast<double>(state.iterations()));
}

// Args: side, fields (0: grey), shader (1) or fallback (0).
void BM_Frame(benchmark::State &state) {
    const Snapshot frame(static_cast<std::uint32_t>(state.range(0)),
                         static_cast<int>(state.range(1)));
    TimedView &view = *g_views[state.range(2) == 1 ? 0 : 1];
    view.setColourPicture(frame.picture.colours.empty()
                              ? std::nullopt
                              : std::optional<velloran::ColourPicture>(frame.picture));
    // The first frame of a size makes the images and textures.
    view.copyGrids(frame.density, frame.u, frame.v, frame.further);
    view.paintNow();
    const long before = g_allocations.load();
    for (auto _ : state) {
        view.copyGrids(frame.density, frame.u, frame.v, frame.further);
        view.paintNow();
    }
    countAllocations(state, before);
}

// The colour picture alone, into an image that exists: the CPU side of a
// colour frame that the grey frame does not have.
void BM_ColourPicture(benchmark::State &state) {
    const Snapshot frame(static_cast<std::uint32_t>(state.range(0)),
                         static_cast<int>(state.range(1)));
    const std::vector<const Grid *> fields = frame.densities();
    QImage image;
    velloran::drawColourImage(fields, frame.picture, &image);
    const long before = g_allocations.load();
    for (auto _ : state) {
        velloran::drawColourImage(fields, frame.picture, &image);
        benchmark::DoNotOptimize(image.constBits());
    }
    countAllocations(state, before);
}

// What a recording adds to each step of a colour run, on the run's thread:
// the colour error of the renderer's rows (the fields' picture against their
// targets' picture, cell by cell). "kept" 1 is a run's meter between keyframes
// (the targets' picture drawn once), 0 draws it every step.
void BM_ColourError(benchmark::State &state) {
    const Snapshot frame(static_cast<std::uint32_t>(state.range(0)),
                         static_cast<int>(state.range(1)));
    const Snapshot target(static_cast<std::uint32_t>(state.range(0)),
                          static_cast<int>(state.range(1)));
    const std::vector<const Grid *> fields = frame.densities(), targets = target.densities();
    velloran::ColourErrorMeter meter;
    for (auto _ : state) {
        if (state.range(2) == 0) {
            meter = velloran::ColourErrorMeter();
        }
        benchmark::DoNotOptimize(meter.measure(fields, targets, frame.picture));
    }
}

} // namespace

BENCHMARK(BM_Frame)
    ->ArgNames({"n", "fields", "shader"})
    ->ArgsProduct({{128, 256}, {0, 2, 4}, {1, 0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColourPicture)
    ->ArgNames({"n", "fields"})
    ->ArgsProduct({{128, 256}, {2, 4}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColourError)
    ->ArgNames({"n", "fields", "kept"})
    ->ArgsProduct({{128, 256}, {2, 4}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    GLView::retainRendererMemory();
    QSurfaceFormat format;
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    QSurfaceFormat::setDefaultFormat(format);
    QApplication app(argc, argv);
    TimedView shader, fallback;
    fallback.setShaderAllowed(false);
    for (TimedView *view : {&shader, &fallback}) {
        view->resize(768, 768);
        view->show();
        while (!view->isValid()) {
            QCoreApplication::processEvents();
        }
    }
    g_views[0] = &shader;
    g_views[1] = &fallback;
    benchmark::Initialize(&argc, argv);
    if (!shader.drawsWithShader()) {
        std::fprintf(stderr, "no OpenGL 3.0 context: the shader cases draw the fallback\n");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
