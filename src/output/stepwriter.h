#pragma once

// What each step of a run leaves on disk, the same for a render and for the
// desktop program's recording: the step's row in metrics.csv (and its point
// in the history behind the plot) and, when a frame is due, every writer's
// files for it.

#include "framewriter.h"
#include "metrics.h"
#include "metricsfile.h"

#include <QString>

#include <memory>
#include <vector>

namespace velloran {

class StepWriter {
public:
    StepWriter(MetricsFile &metrics, const std::vector<std::unique_ptr<FrameWriter>> &writers)
        : m_metrics(metrics)
        , m_writers(writers) {}

    // Continue a run: what its history and frame count were.
    void resumeAt(MetricsHistory history, int frames);

    // The step's row, and its point in the history.
    bool addRow(const StepMetrics &metrics, QString *error);
    // Every writer's files for the frame, the first failure ending it.
    bool writeFrame(const Frame &frame, QString *error);
    // The rows so far on disk (after each frame, so a frame never lies ahead
    // of the rows that led to it).
    bool flush(QString *error) { return m_metrics.flush(error); }

    const MetricsHistory &history() const { return m_history; }
    int frames() const { return m_frames; }
    // The step of the latest frame written (-1 before the first).
    int lastFrameStep() const { return m_lastFrameStep; }

private:
    MetricsFile &m_metrics;
    const std::vector<std::unique_ptr<FrameWriter>> &m_writers;
    MetricsHistory m_history;
    int m_frames = 0;
    int m_lastFrameStep = -1;
};

} // namespace velloran
