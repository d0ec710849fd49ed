#include "sweepfile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace velloran {

namespace {

enum class Kind { Text, Number, Whole, Flag, Keyframes, Formats, Fields, Palette };

struct OptionKey {
    const char *key;
    const char *option; // empty: the positional configuration file
    Kind kind;
};

constexpr OptionKey kOptionKeys[] = {
    {"config", "", Kind::Text},
    {"example", "--example", Kind::Text},
    {"source", "--source", Kind::Text},
    {"target", "--target", Kind::Text},
    {"reverse", "--reverse", Kind::Flag},
    {"scheme", "--scheme", Kind::Text},
    {"keyframes", "--keyframe", Kind::Keyframes},
    {"vf", "--vf", Kind::Number},
    {"vd", "--vd", Kind::Number},
    {"vg", "--vg", Kind::Number},
    {"sigma", "--sigma", Kind::Number},
    {"dt", "--dt", Kind::Number},
    {"steps", "--steps", Kind::Whole},
    {"every", "--every", Kind::Whole},
    {"format", "--format", Kind::Formats},
    {"alpha", "--alpha", Kind::Flag},
    {"smoke_colour", "--smoke-colour", Kind::Text},
    {"frame_name", "--name", Kind::Text},
    {"checkpoint_every", "--checkpoint-every", Kind::Whole},
    {"field", "--field", Kind::Fields},
    {"palette", "--palette", Kind::Palette},
    {"colour_mode", "--colour-mode", Kind::Text},
};

// Keys of a run that are not options.
bool isRunKey(const QString &key) {
    return key == QLatin1String("index") || key == QLatin1String("name") ||
           key == QLatin1String("axes");
}

const OptionKey *findOption(const QString &key) {
    for (const OptionKey &option : kOptionKeys) {
        if (key == QLatin1String(option.key)) {
            return &option;
        }
    }
    return nullptr;
}

QString numberText(double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// One keyframe: "[#RRGGBB:]STEP:IMAGE[:BLEND]" or [step, image] / [step, image,
// blend], the same after a field's colour (["#e03020", step, image]).
bool keyframeText(const QJsonValue &value, QString *text) {
    if (value.isString()) {
        *text = value.toString();
        return true;
    }
    QJsonArray parts = value.toArray();
    QString field;
    if (!parts.isEmpty() && parts[0].isString()) {
        field = parts[0].toString() + QLatin1Char(':');
        parts.removeFirst();
    }
    if (!value.isArray() || parts.size() < 2 || parts.size() > 3 || !parts[0].isDouble() ||
        !parts[1].isString() || (parts.size() == 3 && !parts[2].isDouble())) {
        return false;
    }
    *text = field + numberText(parts[0].toDouble()) + QLatin1Char(':') + parts[1].toString();
    if (parts.size() == 3) {
        *text += QLatin1Char(':') + numberText(parts[2].toDouble());
    }
    return true;
}

// One field: "COLOUR:SOURCE:TARGET" or [colour, source, target].
bool fieldText(const QJsonValue &value, QString *text) {
    if (value.isString()) {
        *text = value.toString();
        return true;
    }
    const QJsonArray parts = value.toArray();
    if (!value.isArray() || parts.size() != 3) {
        return false;
    }
    QStringList texts;
    for (const auto &part : parts) {
        if (!part.isString()) {
            return false;
        }
        texts << part.toString();
    }
    *text = texts.join(QLatin1Char(':'));
    return true;
}

bool appendOption(const OptionKey &key, const QJsonValue &value, QStringList *arguments,
                  QString *error) {
    const QString option = QLatin1String(key.option);
    const auto wrong = [&](const char *what) {
        *error = QStringLiteral("'%1' needs %2").arg(QLatin1String(key.key), QLatin1String(what));
        return false;
    };
    switch (key.kind) {
    case Kind::Text:
        if (!value.isString()) {
            return wrong("text");
        }
        if (option.isEmpty()) {
            *arguments << QStringLiteral("--") << value.toString();
        } else {
            *arguments << option << value.toString();
        }
        return true;
    case Kind::Number:
        if (!value.isDouble()) {
            return wrong("a number");
        }
        *arguments << option << numberText(value.toDouble());
        return true;
    case Kind::Whole:
        if (!value.isDouble() || value.toDouble() != std::floor(value.toDouble())) {
            return wrong("a whole number");
        }
        *arguments << option << numberText(value.toDouble());
        return true;
    case Kind::Flag:
        if (!value.isBool()) {
            return wrong("true or false");
        }
        if (value.toBool()) {
            *arguments << option;
        }
        return true;
    case Kind::Formats: {
        QStringList formats;
        if (value.isString()) {
            formats << value.toString();
        } else if (value.isArray()) {
            for (const auto &format : value.toArray()) {
                formats << format.toString();
            }
        } else {
            return wrong("text or a list of formats");
        }
        *arguments << option << formats.join(QLatin1Char(','));
        return true;
    }
    case Kind::Keyframes:
    case Kind::Fields: {
        const bool keyframes = key.kind == Kind::Keyframes;
        if (!value.isArray()) {
            return wrong(keyframes ? "a list of keyframes" : "a list of fields");
        }
        for (const auto &entry : value.toArray()) {
            QString text;
            if (keyframes ? !keyframeText(entry, &text) : !fieldText(entry, &text)) {
                return wrong(keyframes ? "keyframes as \"STEP:IMAGE[:BLEND]\" or [step, image, "
                                         "blend]"
                                       : "fields as \"COLOUR:SOURCE:TARGET\" or [colour, source, "
                                         "target]");
            }
            *arguments << option << text;
        }
        return true;
    }
    case Kind::Palette:
        if (value.isDouble() && value.toDouble() == std::floor(value.toDouble())) {
            *arguments << option << numberText(value.toDouble());
            return true;
        }
        if (!value.isString()) {
            return wrong("\"auto\", a count or a text of colours");
        }
        *arguments << option << value.toString();
        return true;
    }
    return false;
}

bool readRun(const QJsonValue &value, int position, SweepRun *run, QString *error) {
    const QJsonObject object = value.toObject();
    if (!value.isObject() || !object.value(QLatin1String("index")).isDouble() ||
        object.value(QLatin1String("index")).toDouble() != position) {
        *error = QStringLiteral("run %1 must be an object with \"index\": %1").arg(position);
        return false;
    }
    static const QRegularExpression folderName(QStringLiteral("^[A-Za-z0-9=+._-]+$"));
    const QString name = object.value(QLatin1String("name")).toString();
    if (!folderName.match(name).hasMatch() || name.startsWith(QLatin1Char('.'))) {
        *error = QStringLiteral("run %1 needs a \"name\" that can be a folder name (letters, "
                                "digits and =+._-, not starting with a dot), not '%2'")
                     .arg(position)
                     .arg(name);
        return false;
    }
    run->index = position;
    run->name = name;
    run->axes.clear();
    for (const auto &axis : object.value(QLatin1String("axes")).toArray()) {
        run->axes << axis.toString();
    }
    run->options = QJsonObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (isRunKey(it.key())) {
            continue;
        }
        if (!findOption(it.key())) {
            *error = QStringLiteral("run %1 ('%2') has the unknown option '%3'")
                         .arg(position)
                         .arg(name, it.key());
            return false;
        }
        run->options.insert(it.key(), it.value());
    }
    return true;
}

} // namespace

