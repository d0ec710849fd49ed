#include "runinputs.h"

#include "arrays.h"

#include "colourfields.h"
#include "colourjob.h"
#include "jobinputs.h"

#include "configfile.h"
#include "errors.h"
#include "keyframes.h"
#include "obstacleimage.h"
#include "renderjob.h"
#include "runsetup.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace velloran::binding {

namespace {

QString fromPath(const std::string &path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string toPath(const QString &path) {
    return QFile::encodeName(path).toStdString();
}

std::string quoted(const std::string &path) {
    return "'" + path + "'";
}

// The run set-up's own words for a failure, with the path it concerns and
// the loader's reason.
[[noreturn]] void throwSetupError(RunSetupError error, const QString &reason,
                                  const std::string &sourcePath, const std::string &targetPath) {
    const std::string &path = isSourceProblem(error) ? sourcePath : targetPath;
    std::string message = runSetupMessage(error).toStdString();
    if (error == RunSetupError::SourceUnreadable || error == RunSetupError::TargetUnreadable) {
        // With an errno Python says the reason itself; without, the content is at fault.
        const int errnum = readFailureErrno(path);
        if (errnum == 0 && !reason.isEmpty()) {
            message += " " + reason.toStdString();
        }
        throw FileError(errnum, message, path);
    }
    message += " (" + quoted(path);
    if (!reason.isEmpty()) {
        message += ": " + reason.toStdString();
    }
    throw InputError(message + ")");
}

// Fills the two density grids; returns the size of the target image as loaded.
QSize loadDensities(const std::string &sourcePath, const std::string &targetPath, bool reverse,
                    RunInputs *inputs) {
    RunDensities densities;
    QString reason;
    const RunSetupError error =
        prepareRun(fromPath(sourcePath), fromPath(targetPath), reverse, &densities, &reason);
    if (error != RunSetupError::None) {
        throwSetupError(error, reason, sourcePath, targetPath);
    }
    inputs->source = std::move(densities.srcDensity);
    inputs->target = std::move(densities.tgtDensity);
    return densities.targetSize;
}

// The file's <scheme> and <keyframes>. The renderer's job does not carry
// them, so the file is read once more; it has just been read without a
// refusal, so this reading succeeds as well.
void addSchemeAndKeyframes(const QString &path, const RenderJob &job, QSize targetSize,
                           RunInputs *inputs) {
    const ConfigReadResult read = readConfigurationFile(path);
    if (read.status != ConfigStatus::Parsed || !read.rootRecognised) {
        return;
    }
    const Configuration &configuration = read.configuration;
    inputs->scheme = configuration.scheme.value_or(Scheme::Literal);
    if (configuration.keyframes.empty()) {
        return;
    }
    if (job.reverse) {
        throw InputError(keyframesInReverseMessage().toStdString());
    }
    // A file that is not there is the file system's failure, as for the
    // other images; what the shell refuses in a file that is there is a
    // refusal of the configuration.
    for (const KeyframeEntry &entry : configuration.keyframes) {
        const std::string image = toPath(entry.image);
        if (const int errnum = readFailureErrno(image)) {
            throw FileError(errnum,
                            "Could not load the keyframe image (step " +
                                std::to_string(entry.step) + ").",
                            image);
        }
    }
    QString error;
    const auto n = static_cast<int>(inputs->source.NumCols());
    if (!loadKeyframeTargets(configuration.keyframes, targetSize, n, &inputs->keyframes, &error)) {
        throw InputError(error.toStdString());
    }
}

} // namespace

Scheme schemeFromWord(const std::string &word) {
    Scheme scheme = Scheme::Literal;
    if (!parseScheme(word, &scheme)) {
        throw InputError("scheme must be \"literal\" or \"sound\", not \"" + word + "\"");
    }
    return scheme;
}

void applyParameters(const ParameterValues &values, SimParameters *parameters,
                     std::vector<std::string> *notes) {
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (!values[k]) {
            continue;
        }
        const double value = *values[k];
        const ParameterRange &range = kParameterRanges[k];
        const QString key = QLatin1String(range.key);
        if (!std::isfinite(value)) {
            throw InputError(QStringLiteral("%1 must be a finite number, not %2")
                                 .arg(key, QString::number(value))
                                 .toStdString());
        }
        if (value < range.minimum || value > range.maximum) {
            throw InputError(QStringLiteral("%1 = %2 is outside %3 .. %4")
                                 .arg(key, QString::number(value, 'g', 17),
                                      QString::number(range.minimum),
                                      QString::number(range.maximum))
                                 .toStdString());
        }
        const double rounded = clampParameter(k, value);
        if (rounded != value) {
            notes->push_back(QStringLiteral("%1 = %2 rounded to %3 decimal(s): %4")
                                 .arg(key, QString::number(value, 'g', 17))
                                 .arg(range.decimals)
                                 .arg(QString::number(rounded, 'g', 12))
                                 .toStdString());
        }
        (*parameters)[k] = rounded;
    }
}

