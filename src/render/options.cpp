#include "options.h"

#include "job.h"
#include "optiontable.h"

namespace velloran {

namespace {

bool accompanies(const QString &option, OptionCompanion companion) {
    const OptionEntry *entry = findOption(option);
    return entry && (entry->companions & companion) != 0;
}

// Whether the frames include `format`: the option's list, or the job's own.
bool writesFormat(const JobOverrides &job, const char *format) {
    static const QStringList defaults = RenderJob().formats;
    return job.formats.value_or(defaults).contains(QLatin1String(format));
}

// --resume and --sweep take the run from elsewhere: an option that would
// change it is refused, not ignored.
bool checkCompanions(const RenderOptions &options, QString *error) {
    const struct {
        bool given;
        OptionCompanion companion;
        const char *refusal;
    } modes[] = {
        {!options.resumeDir.isEmpty(), kWithResume,
         "--resume continues the run as it was started; %1 cannot change it (start a new render "
         "instead)"},
        {!options.sweepPath.isEmpty(), kWithSweep,
         "--sweep takes the run from the sweep file; %1 cannot change it"},
    };
    for (const auto &mode : modes) {
        for (const QString &option : options.given) {
            if (mode.given && !accompanies(option, mode.companion)) {
                *error = QString::fromLatin1(mode.refusal).arg(option);
                return false;
            }
        }
    }
    return true;
}

// A colour run's fields come either one by one (--field, in place of the
// source and target) or from a colour target split by --palette.
bool checkColourOptions(const RenderOptions &options, QString *error) {
    if (options.job.fields.empty()) {
        return true;
    }
    for (const char *option : {"--source", "--target", "--palette"}) {
        if (options.given.contains(QLatin1String(option))) {
            *error = QStringLiteral("--field replaces --source and --target; give one or the "
                                    "other, not %1 as well")
                         .arg(QLatin1String(option));
            return false;
        }
    }
    return true;
}

// Checks between options, once all are read.
bool checkCombinations(const RenderOptions &options, QString *error) {
    if (!checkColourOptions(options, error)) {
        return false;
    }
    if (options.job.alpha && !writesFormat(options.job, "png")) {
        *error = QStringLiteral("--alpha adds an alpha channel to the PNG frames, but --format "
                                "has no png");
        return false;
    }
    for (const char *option : {"--vdb-float", "--vdb-velocity-name"}) {
        if (!writesFormat(options.job, "vdb") && options.given.contains(QLatin1String(option))) {
            *error = QStringLiteral("%1 shapes the .vdb frames, but --format has no vdb")
                         .arg(QLatin1String(option));
            return false;
        }
    }
    if (!checkCompanions(options, error)) {
        return false;
    }
    if (!options.sweepPath.isEmpty()) {
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

// One option at arguments[*k], "--name value" or "--name=value"; a value
// taken from the next argument moves *k on.
bool parseOption(const QStringList &arguments, int *k, RenderOptions *result, QString *error) {
    const QString &argument = arguments[*k];
    QString name = argument;
    std::optional<QString> value;
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    if (equals > 0) {
        name = argument.left(equals);
        value = argument.mid(equals + 1);
    }
    result->given << name;
    const OptionEntry *entry = findOption(name);
    if (!entry) {
        *error = QStringLiteral("unknown option '%1'").arg(name);
        return false;
    }
    if (entry->isFlag() && value) {
        *error = QStringLiteral("%1 takes no value").arg(name);
        return false;
    }
    if (!entry->isFlag() && !value) {
        // "--steps --out x" lacks a value; "--vf -3" does not.
        if (*k + 1 >= arguments.size() || arguments[*k + 1].startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("%1 needs a value").arg(name);
            return false;
        }
        value = arguments[++*k];
    }
    return entry->store(name, value.value_or(QString()), result, error);
}

} // namespace

bool parseRenderOptions(const QStringList &arguments, RenderOptions *options, QString *error) {
    RenderOptions result;
    bool positionalOnly = false;
    for (int k = 0; k < arguments.size(); ++k) {
        const QString &argument = arguments[k];
        if (!positionalOnly && argument == QLatin1String("--")) {
            positionalOnly = true;
            continue;
        }
        const bool isOption =
            !positionalOnly && argument.startsWith(QLatin1Char('-')) && argument.size() > 1;
        if (isOption && argument == QLatin1String("-h")) {
            result.help = true;
        } else if (isOption && !argument.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("unknown option '%1'").arg(argument);
            return false;
        } else if (isOption) {
            if (!parseOption(arguments, &k, &result, error)) {
                return false;
            }
        } else {
            const OptionEntry &file = configFileOption();
            if (!file.store(file.name, argument, &result, error)) {
                return false;
            }
            result.given << QStringLiteral("a configuration file");
        }
    }
    if (!checkCombinations(result, error)) {
        return false;
    }
    *options = result;
    return true;
}

// ---------------------------------------------------------------- --help

namespace {

struct UsageSection {
    OptionSection section;
    const char *title;
    const char *footer; // lines below the section's options, indented like their text
};

constexpr UsageSection kUsageSections[] = {
    {OptionSection::Input,
     "Input (later sources override earlier ones: example or CONFIG.xml, then options):",
     "(values are bounded and rounded like the desktop program's\n"
     "spin boxes; a value that changes is reported)"},
    {OptionSection::Output, "Run and output:", nullptr},
    {OptionSection::Checkpoint, "Checkpoint and resume:", nullptr},
    {OptionSection::Sweep, "Sweeps (files written by velloran.sweep.write):", nullptr},
};

// Where the text of every option starts.
constexpr int kHelpColumn = 22;

// Lines after the first start at the help column.
QString indented(const QString &text) {
    const QString margin(kHelpColumn, QLatin1Char(' '));
    return margin + text.split(QLatin1Char('\n')).join(QLatin1Char('\n') + margin) +
           QLatin1Char('\n');
}

// "  --steps N           number of steps ...": the text at the help column,
// two spaces after a wider name, or below the name when it starts with a
// line break.
QString optionUsage(const OptionEntry &entry) {
    QString label = entry.label;
    if (label.isEmpty()) {
        label = entry.isFlag() ? entry.name : entry.name + QLatin1Char(' ') + entry.argument;
    }
    label = QStringLiteral("  ") + label;
    if (entry.help.isEmpty()) {
        return label + QLatin1Char('\n');
    }
    if (entry.help.startsWith(QLatin1Char('\n'))) {
        return label + QLatin1Char('\n') + indented(entry.help.mid(1));
    }
    const QString first = label.size() < kHelpColumn - 1 ? label.leftJustified(kHelpColumn)
                                                         : label + QStringLiteral("  ");
    return first + indented(entry.help).mid(kHelpColumn);
}

} // namespace

QString renderUsage() {
    QString usage =
        QStringLiteral("Usage: velloran-render [CONFIG.xml] [options]\n"
                       "\n"
                       "Runs target-driven smoke without a display and writes frames, raw fields,\n"
                       "metrics and a convergence plot.\n");
    for (const UsageSection &section : kUsageSections) {
        usage += QLatin1Char('\n') + QLatin1String(section.title) + QLatin1Char('\n');
        for (const OptionEntry &entry : optionTable()) {
            if (entry.section == section.section) {
                usage += optionUsage(entry);
            }
        }
        if (section.footer) {
            usage += indented(QLatin1String(section.footer));
        }
    }
    return usage +
           QStringLiteral(
               "\n"
               "Exit status: 0 done; 1 output or video encoding failed during the run;\n"
               "2 bad input or output folder in use (nothing is created); 3 the run became\n"
               "unstable (what was written is kept); 130 interrupted by Ctrl-C, 143 by\n"
               "SIGTERM, 129 by SIGHUP (the step under way is finished and written first;\n"
               "a second signal ends at once).\n");
}

} // namespace velloran
