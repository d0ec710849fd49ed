#include "options.h"

#include "vdbframe.h"

#include <QRegularExpression>

#include <cmath>

namespace velloran {

namespace {

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

bool parseFormats(const QString &text, RenderOptions *options, QString *error) {
    options->png = false;
    options->npy = false;
    options->exr = false;
    options->vdb = false;
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString &part : parts) {
        const QString format = part.trimmed().toLower();
        if (format == QLatin1String("png")) {
            options->png = true;
        } else if (format == QLatin1String("npy")) {
            options->npy = true;
        } else if (format == QLatin1String("exr")) {
            options->exr = true;
        } else if (format == QLatin1String("vdb")) {
            options->vdb = true;
        } else if (format == QLatin1String("none")) {
            // metrics and plot only
        } else {
            *error = QStringLiteral("--format takes a list of png, npy, exr, vdb or none "
                                    "(e.g. png,exr), not '%1'")
                         .arg(text);
            return false;
        }
    }
    return true;
}

// Checks between options, once all are read.
bool checkCombinations(const RenderOptions &options, QString *error) {
    if (options.alpha && !options.png) {
        *error = QStringLiteral("--alpha adds an alpha channel to the PNG frames, but --format "
                                "has no png");
        return false;
    }
    for (const char *option : {"--vdb-float", "--vdb-velocity-name"}) {
        if (!options.vdb && options.given.contains(QLatin1String(option))) {
            *error = QStringLiteral("%1 shapes the .vdb frames, but --format has no vdb")
                         .arg(QLatin1String(option));
            return false;
        }
    }
    if (!options.resumeDir.isEmpty()) {
        for (const QString &option : options.given) {
            if (!allowedWithResume(option)) {
                *error = QStringLiteral("--resume continues the run as it was started; %1 "
                                        "cannot change it (start a new render instead)")
                             .arg(option);
                return false;
            }
        }
    }
    if (!options.sweepPath.isEmpty()) {
        for (const QString &option : options.given) {
            if (!allowedWithSweep(option)) {
                *error = QStringLiteral("--sweep takes the run from the sweep file; %1 cannot "
                                        "change it")
                             .arg(option);
                return false;
            }
        }
        if (options.sweepIndex.has_value() == options.summary) {
            *error = QStringLiteral("--sweep needs either --index K or --summary");
            return false;
        }
    } else if (options.sweepIndex || options.summary) {
        *error = QStringLiteral("--index and --summary need --sweep SWEEP.json");
        return false;
    }
    return true;
}

} // namespace

bool parseKeyframeOption(const QString &text, KeyframeEntry *out, QString *error) {
    const auto refuse = [&](const QString &why) {
        *error =
            QStringLiteral("--keyframe '%1': %2 (STEP:IMAGE or STEP:IMAGE:BLEND)").arg(text, why);
        return false;
    };
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        return refuse(QStringLiteral("no step"));
    }
    bool ok = false;
    const qlonglong step = text.left(colon).trimmed().toLongLong(&ok);
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
    *out = KeyframeEntry{step, image, blend};
    return true;
}

bool allowedWithResume(const QString &option) {
    static const QStringList allowed = {
        QStringLiteral("--resume"), QStringLiteral("--steps"), QStringLiteral("--checkpoint-every"),
        QStringLiteral("--quiet"),  QStringLiteral("--help"),  QStringLiteral("--version")};
    return allowed.contains(option);
}

bool allowedWithSweep(const QString &option) {
    static const QStringList allowed = {QStringLiteral("--sweep"),   QStringLiteral("--index"),
                                        QStringLiteral("--summary"), QStringLiteral("--out"),
                                        QStringLiteral("--quiet"),   QStringLiteral("--help"),
                                        QStringLiteral("--version")};
    return allowed.contains(option);
}

