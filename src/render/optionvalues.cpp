#include "optionvalues.h"

#include "frameformats.h"
#include "solver.h"
#include "vdbframe.h"

#include <QRegularExpression>

#include <cmath>
#include <utility>

namespace velloran {

namespace {

// ---------------------------------------------------------------- values

bool parsePositive(const QString &name, const QString &text, int *out, QString *error) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value <= 0 || value > kMaxSteps) {
        *error = QStringLiteral("%1 needs a positive whole number (at most %2), not '%3'")
                     .arg(name)
                     .arg(kMaxSteps)
                     .arg(text);
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

bool parseNumber(const QString &name, const QString &text, double *out, QString *error) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        *error = QStringLiteral("%1 needs a finite number, not '%2'").arg(name, text);
        return false;
    }
    *out = value;
    return true;
}

// The formats in the order the run writes them (frameformats.h), each once.
bool parseFormats(const QString &text, QStringList *formats, QString *error) {
    QStringList given;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString format = part.trimmed().toLower();
        if (findFrameFormat(format)) {
            given << format;
        } else if (format != QLatin1String("none")) { // none: metrics and plot only
            *error = QStringLiteral("--format takes a list of %1 or none (e.g. png,exr), not '%2'")
                         .arg(frameFormatNames(), text);
            return false;
        }
    }
    *formats = orderedFrameFormats(given);
    return true;
}

// "STEP:IMAGE" or "STEP:IMAGE:BLEND" (a blend is recognised only as a whole
// number after the last colon, so an image path may contain colons), after
// "#RRGGBB:" for a field's target (the '#' is required there: "800000" would
// read as a step as well as a colour).
bool parseKeyframe(const QString &text, KeyframeEntry *out, QString *error) {
    const auto refuse = [&](const QString &why) {
        *error =
            QStringLiteral("--keyframe '%1': %2 ([#RRGGBB:]STEP:IMAGE[:BLEND])").arg(text, why);
        return false;
    };
    std::optional<SmokeColour> field;
    qsizetype start = 0;
    if (text.startsWith(QLatin1Char('#'))) {
        start = text.indexOf(QLatin1Char(':')) + 1;
        field = parseSmokeColour(text.left(start - 1));
        if (start == 0 || !field) {
            return refuse(QStringLiteral("a field is named by its colour, #RRGGBB"));
        }
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'), start);
    if (colon < 0) {
        return refuse(QStringLiteral("no step"));
    }
    bool ok = false;
    const qlonglong step = text.mid(start, colon - start).trimmed().toLongLong(&ok);
    if (!ok || step <= 0 || step > kMaxSteps) {
        return refuse(
            QStringLiteral("the step must be a whole number from 1 to %1").arg(kMaxSteps));
    }
    QString image = text.mid(colon + 1);
    qlonglong blend = 0;
    const qsizetype last = image.lastIndexOf(QLatin1Char(':'));
    if (last >= 0) {
        const QString tail = image.mid(last + 1).trimmed();
        static const QRegularExpression digits(QStringLiteral("^-?[0-9]+$"));
        if (digits.match(tail).hasMatch()) {
            blend = tail.toLongLong(&ok);
            if (!ok || blend < 0 || blend > kMaxSteps) {
                return refuse(
                    QStringLiteral("the blend must be a whole number from 0 to %1").arg(kMaxSteps));
            }
            image = image.left(last);
        }
    }
    if (image.isEmpty()) {
        return refuse(QStringLiteral("no image"));
    }
    *out = KeyframeEntry{step, image, blend, field};
    return true;
}

} // namespace

// ---------------------------------------------------------------- stores

OptionStore programFlag(bool RenderOptions::*flag) {
    return [flag](const QString &, const QString &, RenderOptions *options, QString *) {
        options->*flag = true;
        return true;
    };
}

OptionStore jobFlag(std::optional<bool> JobOverrides::*flag) {
    return [flag](const QString &, const QString &, RenderOptions *options, QString *) {
        options->job.*flag = true;
        return true;
    };
}

OptionStore jobText(std::optional<QString> JobOverrides::*field) {
    return [field](const QString &, const QString &value, RenderOptions *options, QString *) {
        options->job.*field = value;
        return true;
    };
}

OptionStore programText(QString RenderOptions::*field) {
    return [field](const QString &, const QString &value, RenderOptions *options, QString *) {
        options->*field = value;
        return true;
    };
}

OptionStore nonEmpty(const char *what, OptionStore store) {
    return [what, store = std::move(store)](const QString &name, const QString &value,
                                            RenderOptions *options, QString *error) {
        if (value.isEmpty()) {
            *error = QStringLiteral("%1 needs %2").arg(name, QLatin1String(what));
            return false;
        }
        return store(name, value, options, error);
    };
}

OptionStore jobCount(std::optional<int> JobOverrides::*field) {
    return
        [field](const QString &name, const QString &value, RenderOptions *options, QString *error) {
            int number = 0;
            if (!parsePositive(name, value, &number, error)) {
                return false;
            }
            options->job.*field = number;
            return true;
        };
}