bool loadSweep(const QString &path, std::vector<SweepRun> *runs, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            QStringLiteral("could not read the sweep file '%1': %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonObject top = document.object();
    if (document.isNull() || !top.value(QLatin1String("velloran_sweep")).isDouble() ||
        !top.value(QLatin1String("runs")).isArray()) {
        *error = QStringLiteral("'%1' is not a sweep file (%2)")
                     .arg(path, document.isNull()
                                    ? parseError.errorString()
                                    : QStringLiteral("no \"velloran_sweep\" and \"runs\""));
        return false;
    }
    if (top.value(QLatin1String("velloran_sweep")).toInt() != 1) {
        *error = QStringLiteral("'%1' is a sweep file of another version").arg(path);
        return false;
    }
    std::vector<SweepRun> result;
    QStringList names;
    const QJsonArray array = top.value(QLatin1String("runs")).toArray();
    for (int k = 0; k < array.size(); ++k) {
        SweepRun run;
        if (!readRun(array[k], k, &run, error)) {
            *error = QStringLiteral("'%1': %2").arg(path, *error);
            return false;
        }
        if (names.contains(run.name)) {
            *error = QStringLiteral("'%1': two runs are named '%2'").arg(path, run.name);
            return false;
        }
        names << run.name;
        result.push_back(run);
    }
    *runs = std::move(result);
    return true;
}

bool sweepRunArguments(const SweepRun &run, QStringList *arguments, QString *error) {
    QStringList result;
    QStringList positional;
    for (const OptionKey &key : kOptionKeys) {
        const QJsonValue value = run.options.value(QLatin1String(key.key));
        if (value.isUndefined() || value.isNull()) {
            continue;
        }
        QStringList *into = *key.option == '\0' ? &positional : &result;
        if (!appendOption(key, value, into, error)) {
            *error = QStringLiteral("run %1 ('%2'): %3").arg(run.index).arg(run.name, *error);
            return false;
        }
    }
    *arguments = result + positional; // "--" then the file, after every option
    return true;
}

QString sweepValueText(const QJsonValue &value) {
    if (value.isDouble()) {
        return numberText(value.toDouble());
    }
    if (value.isBool()) {
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    }
    if (value.isArray()) {
        QStringList parts;
        for (const auto &part : value.toArray()) {
            parts << sweepValueText(part);
        }
        return parts.join(QLatin1Char('+'));
    }
    return value.toString();
}

} // namespace velloran
