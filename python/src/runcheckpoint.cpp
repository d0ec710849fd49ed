#include "runcheckpoint.h"

#include "checkpointio.h"
#include "errors.h"
#include "regularfile.h"
#include "runsetup.h"
#include "solverstate.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace velloran::binding {

namespace {

const QString kFirstTarget = QStringLiteral("first target");

QString keyframeGridName(std::size_t index) {
    return QStringLiteral("keyframe target %1").arg(index + 1);
}

// A colour run's further fields' first targets, named as the solver names
// their grids (field 1, 2, ...).
QString fieldFirstTargetName(std::size_t field) {
    return QStringLiteral("first target.%1").arg(field);
}

QString fromPath(const std::string &path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

const char *statusText(CheckpointStatus status) {
    switch (status) {
    case CheckpointStatus::NotACheckpoint:
        return "not a checkpoint";
    case CheckpointStatus::OtherVersion:
        return "written by another version";
    case CheckpointStatus::Truncated:
        return "truncated";
    case CheckpointStatus::Corrupted:
        return "corrupted";
    case CheckpointStatus::Ok:
        break;
    }
    return "usable";
}

// An N x N grid of the checkpoint, or InputError.
const Grid &squareGrid(const Checkpoint &checkpoint, const QString &name, std::uint32_t n) {
    const Grid *grid = checkpoint.grid(name);
    if (!grid || grid->NumRows() != n || grid->NumCols() != n) {
        throw InputError("the checkpoint has no " + std::to_string(n) + " x " + std::to_string(n) +
                         " grid '" + name.toStdString() + "'");
    }
    return *grid;
}

// The keyframes as saveRunCheckpoint lays them out: in step order, and
// within a step one entry per field in field order, all with the step's
// blend (a grey run has one field). A colour run's further fields start from
// their own first targets.
void addKeyframes(const Checkpoint &checkpoint, std::uint32_t n, RunInputs *inputs) {
    const std::vector<KeyframeEntry> &entries = checkpoint.run.job.keyframes;
    if (entries.empty()) {
        return;
    }
    const std::size_t fields = std::max<std::size_t>(checkpoint.run.fields.size(), 1);
    if (entries.size() % fields != 0) {
        throw InputError("the checkpoint's keyframes do not give every field a target");
    }
    std::vector<std::vector<Keyframe>> byField(fields);
    std::int64_t previous = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const KeyframeEntry &entry = entries[k];
        const KeyframeEntry &group = entries[k - k % fields];
        if (entry.step != group.step || entry.blend != group.blend) {
            throw InputError("the checkpoint's keyframes do not give every field a target");
        }
        if ((k % fields == 0 && entry.step <= previous) || entry.blend < 0) {
            throw InputError("the checkpoint's keyframes are out of order");
        }
        previous = entry.step;
        byField[k % fields].push_back(
            Keyframe{entry.step, squareGrid(checkpoint, keyframeGridName(k), n), entry.blend});
    }
    inputs->keyframes = std::move(byField.front());
    for (std::size_t field = 1; field < fields; ++field) {
        inputs->fieldTargets[field] = squareGrid(checkpoint, fieldFirstTargetName(field), n);
        inputs->fieldKeyframes.push_back(std::move(byField[field]));
    }
}

// What the checkpoint says the run was made of, checked as a caller's input
// would be: a file that passed its checksums may still say anything.
RunInputs inputsOf(const Checkpoint &checkpoint) {
    const std::int32_t side = checkpoint.run.side;
    if (side < 1 || side > kMaxImageSide) {
        throw InputError("the checkpoint's grid side " + std::to_string(side) + " is not usable");
    }
    const auto n = static_cast<std::uint32_t>(side);
    RunInputs inputs;
    inputs.target = squareGrid(checkpoint, kFirstTarget, n);
    inputs.source = inputs.target; // the saved state replaces it
    ParameterValues values;
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        values[k] = checkpoint.run.job.parameters[k];
    }
    applyParameters(values, &inputs.parameters, &inputs.notes);
    if (checkpoint.run.job.scheme != Scheme::Literal &&
        checkpoint.run.job.scheme != Scheme::Sound) {
        throw InputError("the checkpoint names an unknown scheme");
    }
    inputs.scheme = checkpoint.run.job.scheme;
    if (checkpoint.step < 0) {
        throw InputError("the checkpoint's step count is negative");
    }
    // A run with obstacles saved them with its state (framed like it); the
    // run is built with them, and the state is restored into it.
    if (const Grid *solid = checkpoint.grid(QStringLiteral("solid"))) {
        if (solid->NumRows() != n + 2 || solid->NumCols() != n + 2) {
            throw InputError("the checkpoint's grid 'solid' does not fit its side");
        }
        Grid mask(n, n);
        for (std::uint32_t j = 0; j < n; ++j) {
            for (std::uint32_t i = 0; i < n; ++i) {
                mask(i, j) = (*solid)(i + 1, j + 1);
            }
        }
        inputs.obstacles = std::move(mask);
    }
    // A colour run is built with as many fields, each from the first target
    // (the saved state replaces them all), and draws its recorded colours.
    const std::vector<RecordedField> &fields = checkpoint.run.fields;
    if (!fields.empty()) {
        if (fields.size() > static_cast<std::size_t>(kMaxColourFields)) {
            throw InputError("the checkpoint has more colour fields than a run can carry");
        }
        ColourPicture picture;
        picture.mode = checkpoint.run.job.colourMode;
        for (const RecordedField &field : fields) {
            picture.colours.push_back(field.colour);
            inputs.fieldSources.push_back(inputs.target);
            inputs.fieldTargets.push_back(inputs.target);
        }
        inputs.picture = std::move(picture);
    }
    addKeyframes(checkpoint, n, &inputs);
    return inputs;
}

} // namespace