RunInputs inputsFromImages(const std::string &sourcePath, const std::string &targetPath,
                           bool reverse) {
    RunInputs inputs;
    loadDensities(sourcePath, targetPath, reverse, &inputs);
    return inputs;
}

namespace {

// The fields of a colour run, the first also as the run's source and target.
void setColourFields(std::vector<RunDensities> fields, ColourPicture picture, RunInputs *inputs) {
    inputs->source = fields.front().srcDensity;
    inputs->target = fields.front().tgtDensity;
    for (RunDensities &field : fields) {
        inputs->fieldSources.push_back(std::move(field.srcDensity));
        inputs->fieldTargets.push_back(std::move(field.tgtDensity));
    }
    inputs->picture = std::move(picture);
}

ColourMode colourModeOf(const std::string &mode) {
    const std::optional<ColourMode> colourMode = parseColourMode(QString::fromStdString(mode));
    if (!colourMode) {
        throw InputError("colour_mode must be \"light\" or \"dark\", not \"" + mode + "\"");
    }
    return *colourMode;
}

} // namespace

RunInputs colourInputsFromArrays(std::vector<ArrayField> fields, const std::string &mode) {
    if (fields.empty() || fields.size() > static_cast<std::size_t>(kMaxColourFields)) {
        throw InputError("a colour run has 1 to " + std::to_string(kMaxColourFields) +
                         " fields, not " + std::to_string(fields.size()));
    }
    ColourPicture picture{{}, colourModeOf(mode)};
    const std::uint32_t n = fields.front().source.NumCols();
    for (const ArrayField &field : fields) {
        const std::optional<SmokeColour> colour =
            parseSmokeColour(QString::fromStdString(field.colour));
        if (!colour) {
            throw InputError("'" + field.colour + "' is not a colour (#rrggbb)");
        }
        const std::string name = "field #" + colour->hex().toStdString();
        if (std::find(picture.colours.begin(), picture.colours.end(), *colour) !=
            picture.colours.end()) {
            throw InputError("a colour run has each colour once, but " + name + " comes twice");
        }
        for (const Grid *grid : {&field.source, &field.target}) {
            if (grid->NumCols() != n) {
                throw InputError(name + ": every field's arrays must have the first's shape, " +
                                 std::to_string(n) + " a side, not " +
                                 std::to_string(grid->NumCols()));
            }
        }
        requireSmoke(field.source, name + " source");
        requireSmoke(field.target, name + " target");
        picture.colours.push_back(*colour);
    }
    RunInputs inputs;
    inputs.source = fields.front().source;
    inputs.target = fields.front().target;
    for (ArrayField &field : fields) {
        inputs.fieldSources.push_back(std::move(field.source));
        inputs.fieldTargets.push_back(std::move(field.target));
    }
    inputs.picture = std::move(picture);
    return inputs;
}