bool parseRenderOptions(const QStringList &arguments, RenderOptions *options, QString *error) {
    RenderOptions result;
    bool positionalOnly = false;
    for (int k = 0; k < arguments.size(); ++k) {
        const QString argument = arguments[k];
        if (!positionalOnly && argument == QLatin1String("--")) {
            positionalOnly = true;
            continue;
        }
        const bool isOption =
            !positionalOnly && argument.startsWith(QLatin1Char('-')) && argument.size() > 1;
        if (isOption && argument == QLatin1String("-h")) {
            result.help = true;
            continue;
        }
        if (isOption && !argument.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option '%1'").arg(argument);
            return false;
        }
        if (!isOption) {
            if (argument.isEmpty()) {
                *error = QStringLiteral("the configuration file name is empty");
                return false;
            }
            if (!result.configPath.isEmpty()) {
                *error = QStringLiteral("only one configuration file can be given ('%1' and '%2')")
                             .arg(result.configPath, argument);
                return false;
            }
            result.configPath = argument;
            result.given << QStringLiteral("a configuration file");
            continue;
        }

        // --name=value or --name value
        QString name = argument;
        std::optional<QString> inlineValue;
        const int equals = argument.indexOf(QLatin1Char('='));
        if (equals > 0) {
            name = argument.left(equals);
            inlineValue = argument.mid(equals + 1);
        }
        auto flag = [&](bool *target) {
            if (inlineValue) {
                *error = QStringLiteral("%1 takes no value").arg(name);
                return false;
            }
            *target = true;
            return true;
        };
        auto value = [&](QString *out) {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            // "--steps --out x" lacks a value; "--vf -3" does not.
            if (k + 1 >= arguments.size() || arguments[k + 1].startsWith(QLatin1String("--"))) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            *out = arguments[++k];
            return true;
        };

        result.given << name;
        QString text;
        const QString key = name.mid(2);
        const std::size_t parameter = parameterIndex(key.toUtf8().constData());
        if (name == QLatin1String("--help")) {
            if (!flag(&result.help)) {
                return false;
            }
        } else if (name == QLatin1String("--version")) {
            if (!flag(&result.version)) {
                return false;
            }
        } else if (name == QLatin1String("--list-examples")) {
            if (!flag(&result.listExamples)) {
                return false;
            }
        } else if (name == QLatin1String("--quiet")) {
            if (!flag(&result.quiet)) {
                return false;
            }
        } else if (name == QLatin1String("--reverse")) {
            if (!flag(&result.reverse)) {
                return false;
            }
        } else if (parameter < kParameterCount) {
            double number = 0.0;
            if (!value(&text) || !parseNumber(name, text, &number, error)) {
                return false;
            }
            result.values[parameter] = number;
        } else if (name == QLatin1String("--source")) {
            if (!value(&text)) {
                return false;
            }
            result.source = text;
        } else if (name == QLatin1String("--target")) {
            if (!value(&text)) {
                return false;
            }
            result.target = text;
        } else if (name == QLatin1String("--steps")) {
            int number = 0;
            if (!value(&text) || !parsePositive(name, text, &number, error)) {
                return false;
            }
            result.steps = number;
        } else if (name == QLatin1String("--every")) {
            int number = 0;
            if (!value(&text) || !parsePositive(name, text, &number, error)) {
                return false;
            }
            result.every = number;
        } else if (name == QLatin1String("--out")) {
            if (!value(&text)) {
                return false;
            }
            if (text.isEmpty()) {
                *error = QStringLiteral("--out needs a folder name");
                return false;
            }
            result.outDir = text;
        } else if (name == QLatin1String("--format")) {
            if (!value(&text) || !parseFormats(text, &result, error)) {
                return false;
            }
        } else if (name == QLatin1String("--video")) {
            if (!value(&text)) {
                return false;
            }
            if (text.isEmpty()) {
                *error = QStringLiteral("--video needs a file name");
                return false;
            }
            result.video = text;
        } else if (name == QLatin1String("--example")) {
            if (!value(&text)) {
                return false;
            }
            result.example = text;
        } else if (name == QLatin1String("--scheme")) {
            if (!value(&text)) {
                return false;
            }
            Scheme scheme = Scheme::Literal;
            if (!parseScheme(text.trimmed().toStdString(), &scheme)) {
                *error = QStringLiteral("--scheme takes literal or sound, not '%1'").arg(text);
                return false;
            }
            result.scheme = scheme;
        } else if (name == QLatin1String("--keyframe")) {
            KeyframeEntry keyframe;
            if (!value(&text) || !parseKeyframeOption(text, &keyframe, error)) {
                return false;
            }
            result.keyframes.push_back(keyframe);
        } else if (name == QLatin1String("--vdb-float")) {
            if (!flag(&result.vdbFloat)) {
                return false;
            }
        } else if (name == QLatin1String("--vdb-velocity-name")) {
            if (!value(&text)) {
                return false;
            }
            if (!isVdbVelocityName(text)) {
                *error =
                    QStringLiteral("--vdb-velocity-name takes velocity or vel, not '%1'").arg(text);
                return false;
            }
            result.vdbVelocityName = text;
        } else if (name == QLatin1String("--alpha")) {
            if (!flag(&result.alpha)) {
                return false;
            }
        } else if (name == QLatin1String("--smoke-colour")) {
            if (!value(&text)) {
                return false;
            }
            const std::optional<SmokeColour> colour = parseSmokeColour(text.trimmed());
            if (!colour) {
                *error = QStringLiteral("--smoke-colour needs six hex digits RRGGBB "
                                        "(e.g. ff8000), not '%1'")
                             .arg(text);
                return false;
            }
            result.colour = *colour;
        } else if (name == QLatin1String("--name")) {
            if (!value(&text)) {
                return false;
            }
            std::optional<FrameNamePattern> names = FrameNamePattern::parse(text, error);
            if (!names) {
                return false;
            }
            result.names = *names;
        } else if (name == QLatin1String("--checkpoint-every")) {
            int number = 0;
            if (!value(&text) || !parsePositive(name, text, &number, error)) {
                return false;
            }
            result.checkpointEvery = number;
        } else if (name == QLatin1String("--resume")) {
            if (!value(&text)) {
                return false;
            }
            if (text.isEmpty()) {
                *error = QStringLiteral("--resume needs the folder of the run");
                return false;
            }
            result.resumeDir = text;
        } else if (name == QLatin1String("--sweep")) {
            if (!value(&text)) {
                return false;
            }
            if (text.isEmpty()) {
                *error = QStringLiteral("--sweep needs the sweep file");
                return false;
            }
            result.sweepPath = text;
        } else if (name == QLatin1String("--index")) {
            bool ok = false;
            if (!value(&text)) {
                return false;
            }
            const int index = text.trimmed().toInt(&ok);
            if (!ok || index < 0) {
                *error = QStringLiteral("--index needs a run number from 0 on, not '%1'").arg(text);
                return false;
            }
            result.sweepIndex = index;
        } else if (name == QLatin1String("--summary")) {
            if (!flag(&result.summary)) {
                return false;
            }
        } else {
            *error = QStringLiteral("unknown option '%1'").arg(name);
            return false;
        }
    }
    if (!checkCombinations(result, error)) {
        return false;
    }
    *options = result;
    return true;
}

