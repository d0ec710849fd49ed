#pragma once

// The steps of a render and the files each one leaves: the run's report of
// the step becomes a metrics row, its frame is written when one is due (step
// 0, every K steps, the last step and the step at which the run was asked to
// stop), then the run's other observers (checkpoints) follow. The loop ends at
// the last step, at a stop signal, when the run becomes unstable, or at the
// first output failure; it leaves the plot, the closing of the metrics and the
// video to its caller.

#include "colourerror.h"
#include "colourpicture.h"
#include "framewriter.h"
#include "metrics.h"
#include "run.h"
#include "smokecolour.h"
#include "stepwriter.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloran {

class MetricsFile;
class Progress;
class VideoEncoder;

class RunLoop : private StepObserver {
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

    // Steps `run` up to `steps` steps, following it as its first observer
    // (observers added to the run later come after the step's files).
    // `messages` takes the note about a failed video (stderr in the program).
    RunLoop(Run &run, int steps, int every, Outputs outputs, Progress &progress, FILE *messages);
    ~RunLoop() override;

    // Continue a run at `step` instead of starting at 0: `history` and `frames`
    // are what the run had then, `seconds` its wall time so far. Step 0 is then
    // neither measured nor written again.
    void resumeAt(int step, MetricsHistory history, int frames, double seconds);

    // The video shows RGBA frames of this colour over black instead of the
    // grey ones.
    void showVideoInColour(const SmokeColour &colour) { m_videoColour = colour; }
    // A colour run: each row gains its colour error, and the video shows the
    // fields' picture.
    void showColourPicture(const ColourPicture &picture) { m_picture = picture; }

    int every() const { return m_every; }
    // The step of the latest frame written (-1 before the first).
    int lastFrameStep() const { return m_files.lastFrameStep(); }
    // The step the run started at (0, or where it was resumed).
    int firstStep() const { return m_firstStep; }

    Result run();

    const MetricsHistory &history() const { return m_files.history(); }
    int frames() const { return m_files.frames(); }
    double solverSeconds() const { return m_run.solverSeconds(); }
    // Wall time of this run() alone (without the time before a resume).
    double sessionSeconds() const { return m_wall.nsecsElapsed() / 1e9; }

private:
    Result steps();
    void updateProgress(int step, double distance, bool force);
    bool stepFinished(const Solver &solver, const StepReport &report, std::string *error) override;
    bool record(const StepMetrics &metrics, bool frameDue, QString *error);
    bool writeFrame(int step, QString *error);
    QImage videoFrame(const QImage &grey) const;

    Run &m_run;
    int m_steps;
    int m_every;
    Outputs m_outputs;
    Progress &m_progress;
    FILE *m_messages;
    std::optional<SmokeColour> m_videoColour;
    std::optional<ColourPicture> m_picture;
    // Kept from step to step so that a colour run's row and its lists of
    // fields allocate nothing after the first step.
    StepMetrics m_row;
    std::vector<const Grid *> m_densities;
    std::vector<const Grid *> m_targets;
    ColourErrorMeter m_colourError;

    StepWriter m_files; // the metrics rows and the frames
    int m_firstStep = 0;
    bool m_stopping = false; // a stop signal was seen after the latest step
    QElapsedTimer m_wall;
    bool m_videoFailed = false;
};

} // namespace velloran
