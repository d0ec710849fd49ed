#include "configfile.h"

// Reading the configuration file (configfile.h); its writer is configwriter.cpp.

#include "colourconfig.h"
#include "keyframes.h"
#include "regularfile.h"
#include "xmlreading.h"

#include <QFile>

#include <cmath>

namespace velloran {

namespace {

void readParameters(QXmlStreamReader &reader, Configuration &configuration) {
    forEachChildElement(reader, [&] {
        const QByteArray name = reader.name().toUtf8();
        const std::size_t index = parameterIndex(name.constData());
        if (index < kParameterCount) {
            const QString text = readElementText(reader);
            configuration.values[index] = configNumber(text);
            configuration.texts[index] = text;
        } else {
            skipElement(reader);
        }
    });
}

void readImages(QXmlStreamReader &reader, Configuration &configuration) {
    forEachChildElement(reader, [&] {
        if (reader.name() == QLatin1String("source")) {
            configuration.source = readElementText(reader);
        } else if (reader.name() == QLatin1String("target")) {
            configuration.target = readElementText(reader);
        } else {
            skipElement(reader);
        }
    });
}

// A whole number in an attribute: optional surrounding white space, decimal
// digits, nothing else ("+1", "1.0", "1e3" and "0x10" are not whole numbers).
std::optional<qint64> wholeNumber(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return std::nullopt;
        }
    }
    bool ok = false;
    const qint64 value = trimmed.toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

// Reads <keyframes>; a refusal is described in *error and stops the reading.
bool readKeyframes(QXmlStreamReader &reader, std::vector<KeyframeEntry> *keyframes,
                   QString *error) {
    keyframes->clear();
    bool ok = true;
    forEachChildElement(reader, [&] {
        if (!ok || reader.name() != QLatin1String("target")) {
            skipElement(reader);
            return;
        }
        const qint64 line = reader.lineNumber();
        const QXmlStreamAttributes attributes = reader.attributes();
        const QString stepText = attributes.value(QLatin1String("step")).toString();
        const bool hasBlend = attributes.hasAttribute(QLatin1String("blend"));
        const QString blendText = attributes.value(QLatin1String("blend")).toString();
        const bool hasField = attributes.hasAttribute(QLatin1String("field"));
        const QString fieldText = attributes.value(QLatin1String("field")).toString();
        const QString image = readElementText(reader).trimmed();
        const auto refuse = [&](const QString &why) {
            *error = QStringLiteral("line %1: keyframe: %2").arg(line).arg(why);
            ok = false;
        };
        if (!attributes.hasAttribute(QLatin1String("step"))) {
            refuse(QStringLiteral("a <target> has no step attribute"));
            return;
        }
        const std::optional<qint64> step = wholeNumber(stepText);
        if (!step) {
            refuse(QStringLiteral("step \"%1\" is not a whole number").arg(stepText));
            return;
        }
        if (*step <= 0) {
            refuse(QStringLiteral("step %1 must be after step 0, where the first target holds")
                       .arg(*step));
            return;
        }
        std::optional<SmokeColour> field;
        if (hasField) {
            field = parseSmokeColour(fieldText.trimmed());
            if (!field) {
                refuse(QStringLiteral("field \"%1\" is not a colour (#rrggbb)").arg(fieldText));
                return;
            }
        }
        // The targets of a run's fields at one step stand side by side.
        const bool besideField = field && !keyframes->empty() && keyframes->back().field &&
                                 *step == keyframes->back().step;
        if (!keyframes->empty() && *step <= keyframes->back().step && !besideField) {
            refuse(QStringLiteral("step %1 does not come after step %2; steps must increase")
                       .arg(*step)
                       .arg(keyframes->back().step));
            return;
        }
        std::optional<qint64> blend = qint64{0};
        if (hasBlend) {
            blend = wholeNumber(blendText);
            if (!blend) {
                refuse(QStringLiteral("blend \"%1\" is not a whole number").arg(blendText));
                return;
            }
        }
        if (image.isEmpty()) {
            refuse(QStringLiteral("the target at step %1 names no image").arg(*step));
            return;
        }
        keyframes->push_back(KeyframeEntry{*step, image, *blend, field});
    });
    return ok;
}

// "LINE:COLUMN: what", at the reader's position.
QString placed(const QXmlStreamReader &reader, const QString &what) {
    return QStringLiteral("%1:%2: %3")
        .arg(reader.lineNumber())
        .arg(reader.columnNumber())
        .arg(what);
}

// Reads <scheme>; an unknown word is described in *error.
void readScheme(QXmlStreamReader &reader, Configuration &configuration, QString *error) {
    const qint64 line = reader.lineNumber();
    const QString word = readElementText(reader).trimmed();
    Scheme scheme = Scheme::Literal;
    if (parseScheme(word.toStdString(), &scheme)) {
        configuration.scheme = scheme;
    } else {
        *error =
            QStringLiteral("line %1: unknown scheme \"%2\" (literal or sound)").arg(line).arg(word);
    }
}

// The children of <configuration>. After the first refusal, the scheme and
// keyframes that follow are skipped: the refusal names the first fault.
void readRoot(QXmlStreamReader &reader, Configuration &configuration, QString *refusal) {
    forEachChildElement(reader, [&] {
        if (reader.name() == QLatin1String("parameters")) {
            readParameters(reader, configuration);
        } else if (reader.name() == QLatin1String("images")) {
            readImages(reader, configuration);
        } else if (reader.name() == QLatin1String("scheme") && refusal->isEmpty()) {
            readScheme(reader, configuration, refusal);
        } else if (reader.name() == QLatin1String("keyframes") && refusal->isEmpty()) {
            readKeyframes(reader, &configuration.keyframes, refusal);
        } else if (reader.name() == QLatin1String("obstacles")) {
            configuration.obstacles = readElementText(reader);
        } else if (reader.name() == QLatin1String("colour") && refusal->isEmpty()) {
            ColourConfiguration colour;
            if (readColourElement(reader, &colour, refusal)) {
                configuration.colour = colour;
            }
        } else {
            skipElement(reader);
        }
    });
}

} // namespace