// "  --vf X              driving force           0 .. 1000, 1 decimal", one line
// per parameter, from the table the desktop program's spin boxes use.
static QString parameterUsage() {
    QString lines;
    for (const ParameterRange &range : kParameterRanges) {
        lines += QStringLiteral("  --%1 X").arg(QLatin1String(range.key)).leftJustified(22);
        lines += QString::fromLatin1(range.meaning).leftJustified(24);
        lines += QStringLiteral("%1 .. %2, %3 decimal%4\n")
                     .arg(range.minimum)
                     .arg(range.maximum)
                     .arg(range.decimals)
                     .arg(range.decimals == 1 ? "" : "s");
    }
    return lines;
}

QString renderUsage() {
    return QStringLiteral(
               "Usage: velloran-render [CONFIG.xml] [options]\n"
               "\n"
               "Runs target-driven smoke without a display and writes frames, raw fields,\n"
               "metrics and a convergence plot.\n"
               "\n"
               "Input (later sources override earlier ones: example or CONFIG.xml, then options):\n"
               "  CONFIG.xml          configuration file saved by the desktop program\n"
               "  --example NAME      a bundled example (see --list-examples)\n"
               "  --source IMG        source image (where the smoke starts)\n"
               "  --target IMG        target image (the shape to form)\n"
               "  --reverse           exchange the roles of the two images\n"
               "  --scheme WORD       literal (default) or sound\n"
               "  --keyframe STEP:IMAGE[:BLEND]\n"
               "                      a further target from STEP on, blended in over BLEND steps\n"
               "                      (default 0: a cut); repeatable, adds to the configuration's\n"
               "                      keyframes; a step beyond the run's last is never reached\n") +
           parameterUsage() +
           QStringLiteral(
               "                      (values are bounded and rounded like the desktop program's\n"
               "                      spin boxes; a value that changes is reported)\n"
               "\n"
               "Run and output:\n"
               "  --steps N           number of steps (default: the example's, else 1000)\n"
               "  --every K           write a frame every K steps (default: the example's, else "
               "10);\n"
               "                      step 0 and the last step are always written\n"
               "  --out DIR           output folder (default: render-out)\n"
               "  --format LIST       comma list of png, npy, exr, vdb or none (default: png)\n"
               "                        png: frame_NNNNNN.png, 8-bit grey, upright\n"
               "                        npy: density_/u_/v_NNNNNN.npy, float64 (N+2) x (N+2)\n"
               "                        exr: frame_NNNNNN.exr, premultiplied RGBA (half) and the\n"
               "                             float layers density, velocity.u, velocity.v\n"
               "                        vdb: frame_NNNNNN.vdb, OpenVDB grids density (fog volume,\n"
               "                             half floats) and velocity, N x N x 1 voxels of 1/N\n"
               "                      metrics.csv and convergence.png are always written\n"
               "  --vdb-float         density in 32-bit floats in the vdb frames\n"
               "  --vdb-velocity-name NAME  velocity (default) or vel, as the host expects\n"
               "  --alpha             PNG frames in 8-bit RGBA: straight alpha = the density,\n"
               "                      colour = the smoke colour\n"
               "  --smoke-colour RRGGBB  the smoke's colour in exr and --alpha frames\n"
               "                      (default: ffffff)\n"
               "  --name PATTERN      frame file names, printf-like with one integer field\n"
               "                      (default: frame_%06d; smoke.%04d gives smoke.0010.exr)\n"
               "  --video FILE.mp4    also encode the frames with ffmpeg\n"
               "  --quiet             no progress display\n"
               "  --list-examples     list the bundled examples and exit\n"
               "  --help, --version\n"
               "\n"
               "Checkpoint and resume:\n"
               "  --checkpoint-every K  write checkpoint.vlck into the output folder every K\n"
               "                      steps, when interrupted and at the end of the run\n"
               "  --resume DIR        continue the run in DIR from its checkpoint, up to its\n"
               "                      planned last step or to --steps N (which may lie beyond\n"
               "                      it); frames, fields, metrics and plot come out as those of\n"
               "                      an uninterrupted run\n"
               "\n"
               "Sweeps (files written by velloran.sweep.write):\n"
               "  --sweep FILE --index K  render run K of the sweep into OUT/NAME (OUT: --out,\n"
               "                      default the sweep file's folder) with checkpoints; a\n"
               "                      finished run is kept, an interrupted one continued\n"
               "  --sweep FILE --summary  write OUT/sweep.csv and the contact sheet OUT/sweep.png\n"
               "\n"
               "Exit status: 0 done; 1 output or video encoding failed during the run;\n"
               "2 bad input or output folder in use (nothing is created); 3 the run became\n"
               "unstable (what was written is kept); 130 interrupted by Ctrl-C, 143 by\n"
               "SIGTERM, 129 by SIGHUP (the step under way is finished and written first;\n"
               "a second signal ends at once).\n");
}

} // namespace velloran
