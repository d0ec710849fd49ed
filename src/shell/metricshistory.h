#pragma once

#include "stepmetrics.h"

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace velloran {

// The distance curve for the plot, the summary and the checkpoints. Long runs are thinned out
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

} // namespace velloran