void saveRunCheckpoint(const PythonRun &run, const std::string &path) {
    const Solver &solver = run.solver(); // refused while another thread steps
    if (run.steps() > std::numeric_limits<std::int32_t>::max()) {
        throw UsageError("a checkpoint records at most 2147483647 steps");
    }
    Checkpoint checkpoint;
    RenderJob &job = checkpoint.run.job;
    job.parameters = run.parameters();
    job.scheme = run.scheme();
    job.formats.clear(); // a module run writes no frames
    checkpoint.run.side = static_cast<std::int32_t>(run.side());
    job.title = QStringLiteral("velloran module run");
    checkpoint.step = static_cast<std::int32_t>(run.steps());
    // A module run has no planned end and writes no frames; the format asks
    // for positive values all the same.
    job.steps = std::max(checkpoint.step, std::int32_t{1});
    job.every = 1;
    checkpoint.activeTarget = run.targetIndex();
    // A colour run: its fields' colours and mode; every field's grids travel
    // in the solver's state.
    if (const std::optional<ColourPicture> &picture = run.picture()) {
        job.colourMode = picture->mode;
        for (const SmokeColour &colour : picture->colours) {
            checkpoint.run.fields.push_back({colour, {}, {}});
        }
    }
    checkpoint.grids = captureSolverState(solver);
    checkpoint.grids.push_back({kFirstTarget, run.firstTarget()});
    for (std::size_t field = 1; field <= run.fieldFirstTargets().size(); ++field) {
        checkpoint.grids.push_back(
            {fieldFirstTargetName(field), run.fieldFirstTargets()[field - 1]});
    }
    // Each keyframe step gives every field its target, in field order.
    const std::size_t fields = std::max<std::size_t>(checkpoint.run.fields.size(), 1);
    for (std::size_t g = 0; g < run.keyframes().size(); ++g) {
        for (std::size_t field = 0; field < fields; ++field) {
            const Keyframe &keyframe =
                field == 0 ? run.keyframes()[g] : run.fieldKeyframes(field - 1).at(g);
            checkpoint.grids.push_back({keyframeGridName(job.keyframes.size()), keyframe.target});
            job.keyframes.push_back({keyframe.step, QString(), keyframe.blend});
        }
    }
    QString error;
    if (!saveCheckpointFile(fromPath(path), checkpoint, &error)) {
        throw FileError(0, error.toStdString(), std::string()); // the message names the file
    }
}

std::unique_ptr<PythonRun> loadRunCheckpoint(const std::string &path, std::optional<int> threads) {
    if (const int errnum = readFailureErrno(path)) {
        throw FileError(errnum, "could not read the checkpoint", path);
    }
    // Only a regular file: a FIFO would wait for a writer and a device (or a
    // link to one, such as /dev/zero) would never end.
    QFile file;
    QString reason;
    if (!openRegularFile(fromPath(path), &file, &reason)) {
        throw FileError(0, "could not read the checkpoint: " + reason.toStdString(), path);
    }
    Checkpoint checkpoint;
    const CheckpointReadResult read = readCheckpoint(&file, &checkpoint);
    if (read.status != CheckpointStatus::Ok) {
        throw InputError("the checkpoint '" + path + "' is " + statusText(read.status) + ": " +
                         read.detail.toStdString());
    }
    if (!checkpoint.grid(kFirstTarget)) {
        throw InputError("'" + path +
                         "' is a checkpoint of velloran-render; continue it with "
                         "velloran-render --resume");
    }
    auto run = std::make_unique<PythonRun>(inputsOf(checkpoint), threads);
    run->restore(checkpoint.grids, checkpoint.step);
    return run;
}

} // namespace velloran::binding