bool Configuration::isEmpty() const {
    for (const auto &value : values) {
        if (value) {
            return false;
        }
    }
    return !source && !target && !scheme && keyframes.empty() && !obstacles && !colour;
}

double configNumber(const QString &text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (std::isinf(value)) {
        return value; // overflow ("1e400") reports !ok but means "very large"
    }
    if (!ok || std::isnan(value)) {
        return 0.0;
    }
    return value;
}

ConfigReadResult readConfigurationData(const QByteArray &data) {
    ConfigReadResult result;
    result.status = ConfigStatus::NotWellFormed;
    if (data.size() > kMaxConfigurationBytes) {
        result.detail = QStringLiteral("file larger than %1 bytes").arg(kMaxConfigurationBytes);
        return result;
    }

    // A streaming parse: no tree is built, so neither the depth of the nesting
    // nor the number of nodes costs stack or much memory. The reader never
    // fetches external entities, and entity expansion is capped, so the
    // "billion laughs" document ends as an error.
    QXmlStreamReader reader(data);
    reader.setNamespaceProcessing(false);
    Configuration configuration;
    bool rootSeen = false;
    bool rootRecognised = false;
    QString refusal;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::DTD) {
            // The reader has parsed the declarations but expanded nothing yet;
            // stopping here costs a configuration nothing (it needs no DTD)
            // and leaves entity tricks no room at all.
            result.detail = placed(reader, QStringLiteral("a document type declaration "
                                                          "(<!DOCTYPE>) is not allowed in a "
                                                          "configuration file"));
            return result;
        }
        // Only the first element is the root; the reader itself reports any
        // element after it as an error.
        if (token != QXmlStreamReader::StartElement || rootSeen) {
            continue;
        }
        rootSeen = true;
        rootRecognised = reader.name() == QLatin1String("configuration");
        if (rootRecognised) {
            readRoot(reader, configuration, &refusal);
        } else {
            skipElement(reader);
        }
    }
    if (reader.hasError() || !rootSeen) {
        // The parser's own words whenever it has any: an error before the
        // root (bad encoding, a broken declaration) is not a missing root.
        result.detail = placed(reader, reader.hasError() ? reader.errorString()
                                                         : QStringLiteral("no root element"));
        return result;
    }
    // Fields given one by one take the place of the two images.
    const bool namesImages = (configuration.source && !configuration.source->isEmpty()) ||
                             (configuration.target && !configuration.target->isEmpty());
    if (refusal.isEmpty() && configuration.colour && !configuration.colour->fields.empty() &&
        namesImages) {
        refusal = QStringLiteral("colour: <field> entries take the place of <images>; a file has "
                                 "one or the other");
    }
    if (refusal.isEmpty()) {
        const QString keyframes =
            keyframeFieldsRefusal(configuration.keyframes,
                                  configuration.colour ? fieldColours(configuration.colour->fields)
                                                       : std::vector<SmokeColour>{});
        if (!keyframes.isEmpty()) {
            refusal = QStringLiteral("keyframes: ") + keyframes;
        }
    }
    if (!refusal.isEmpty()) {
        result.detail = refusal;
        return result;
    }
    result.status = ConfigStatus::Parsed;
    result.rootRecognised = rootRecognised;
    if (rootRecognised) {
        result.configuration = configuration;
    }
    return result;
}

ConfigReadResult readConfigurationFile(const QString &path) {
    ConfigReadResult failed;
    failed.status = ConfigStatus::OpenFailed;
    QFile file;
    if (!openRegularFile(path, &file, &failed.detail)) {
        return failed;
    }
    // Read one byte past the cap so an oversized file is recognised without
    // reading all of it.
    const QByteArray data = file.read(kMaxConfigurationBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        failed.detail = file.errorString();
        return failed;
    }
    return readConfigurationData(data);
}

} // namespace velloran
