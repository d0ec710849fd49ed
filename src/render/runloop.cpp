#include "runloop.h"

#include "fieldgrids.h"
#include "interruption.h"
#include "metricsfile.h"
#include "phasetimes.h"
#include "progress.h"
#include "smokeimage.h"
#include "solver.h"
#include "videoencoder.h"

#include <cmath>
#include <utility>

namespace velloran {

RunLoop::RunLoop(Run &run, int steps, int every, Outputs outputs, Progress &progress,
                 FILE *messages)
    : m_run(run)
    , m_steps(steps)
    , m_every(every)
    , m_outputs(outputs)
    , m_progress(progress)
    , m_messages(messages)
    , m_files(outputs.metrics, outputs.writers) {
    m_run.addObserver(this);
}

RunLoop::~RunLoop() {
    m_run.removeObserver(this);
}

void RunLoop::resumeAt(int step, MetricsHistory history, int frames, double seconds) {
    m_run.resumeAt(step, seconds);
    m_firstStep = step;
    m_files.resumeAt(std::move(history), frames);
}

RunLoop::Result RunLoop::run() {
    PhaseTimes::instance().lap(Phase::Setup);
    m_wall.start();
    Result result = steps();
    PhaseTimes &phases = PhaseTimes::instance();
    phases.lap(Phase::Steps);
    phases.add(Phase::Solver, std::chrono::nanoseconds(std::llround(m_run.solverSeconds() * 1e9)));
    phases.add(Phase::Metrics,
               std::chrono::nanoseconds(std::llround(m_run.measureSeconds() * 1e9)));
    return result;
}

RunLoop::Result RunLoop::steps() {
    Result result;
    result.step = m_firstStep;
    const auto failed = [&](QString error) {
        result.end = End::OutputFailed;
        result.error = std::move(error);
        result.videoFailed = m_videoFailed;
        return result;
    };
    if (m_firstStep == 0) {
        const StepReport start = m_run.begin();
        if (start.failed) {
            return failed(QString::fromStdString(start.error));
        }
    } else {
        m_stopping = interruptRequested();
    }
    updateProgress(m_firstStep, m_files.history().latest().distance, true);

    int step = m_firstStep;
    while (step < m_steps && !m_stopping) {
        const StepReport report = m_run.step();
        step = static_cast<int>(report.step);
        result.step = step;
        if (!report.finite) {
            // The unstable step's row is kept: it shows where the run broke.
            QString error;
            if (!m_files.addRow(*report.metrics, &error)) {
                return failed(error);
            }
            result.end = End::Unstable;
            result.videoFailed = m_videoFailed;
            return result;
        }
        if (report.failed) {
            return failed(QString::fromStdString(report.error));
        }
        updateProgress(step, report.metrics->distance, step == m_steps);
    }
    if (step < m_steps) {
        result.end = End::Interrupted;
        result.signal = interruptSignal();
    }
    result.videoFailed = m_videoFailed;
    return result;
}

void RunLoop::updateProgress(int step, double distance, bool force) {
    const PhaseScope timed(Phase::Progress);
    m_progress.update(step, distance, force);
}

// The run's first observer: every finite step's files come before the other
// observers hear of it.
bool RunLoop::stepFinished(const Solver &, const StepReport &report, std::string *error) {
    // The signal is read once per step, before the step's row, frame and the
    // other observers: the step at which the run stops is the step whose frame
    // (and checkpoint) is written, step 0 included.
    m_stopping = interruptRequested();
    const StepMetrics *metrics = &*report.metrics;
    if (m_picture) {
        const PhaseScope timed(Phase::Rows);
        collectFieldGrids(m_run.solver(), FieldGrid::Density, &m_densities);
        collectFieldGrids(m_run.solver(), FieldGrid::Target, &m_targets);
        m_row = *report.metrics;
        m_row.colourError = m_colourError.measure(m_densities, m_targets, *m_picture);
        metrics = &m_row;
    }
    const bool frameDue = metrics->step % m_every == 0 || metrics->step == m_steps || m_stopping;
    QString failure;
    if (!record(*metrics, frameDue, &failure)) {
        *error = failure.toStdString();
        return false;
    }
    return true;
}

// The row and the frame if due: the files a measured step leaves.
bool RunLoop::record(const StepMetrics &metrics, bool frameDue, QString *error) {
    {
        const PhaseScope timed(Phase::Rows);
        if (!m_files.addRow(metrics, error)) {
            return false;
        }
    }
    const PhaseScope timed(Phase::Frames);
    return !frameDue || (writeFrame(metrics.step, error) && m_files.flush(error));
}

QImage RunLoop::videoFrame(const QImage &grey) const {
    const Solver &solver = m_run.solver();
    if (m_picture) {
        return colourImage(fieldDensities(solver), *m_picture);
    }
    return m_videoColour ? overBlack(smokeImage(*solver.m_density, *m_videoColour)) : grey;
}

// Every writer's files for the step, then the video frame. A failing encoder
// costs only the video: the run and its files go on.
bool RunLoop::writeFrame(int step, QString *error) {
    const Solver &solver = m_run.solver();
    const QImage grey = densityImage(*solver.m_density);
    if (!m_files.writeFrame(Frame{step, solver.fields(), grey}, error)) {
        return false;
    }
    QString videoError;
    if (m_outputs.video && !m_outputs.video->addFrame(videoFrame(grey), &videoError)) {
        m_progress.close();
        std::fprintf(m_messages, "velloran-render: %s; no video, the run goes on\n",
                     videoError.toLocal8Bit().constData());
        std::fflush(m_messages);
        m_outputs.video.reset();
        m_videoFailed = true;
    }
    return true;
}

} // namespace velloran