RunInputs colourInputsFromImages(const std::string &sourcePath, const std::string &targetPath,
                                 bool reverse, const std::string &palette,
                                 const std::string &mode) {
    for (const std::string &path : {sourcePath, targetPath}) {
        if (const int errnum = readFailureErrno(path)) {
            throw FileError(errnum, "Could not load the image.", path);
        }
    }
    PaletteRequest request;
    QString error;
    if (!parsePaletteRequest(QString::fromStdString(palette), &request, &error)) {
        throw InputError("palette: " + error.toStdString());
    }
    const ColourMode colourMode = colourModeOf(mode);
    ColourFields fields;
    if (!readColourFields(fromPath(sourcePath), fromPath(targetPath), reverse, request, &fields,
                          &error)) {
        throw InputError(error.toStdString());
    }
    RunInputs inputs;
    setColourFields(std::move(fields.fields), ColourPicture{fields.palette.colours, colourMode},
                    &inputs);
    inputs.background = fields.palette.background;
    return inputs;
}

RunInputs inputsFromConfiguration(const std::string &path, bool reverse) {
    if (const int errnum = readFailureErrno(path)) {
        throw FileError(errnum, "could not open configuration file", path);
    }
    RenderOptions options;
    options.configPath = fromPath(path);
    options.job.reverse = reverse;
    RenderJob job;
    QStringList notes;
    QString error;
    if (!resolveJob(options, &job, &notes, &error)) {
        throw InputError(error.toStdString());
    }
    RunInputs inputs;
    for (const QString &note : std::as_const(notes)) {
        inputs.notes.push_back(note.toStdString());
    }
    if (!job.fields.empty() || job.palette) {
        // The renderer's reading of a colour run, its fields' images and
        // keyframes included: one schedule per field.
        JobInputs read;
        if (!checkJobInputs(job, nullptr, &read, &error)) {
            throw InputError(error.toStdString());
        }
        if (read.schedule) {
            inputs.keyframes = read.schedule->keyframes();
            for (const std::unique_ptr<TargetSchedule> &schedule : read.fieldSchedules) {
                inputs.fieldKeyframes.push_back(schedule->keyframes());
            }
        }
        const RenderJob resolved = job.palette ? withPaletteFields(job, read.colours) : job;
        inputs.parameters = job.parameters;
        inputs.scheme = job.scheme;
        setColourFields(std::move(read.fields), *frameSettings(resolved).picture, &inputs);
        if (job.palette) {
            inputs.background = read.background;
        }
        inputs.obstacles = std::move(read.obstacles);
        return inputs;
    }
    if (job.sourcePath.isEmpty() || job.targetPath.isEmpty()) {
        // The reader's notes say why (a foreign root element, say).
        std::string message = "configuration file " + quoted(path) + " names no " +
                              (job.sourcePath.isEmpty() ? "source" : "target") + " image";
        for (const std::string &note : inputs.notes) {
            message += "; " + note;
        }
        throw InputError(message);
    }
    const QSize targetSize =
        loadDensities(toPath(job.sourcePath), toPath(job.targetPath), job.reverse, &inputs);
    inputs.parameters = job.parameters;
    addSchemeAndKeyframes(options.configPath, job, targetSize, &inputs);
    if (!job.obstaclesPath.isEmpty()) {
        loadObstacleImage(toPath(job.obstaclesPath), &inputs);
    }
    return inputs;
}

void loadObstacleImage(const std::string &path, RunInputs *inputs) {
    Grid mask(1, 1);
    QString reason;
    if (!loadObstacles(fromPath(path), static_cast<int>(inputs->source.NumCols()), &mask,
                       &reason)) {
        throw FileError(readFailureErrno(path),
                        "Could not load obstacle image: " + reason.toStdString(), path);
    }
    inputs->obstacles = std::move(mask);
}

Grid densityFromImageFile(const std::string &path) {
    bool tooLarge = false;
    QString reason;
    const QImage image = loadImage(fromPath(path), &tooLarge, &reason);
    if (tooLarge) {
        throw InputError(QStringLiteral("The image is too large (at most %1 x %1 pixels). (%2)")
                             .arg(kMaxImageSide)
                             .arg(QString::fromStdString(quoted(path)))
                             .toStdString());
    }
    if (image.isNull()) {
        const int errnum = readFailureErrno(path);
        throw FileError(errnum,
                        "Could not load image." + (errnum != 0 || reason.isEmpty()
                                                       ? std::string()
                                                       : " " + reason.toStdString()),
                        path);
    }
    return densityFromImage(image, image.width(), image.height());
}

} // namespace velloran::binding
