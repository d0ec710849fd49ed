#pragma once

// The steps of a render and what follows each one: the step is measured, its
// metrics row queued, its frame written when one is due (step 0, every K
// steps, the last step and the step at which the run was asked to stop), and
// the hooks called. The loop ends at the last step, at a stop signal, when the
// run becomes unstable, or at the first output failure; it leaves the plot,
// the closing of the metrics and the video to its caller.

#include "framewriter.h"
#include "metrics.h"
#include "smokecolour.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace velloran {

class MetricsFile;
class Progress;
class TargetSchedule;
class VideoEncoder;

// Something to do after every step, such as writing a checkpoint.
class StepHook {
public:
    virtual ~StepHook() = default;

    // Called after `metrics.step` has been measured, its row queued and, if
    // `frameWritten`, its frame written. Returning false (with *error naming
    // the file and the reason) stops the run as an output failure.
    virtual bool afterStep(const Solver &solver, const StepMetrics &metrics,
                           const MetricsHistory &history, bool frameWritten, QString *error) = 0;
};

class RunLoop {
public:
    enum class End { Completed, Interrupted, Unstable, OutputFailed };

    struct Result {
        End end = End::Completed;
        int step = 0;   // steps done
        int signal = 0; // for Interrupted: the signal that stopped the run
        QString error;  // for OutputFailed: which file and why
        bool videoFailed = false;
    };

    struct Outputs {
        MetricsFile &metrics;
        const std::vector<std::unique_ptr<FrameWriter>> &writers;
        std::unique_ptr<VideoEncoder> &video; // may be empty; reset if the encoder fails
    };

    // `messages` takes the note about a failed video (stderr in the program).
    RunLoop(Solver &solver, int steps, int every, Outputs outputs, Progress &progress,
            FILE *messages);

    // Continue a run at `step` instead of starting at 0: `history` and `frames`
    // are what the run had then, `seconds` its wall time so far. Step 0 is then
    // neither measured nor written again.
    void resumeAt(int step, MetricsHistory history, int frames, double seconds);

    void addHook(StepHook *hook) { m_hooks.push_back(hook); }

    // Keyframes: before every step the schedule may hand the solver a new
    // target; each row's `target` names the one its step was computed with.
    void setSchedule(TargetSchedule *schedule) { m_schedule = schedule; }

    // The video shows RGBA frames of this colour over black instead of the
    // grey ones.
    void showVideoInColour(const SmokeColour &colour) { m_videoColour = colour; }

    int every() const { return m_every; }
    // The step the run started at (0, or where it was resumed).
    int firstStep() const { return m_firstStep; }

    Result run();

    const MetricsHistory &history() const { return m_history; }
    int frames() const { return m_frames; }
    double solverSeconds() const { return m_solverNanoseconds / 1e9; }
    double wallSeconds() const { return m_secondsBefore + sessionSeconds(); }
    // Wall time of this run() alone (without the time before a resume).
    double sessionSeconds() const { return m_wall.nsecsElapsed() / 1e9; }

private:
    bool record(const StepMetrics &metrics, bool frameDue, QString *error);
    bool writeFrame(int step, QString *error);

    Solver &m_solver;
    int m_steps;
    int m_every;
    Outputs m_outputs;
    Progress &m_progress;
    FILE *m_messages;
    std::vector<StepHook *> m_hooks;
    TargetSchedule *m_schedule = nullptr;
    std::optional<SmokeColour> m_videoColour;

    int m_firstStep = 0;
    MetricsHistory m_history;
    int m_frames = 0;
    double m_secondsBefore = 0.0;
    QElapsedTimer m_wall;
    qint64 m_solverNanoseconds = 0;
    bool m_videoFailed = false;
};

} // namespace velloran
