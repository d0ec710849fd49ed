#pragma once

// GLView: draws the latest simulation snapshot, either as a grey-scale picture
// of the density or as one short line segment per cell for the velocity.
//
// The view keeps its own copies of the three grids and redraws everything from
// them on every paint, so it never reads memory that another thread writes.
// Drawing coordinates are the unit square stretched over the whole widget,
// y pointing up; grid row 1 is at the bottom, column 1 at the left.
//
// The density is drawn by a fragment shader from one textured quad where the
// context has OpenGL 3.0 (densityshader.h); elsewhere, and for the velocity,
// through vertex and colour arrays built from the copies (once per new
// snapshot and mode, not per paint): a 256 x 256 snapshot is about 66 000
// shared corners and 65 536 quads or segments, far too many for one call per
// vertex.

#include "colourpicture.h"
#include "densityshader.h"
#include "grid.h"
#include "obstacleoverlay.h"

#include <QElapsedTimer>
#include <QImage>
#include <QOpenGLWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

enum ViewMode : int { Density = 0, Velocity = 1 };

class GLView : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit GLView(QWidget *parent = nullptr);
    ~GLView() override;

    GLView(const GLView &) = delete;
    GLView &operator=(const GLView &) = delete;

    // Copies the three grids and repaints before returning, so the caller may
    // hand over grids another thread writes while it holds that thread's lock.
    // The three must have the same shape: a mismatched set is refused and the
    // previous picture stays (drawing reads u and v at the same cells).
    void setGrids(const Grid &density, const Grid &u, const Grid &v);
    // The copy alone, without painting: for a caller that copies while it
    // holds another thread's lock and repaints after releasing it. Returns
    // false, keeping the previous grids, for a mismatched set.
    // A colour run's further fields come in `fields` (density is the
    // first); each must have the density's shape.
    bool copyGrids(const Grid &density, const Grid &u, const Grid &v,
                   const std::vector<Grid> &fields = {});
    // How the density is drawn: grey (none, the default) or the picture of a
    // colour run's fields, one colour per field in the order copyGrids takes
    // them. Repaints.
    void setColourPicture(const std::optional<velloran::ColourPicture> &picture);
    // The colour picture last drawn (null before one, or in grey).
    const QImage &colourImage() const { return m_colourImage; }
    void setViewMode(ViewMode mode);
    // The run's obstacles, drawn as a tint over the smoke in both modes: a
    // framed (N + 2) x (N + 2) mask, 1 in the solid cells (copied); null for
    // none. Repaints.
    void setObstacles(const Grid *mask);
    // Number of solid cells the view draws.
    std::size_t obstacleCellCount() const { return m_obstacles.cellCount(); }

    ViewMode viewMode() const { return m_mode; }

    // Whether the density may be drawn by the shader (default true). False
    // draws the geometry, as where shaders are unavailable; for comparisons.
    void setShaderAllowed(bool allowed);
    // True when the density is drawn by the shader (known once initialised).
    bool drawsWithShader() const { return m_shaderReady && m_shaderAllowed; }
    // Cost of the last complete frame in milliseconds: the drawing (wall
    // time, up to the finished picture) plus the window's composition and
    // buffer swap (processor time of this thread). 0 before the first frame.
    double lastFrameMs() const { return m_lastFrameMs; }
    const Grid &densityGrid() const { return *m_densityGrid; }
    const Grid &uGrid() const { return *m_uGrid; }
    const Grid &vGrid() const { return *m_vGrid; }

    QSize sizeHint() const override;

    // The software renderer allocates and frees its binning memory on every
    // frame; with the C library's default trimming that memory goes back to
    // the system each time and is faulted in afresh, which can double the
    // cost of a paint. Keeps freed heap memory in the process instead. Call
    // once, early in main().
    static void retainRendererMemory();

    // Mesa's software renderer draws each frame with one thread per core, the
    // cores the simulation steps on included; and the scheduler puts a waking
    // thread first on a core that runs only idle-priority work, which is
    // where the simulation runs. Leaves simulationThreads cores to the
    // simulation by giving the renderer the rest (at least one), unless the
    // user chose a count (LP_NUM_THREADS). Other drivers ignore the setting.
    // Call in main() before the application object exists.
    static void leaveCoresToSimulation(int simulationThreads);
    static int rendererThreads(int cores, int simulationThreads);

    // Velocity scale: the largest component is drawn three cells long. Returns
    // 0 when nothing can be scaled (a field at rest, or an infinite component).
    static double velocityScale(double cellSize, double largestComponent);
    // Grey level of a density value: clamped to [0, 1]; NaN shows black.
    static double greyLevel(double density);

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    void releaseShader();
    void drawDensity();
    void drawVelocity();
    void buildDensityArrays();
    void buildVelocityArrays();
    void drawColour();
    void refreshColourImage();

    ViewMode m_mode;
    std::unique_ptr<Grid> m_densityGrid;
    std::unique_ptr<Grid> m_uGrid;
    std::unique_ptr<Grid> m_vGrid;

    // Interleaved vertices: x, y, red, green, blue (floats, which is what the
    // pipeline keeps of double coordinates and colours anyway).
    std::vector<float> m_densityVertices;     // one per shared corner
    std::vector<std::uint32_t> m_quadIndices; // two triangles per quad not all black
    std::size_t m_quadIndexCount = 0;         // how many of m_quadIndices are used
    std::vector<float> m_velocityVertices;    // two per drawn segment
    bool m_densityStale = true;
    bool m_velocityStale = true;

    std::vector<Grid> m_fieldGrids;           // a colour run's further fields
    std::vector<const Grid *> m_colourInputs; // drawing scratch: every field, in order
    std::optional<velloran::ColourPicture> m_colour;
    QImage m_colourImage;           // redrawn in place from the copies
    bool m_colourStale = true;      // m_colourImage lags the copies
    unsigned m_fallbackTexture = 0; // the colour picture where there is no shader
    QSize m_fallbackSize;

    ObstacleOverlay m_obstacles;
    DensityShader m_shader;
    bool m_shaderAllowed = true;
    bool m_shaderReady = false; // compiled in the current context
    bool m_textureStale = true; // the shader's texture lags the density copy

    double m_paintMs = 0.0;       // the last paint, up to the finished picture
    double m_composeStart = -1.0; // thread time when composition began; -1: none
    double m_lastFrameMs = 0.0;
};
