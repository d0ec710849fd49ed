#include "renderjob.h"

#include "colourjob.h"
#include "configfile.h"
#include "examples.h"
#include "keyframes.h"
#include "messages.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>

namespace velloran {

namespace {

// Bounds and rounds a value for parameter k and records the change, if any.
double applyValue(std::size_t k, double raw, const QString &origin, QStringList *notes) {
    const ParameterRange &range = kParameterRanges[k];
    const double value = clampParameter(k, raw);
    if (value != raw) {
        const bool outside = !(raw >= range.minimum && raw <= range.maximum);
        notes->append(
            outside ? QStringLiteral("%1 %2 from %3 is outside %4 .. %5; using %6")
                          .arg(QLatin1String(range.key), QString::number(raw, 'g', 17), origin,
                               QString::number(range.minimum), QString::number(range.maximum),
                               QString::number(value, 'g', 12))
                    : QStringLiteral("%1 %2 from %3 rounded to %4 decimal(s): %5")
                          .arg(QLatin1String(range.key), QString::number(raw, 'g', 17), origin)
                          .arg(range.decimals)
                          .arg(QString::number(value, 'g', 12)));
    }
    return value;
}

// Which parameters a file or an option has set.
using ParametersGiven = std::array<bool, kParameterCount>;

bool applyConfiguration(const QString &path, const QString &origin, bool imagesFromResources,
                        RenderJob *job, ParametersGiven *given, QStringList *notes,
                        QString *error) {
    const ConfigReadResult read = readConfigurationFile(path);
    switch (read.status) {
    case ConfigStatus::OpenFailed:
        *error = QStringLiteral("could not open configuration file %1: %2")
                     .arg(quoted(origin), read.detail);
        return false;
    case ConfigStatus::NotWellFormed:
        *error =
            QStringLiteral("invalid configuration file %1: %2").arg(quoted(origin), read.detail);
        return false;
    case ConfigStatus::Parsed:
        break;
    }
    if (!read.rootRecognised) {
        notes->append(
            QStringLiteral("%1 has no <configuration> root element; nothing taken from it")
                .arg(quoted(origin)));
        return true;
    }
    const Configuration &c = read.configuration;
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (c.values[k]) {
            bool ok = false;
            const double literal = c.texts[k].toDouble(&ok);
            if (!ok && !std::isinf(literal)) {
                notes->append(
                    QStringLiteral("%1 '%2' from %3 is not a number; read as 0")
                        .arg(QLatin1String(kParameterRanges[k].key), c.texts[k].trimmed(), origin));
            } else if (std::isnan(literal)) {
                notes->append(QStringLiteral("%1 'nan' from %2 read as 0")
                                  .arg(QLatin1String(kParameterRanges[k].key), origin));
            }
            job->parameters[k] = applyValue(k, *c.values[k], origin, notes);
            (*given)[k] = true;
        }
    }
    if (c.scheme) {
        job->scheme = *c.scheme;
    }
    job->keyframes = c.keyframes;
    for (KeyframeEntry &keyframe : job->keyframes) {
        if (imagesFromResources) {
            keyframe.image = exampleResourcePath(keyframe.image);
        }
    }
    if (c.obstacles) {
        job->obstaclesPath = imagesFromResources && !c.obstacles->isEmpty()
                                 ? exampleResourcePath(*c.obstacles)
                                 : *c.obstacles;
    }
    if (c.colour) {
        job->colourMode = c.colour->mode;
        job->palette = c.colour->palette;
        job->fields = c.colour->fields;
        for (ColourField &field : job->fields) {
            if (imagesFromResources) {
                field.sourcePath = exampleResourcePath(field.sourcePath);
                field.targetPath = exampleResourcePath(field.targetPath);
            }
        }
    }
    if (c.source) {
        job->sourcePath = imagesFromResources ? exampleResourcePath(*c.source) : *c.source;
    }
    if (c.target) {
        job->targetPath = imagesFromResources ? exampleResourcePath(*c.target) : *c.target;
    }
    return true;
}

// The options' keyframes join the configuration's, in step order; two at one
// step cannot both hold, unless they are targets of two fields (whether they
// make a whole step is checkColourJob's question).
bool addKeyframes(const std::vector<KeyframeEntry> &extra, std::vector<KeyframeEntry> *keyframes,
                  QString *error) {
    std::vector<KeyframeEntry> all = *keyframes;
    all.insert(all.end(), extra.begin(), extra.end());
    std::stable_sort(all.begin(), all.end(), [](const KeyframeEntry &a, const KeyframeEntry &b) {
        return a.step < b.step;
    });
    for (std::size_t k = 1; k < all.size(); ++k) {
        if (all[k].step == all[k - 1].step && !(all[k].field && all[k - 1].field)) {
            *error = QStringLiteral("two keyframes at step %1 (%2 and %3)")
                         .arg(all[k].step)
                         .arg(quoted(all[k - 1].image), quoted(all[k].image));
            return false;
        }
    }
    *keyframes = std::move(all);
    return true;
}

// The example or configuration file, if any: the job's first values.
bool startFromFile(const RenderOptions &options, RenderJob *job, ParametersGiven *given,
                   QStringList *notes, QString *error) {
    if (!options.example.isEmpty() && !options.configPath.isEmpty()) {
        *error = QStringLiteral("give either a configuration file or --example, not both");
        return false;
    }
    if (!options.example.isEmpty()) {
        const Example *example = findExample(options.example);
        if (!example) {
            *error = QStringLiteral("unknown example %1 (see --list-examples)")
                         .arg(quoted(options.example));
            return false;
        }
        if (!applyConfiguration(exampleConfigPath(*example),
                                QStringLiteral("example ") + example->name, true, job, given, notes,
                                error)) {
            return false;
        }
        job->steps = example->steps;
        job->every = example->every;
        job->title = example->name;
    }
    if (!options.configPath.isEmpty()) {
        if (!applyConfiguration(options.configPath, options.configPath, false, job, given, notes,
                                error)) {
            return false;
        }
        job->title = QFileInfo(options.configPath).fileName();
    }
    return true;
}

// A parameter nobody gave takes the value a freshly started desktop window
// shows, so that the file gives the same run in both programs, or in a sound
// run the sound scheme's default; said aloud either way, since a time step of
// 0 moves nothing.
void fillUnsetParameters(const ParametersGiven &given, const QString &configPath, RenderJob *job,
                         QStringList *notes) {
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (given[k]) {
            continue;
        }
        const QLatin1String key(kParameterRanges[k].key);
        const QString where = configPath.isEmpty()
                                  ? QStringLiteral("no --%1 given").arg(key)
                                  : QStringLiteral("no <%1> in %2").arg(key, quoted(configPath));
        if (job->scheme == Scheme::Sound) {
            job->parameters[k] = soundDefaultValue(k);
            job->soundDefaults << key;
            notes->append(QStringLiteral("%1; using %2, the sound scheme's default")
                              .arg(where)
                              .arg(soundDefaultValue(k)));
        } else {
            notes->append(QStringLiteral("%1; using %2, the value the desktop program starts with")
                              .arg(where)
                              .arg(parameterStartValue(k)));
        }
    }
}

} // namespace

