#include "runloop.h"

#include "interruption.h"
#include "metricsfile.h"
#include "progress.h"
#include "smokeimage.h"
#include "targetschedule.h"
#include "videoencoder.h"

#include <utility>

namespace velloran {

RunLoop::RunLoop(Solver &solver, int steps, int every, Outputs outputs, Progress &progress,
                 FILE *messages)
    : m_solver(solver)
    , m_steps(steps)
    , m_every(every)
    , m_outputs(outputs)
    , m_progress(progress)
    , m_messages(messages) {}

void RunLoop::resumeAt(int step, MetricsHistory history, int frames, double seconds) {
    m_firstStep = step;
    m_history = std::move(history);
    m_frames = frames;
    m_secondsBefore = seconds;
}

RunLoop::Result RunLoop::run() {
    m_wall.start();
    Result result;
    result.step = m_firstStep;
    const auto failed = [&](QString error) {
        result.end = End::OutputFailed;
        result.error = std::move(error);
        result.videoFailed = m_videoFailed;
        return result;
    };
    QString error;
    // The signal is read once per step, before the step's row, frame and hooks:
    // the step at which the run stops is the step whose frame (and checkpoint)
    // is written, step 0 included.
    bool stopping = interruptRequested();
    if (m_firstStep == 0) {
        if (!record(measure(m_solver, 0, 0.0), true, &error)) {
            return failed(error);
        }
    }
    m_progress.update(m_firstStep, m_history.latest().distance, true);

    int step = m_firstStep;
    while (step < m_steps && !stopping) {
        QElapsedTimer stepClock;
        stepClock.start();
        const int target = m_schedule ? m_schedule->activeIndex(step) : 0;
        if (m_schedule) {
            m_schedule->apply(m_solver, step);
        }
        m_solver.step();
        m_solverNanoseconds += stepClock.nsecsElapsed();
        ++step;
        result.step = step;
        StepMetrics metrics = measure(m_solver, step, wallSeconds());
        metrics.target = target;
        if (!metrics.finite) {
            // The unstable step's row is kept: it shows where the run broke.
            m_history.add(metrics);
            if (!m_outputs.metrics.append(metrics, &error)) {
                return failed(error);
            }
            result.end = End::Unstable;
            result.videoFailed = m_videoFailed;
            return result;
        }
        stopping = interruptRequested();
        const bool frameDue = step % m_every == 0 || step == m_steps || stopping;
        if (!record(metrics, frameDue, &error)) {
            return failed(error);
        }
        m_progress.update(step, metrics.distance, step == m_steps);
    }
    if (step < m_steps) {
        result.end = End::Interrupted;
        result.signal = interruptSignal();
    }
    result.videoFailed = m_videoFailed;
    return result;
}

// The row, the frame if due, the hooks: everything a measured step leaves.
bool RunLoop::record(const StepMetrics &metrics, bool frameDue, QString *error) {
    m_history.add(metrics);
    if (!m_outputs.metrics.append(metrics, error)) {
        return false;
    }
    if (frameDue && (!writeFrame(metrics.step, error) || !m_outputs.metrics.flush(error))) {
        return false;
    }
    for (StepHook *hook : m_hooks) {
        if (!hook->afterStep(m_solver, metrics, m_history, frameDue, error)) {
            return false;
        }
    }
    return true;
}

// Every writer's files for the step, then the video frame. A failing encoder
// costs only the video: the run and its files go on.
bool RunLoop::writeFrame(int step, QString *error) {
    const QImage grey = densityImage(*m_solver.m_density);
    const Frame frame{step, m_solver, grey};
    for (const auto &writer : m_outputs.writers) {
        if (!writer->write(frame, error)) {
            return false;
        }
    }
    ++m_frames;
    QString videoError;
    if (m_outputs.video &&
        !m_outputs.video->addFrame(
            m_videoColour ? overBlack(smokeImage(*m_solver.m_density, *m_videoColour)) : grey,
            &videoError)) {
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
