#include "stepwriter.h"

#include <utility>

namespace velloran {

void StepWriter::resumeAt(MetricsHistory history, int frames) {
    m_history = std::move(history);
    m_frames = frames;
}

bool StepWriter::addRow(const StepMetrics &metrics, QString *error) {
    m_history.add(metrics);
    return m_metrics.append(metrics, error);
}

bool StepWriter::writeFrame(const Frame &frame, QString *error) {
    for (const auto &writer : m_writers) {
        if (!writer->write(frame, error)) {
            return false;
        }
    }
    ++m_frames;
    m_lastFrameStep = frame.step;
    return true;
}

} // namespace velloran
