#pragma once

// What a run is measured by, once per step.

#include "solver.h"

#include <QImage>
#include <QString>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace velloran {

struct StepMetrics {
    int step = 0;
    double distance = 0.0; // sum |rho - rho*| / sum rho* over the interior
    double mass = 0.0;     // sum rho over the interior
    double maxSpeed = 0.0; // largest |(u, v)| at the interior cell centres
    double seconds = 0.0;  // wall time since the run started
    bool finite = true;    // density and centred velocity all finite
    int substeps = 3;      // sub-cycles of the step: velocity + density + gathering
    int target = 0;        // index of the active target (0: the first)
    // Smoke the step moved: sum |change of rho| by the fluid's own transport,
    // and by everything else (gathering); 0 for step 0 (scheme.h).
    double advected = 0.0;
    double gathered = 0.0;
};

// Reads the solver's density, target (as equalised by the solver) and centred
// velocity, and the sub-cycles of its last step (0 for step 0, before any step;
// the caller fills in the active target). When the target carries no smoke the distance is the
// plain sum |rho - rho*|, which is 0 for an empty density.
StepMetrics measure(const Solver &solver, int step, double seconds);

// The distance curve for the plot and the summary. Long runs are thinned out
// (every other point dropped, the stride doubled) so memory stays bounded;
// the first, the lowest and the latest point are always known exactly.
class MetricsHistory {
public:
    static constexpr std::size_t kMaxPoints = 20000;

    // Everything the history holds, so that a resumed run continues it exactly.
    struct State {
        std::vector<StepMetrics> points;
        StepMetrics first;
        StepMetrics latest;
        StepMetrics best;
        bool hasBest = false;
        int stride = 1;
    };

    MetricsHistory() = default;
    explicit MetricsHistory(State state)
        : m_points(std::move(state.points))
        , m_first(state.first)
        , m_latest(state.latest)
        , m_best(state.best)
        , m_hasBest(state.hasBest)
        , m_stride(state.stride) {}

    State state() const { return {m_points, m_first, m_latest, m_best, m_hasBest, m_stride}; }

    void add(const StepMetrics &metrics) {
        if (m_points.empty()) {
            m_first = metrics;
        }
        if (std::isfinite(metrics.distance) && (!m_hasBest || metrics.distance < m_best.distance)) {
            m_best = metrics;
            m_hasBest = true;
        }
        m_latest = metrics;
        if (metrics.step % m_stride == 0) {
            m_points.push_back(metrics);
        }
        if (m_points.size() > kMaxPoints) {
            std::size_t kept = 0;
            for (std::size_t k = 0; k < m_points.size(); k += 2) {
                m_points[kept++] = m_points[k];
            }
            m_points.resize(kept);
            m_stride *= 2;
        }
    }

    // The points to draw, ending with the latest step.
    std::vector<StepMetrics> curve() const {
        std::vector<StepMetrics> points = m_points;
        if (!points.empty() && points.back().step != m_latest.step) {
            points.push_back(m_latest);
        }
        return points;
    }

    const StepMetrics &first() const { return m_first; }
    const StepMetrics &latest() const { return m_latest; }
    const StepMetrics &best() const { return m_hasBest ? m_best : m_first; }

private:
    std::vector<StepMetrics> m_points;
    StepMetrics m_first;
    StepMetrics m_latest;
    StepMetrics m_best;
    bool m_hasBest = false;
    int m_stride = 1;
};

// "step,distance,mass,max_speed,seconds,substeps,target,advected,gathered"
QString metricsCsvHeader();
QString metricsCsvLine(const StepMetrics &metrics);

// A plot of the distance against the step, with labelled axes and a dashed
// vertical line at each keyframe step (the active target changes after it).
// Non-finite points are left out. Needs a QGuiApplication (fonts).
QImage convergencePlot(const std::vector<StepMetrics> &history, const QString &title,
                       const std::vector<std::int64_t> &keyframeSteps = {});

// The interior of a framed density grid (N x N for a run; any rows x columns)
// as an 8-bit grey picture, upright: value clamp(rho, 0, 1) * 255 rounded;
// image row y shows grid row rows - y.
QImage densityImage(const Grid &density);

} // namespace velloran
