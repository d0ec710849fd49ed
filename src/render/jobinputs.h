#pragma once

// A render job's inputs, every one checked before anything is created: the
// images, the keyframes' targets, what checkpoints will record, ffmpeg.

#include "checkpointfile.h"
#include "renderjob.h"
#include "runsetup.h"
#include "videoencoder.h"

#include "targetschedule.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace velloran {

struct JobInputs {
    RunDensities densities;                   // a colour run's first field
    std::vector<RunDensities> fields;         // a colour run: every field's, in order
    std::vector<SmokeColour> colours;         // a palette run: the palette's colours
    SmokeColour background;                   // a palette run: its target's background
    int side = 0;                             // of the run's square grid
    std::unique_ptr<TargetSchedule> schedule; // null without keyframes; a colour run's field 0
    std::vector<std::unique_ptr<TargetSchedule>> fieldSchedules; // a colour run's fields 1, 2, ...
    std::optional<Grid> obstacles; // the run's solid cells (1), side x side
    CheckpointRun record;          // what checkpoints hold of the run
    QString ffmpeg;                // when the job asks for a video
};

// A resumed run's record is its checkpoint's. False with a one-line *error
// on the first input that fails.
bool checkJobInputs(const RenderJob &job, const Checkpoint *resume, JobInputs *inputs,
                    QString *error);

// The run's solver: the one field's, or every field of a colour run sharing
// one flow; configured with the job's parameters and scheme.
std::unique_ptr<Solver> makeJobSolver(const RenderJob &job, const JobInputs &inputs);

// "obstacles: PATH (K of N x N cells solid)", or empty without obstacles.
QString obstaclesNote(const RenderJob &job, const JobInputs &inputs);

// A larger target is read in its top-left corner only; the window does so
// silently, the renderer says which part.
QString croppedTargetNote(const RenderJob &job, const RunDensities &densities);

// The encoder of a job with a video (none otherwise), started once the
// output folder exists: the video may go into it.
bool startVideo(const RenderJob &job, const QString &ffmpeg, int side,
                std::unique_ptr<VideoEncoder> *video, QString *error);

} // namespace velloran