QString parametersLine(const RenderJob &job) {
    const SimParameters &p = job.parameters;
    QString line = QStringLiteral("parameters: vf=%1 vd=%2 vg=%3 sigma=%4 dt=%5")
                       .arg(p.vf())
                       .arg(p.vd())
                       .arg(p.vg())
                       .arg(p.sigma())
                       .arg(p.dt());
    if (!job.soundDefaults.isEmpty()) {
        line += QStringLiteral(" (sound scheme defaults for %1)")
                    .arg(job.soundDefaults.join(QStringLiteral(", ")));
    }
    return line;
}

bool applyOverrides(const JobOverrides &overrides, RenderJob *job, QStringList *notes,
                    QString *error) {
    const auto set = [](auto &field, const auto &value) {
        if (value) {
            field = *value;
        }
    };
    set(job->sourcePath, overrides.source);
    set(job->targetPath, overrides.target);
    set(job->reverse, overrides.reverse);
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (overrides.values[k]) {
            job->parameters[k] =
                applyValue(k, *overrides.values[k],
                           QStringLiteral("--") + QLatin1String(kParameterRanges[k].key), notes);
        }
    }
    set(job->scheme, overrides.scheme);
    set(job->obstaclesPath, overrides.obstacles);
    if (!addKeyframes(overrides.keyframes, &job->keyframes, error)) {
        return false;
    }
    set(job->steps, overrides.steps);
    set(job->every, overrides.every);
    set(job->outDir, overrides.outDir);
    set(job->formats, overrides.formats);
    set(job->vdbFloat, overrides.vdbFloat);
    set(job->vdbVelocityName, overrides.vdbVelocityName);
    set(job->alpha, overrides.alpha);
    set(job->colour, overrides.colour);
    // The options' colour run replaces the file's.
    if (!overrides.fields.empty() || overrides.palette) {
        job->fields = overrides.fields;
        job->palette = overrides.palette;
    }
    set(job->colourMode, overrides.colourMode);
    set(job->names, overrides.names);
    set(job->video, overrides.video);
    set(job->checkpointEvery, overrides.checkpointEvery);
    set(job->quiet, overrides.quiet);
    return true;
}

bool resolveJob(const RenderOptions &options, RenderJob *job, QStringList *notes, QString *error) {
    RenderJob result;
    ParametersGiven given{};
    if (!startFromFile(options, &result, &given, notes, error) ||
        !applyOverrides(options.job, &result, notes, error)) {
        return false;
    }
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        given[k] = given[k] || options.job.values[k].has_value();
    }
    fillUnsetParameters(given, options.configPath, &result, notes);
    if (!checkColourJob(options, result, error)) {
        return false;
    }
    if (result.reverse && !result.keyframes.empty()) {
        *error = keyframesInReverseMessage();
        return false;
    }
    // A step's field targets in field order: the checkpoint records them so.
    const auto fieldIndex = [&result](const KeyframeEntry &entry) {
        return std::find_if(result.fields.begin(), result.fields.end(),
                            [&entry](const ColourField &f) { return f.colour == entry.field; }) -
               result.fields.begin();
    };
    std::stable_sort(result.keyframes.begin(), result.keyframes.end(),
                     [&fieldIndex](const KeyframeEntry &a, const KeyframeEntry &b) {
                         return a.step != b.step ? a.step < b.step : fieldIndex(a) < fieldIndex(b);
                     });
    if (result.title.isEmpty()) {
        result.title =
            QFileInfo(result.fields.empty() ? result.targetPath : result.fields.front().targetPath)
                .fileName();
    }
    if (result.reverse) {
        result.title += QStringLiteral(" (reverse)");
    }
    *job = result;
    return true;
}

} // namespace velloran