OptionStore parameter(std::size_t k) {
    return [k](const QString &name, const QString &value, RenderOptions *options, QString *error) {
        double number = 0.0;
        if (!parseNumber(name, value, &number, error)) {
            return false;
        }
        options->job.values[k] = number;
        return true;
    };
}

bool storeConfigFile(const QString &, const QString &path, RenderOptions *options, QString *error) {
    if (path.isEmpty()) {
        *error = QStringLiteral("the configuration file name is empty");
        return false;
    }
    if (!options->configPath.isEmpty()) {
        *error = QStringLiteral("only one configuration file can be given ('%1' and '%2')")
                     .arg(options->configPath, path);
        return false;
    }
    options->configPath = path;
    return true;
}

bool storeScheme(const QString &, const QString &value, RenderOptions *options, QString *error) {
    Scheme scheme = Scheme::Literal;
    if (!parseScheme(value.trimmed().toStdString(), &scheme)) {
        *error = QStringLiteral("--scheme takes literal or sound, not '%1'").arg(value);
        return false;
    }
    options->job.scheme = scheme;
    return true;
}

bool storeKeyframe(const QString &, const QString &value, RenderOptions *options, QString *error) {
    KeyframeEntry keyframe;
    if (!parseKeyframe(value, &keyframe, error)) {
        return false;
    }
    options->job.keyframes.push_back(keyframe);
    return true;
}

bool storeFormats(const QString &, const QString &value, RenderOptions *options, QString *error) {
    QStringList formats;
    if (!parseFormats(value, &formats, error)) {
        return false;
    }
    options->job.formats = formats;
    return true;
}

bool storeVdbVelocityName(const QString &, const QString &value, RenderOptions *options,
                          QString *error) {
    if (!isVdbVelocityName(value)) {
        *error = QStringLiteral("--vdb-velocity-name takes velocity or vel, not '%1'").arg(value);
        return false;
    }
    options->job.vdbVelocityName = value;
    return true;
}

bool storeSmokeColour(const QString &, const QString &value, RenderOptions *options,
                      QString *error) {
    const std::optional<SmokeColour> colour = parseSmokeColour(value.trimmed());
    if (!colour) {
        *error = QStringLiteral("--smoke-colour needs six hex digits RRGGBB "
                                "(e.g. ff8000), not '%1'")
                     .arg(value);
        return false;
    }
    options->job.colour = *colour;
    return true;
}

bool storeField(const QString &, const QString &value, RenderOptions *options, QString *error) {
    const QStringList parts = value.split(QLatin1Char(':'));
    if (parts.size() != 3 || parts[1].isEmpty() || parts[2].isEmpty()) {
        *error = QStringLiteral("--field takes COLOUR:SOURCE:TARGET (e.g. "
                                "#e03020:from.png:to.png; no ':' in the paths), not '%1'")
                     .arg(value);
        return false;
    }
    const std::optional<SmokeColour> colour = parseSmokeColour(parts[0].trimmed());
    if (!colour) {
        *error = QStringLiteral("--field '%1': '%2' is not a colour (#rrggbb or rrggbb)")
                     .arg(value, parts[0]);
        return false;
    }
    for (const ColourField &field : options->job.fields) {
        if (field.colour == *colour) {
            *error = QStringLiteral("--field '%1': a field of colour #%2 was given already; each "
                                    "field needs a colour of its own")
                         .arg(value, colour->hex());
            return false;
        }
    }
    if (options->job.fields.size() >= static_cast<std::size_t>(Solver::kMaxSmokeFields)) {
        *error = QStringLiteral("--field: at most %1 fields").arg(Solver::kMaxSmokeFields);
        return false;
    }
    options->job.fields.push_back(ColourField{*colour, parts[1], parts[2]});
    return true;
}

bool storePalette(const QString &, const QString &value, RenderOptions *options, QString *error) {
    PaletteRequest request;
    QString why;
    if (!parsePaletteRequest(value, &request, &why)) {
        *error = QStringLiteral("--palette: %1").arg(why);
        return false;
    }
    options->job.palette = request;
    return true;
}

bool storeColourMode(const QString &, const QString &value, RenderOptions *options,
                     QString *error) {
    const std::optional<ColourMode> mode = parseColourMode(value.trimmed());
    if (!mode) {
        *error = QStringLiteral("--colour-mode takes light or dark, not '%1'").arg(value);
        return false;
    }
    options->job.colourMode = *mode;
    return true;
}

bool storeNames(const QString &, const QString &value, RenderOptions *options, QString *error) {
    std::optional<FrameNamePattern> names = FrameNamePattern::parse(value, error);
    if (!names) {
        return false;
    }
    options->job.names = *names;
    return true;
}

bool storeSweepIndex(const QString &, const QString &value, RenderOptions *options,
                     QString *error) {
    bool ok = false;
    const int index = value.trimmed().toInt(&ok);
    if (!ok || index < 0) {
        *error = QStringLiteral("--index needs a run number from 0 on, not '%1'").arg(value);
        return false;
    }
    options->sweepIndex = index;
    return true;
}

} // namespace velloran
