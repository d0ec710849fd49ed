#include "configfile.h"

// Writing the configuration file (configfile.h); its reader is configreader.cpp.

#include "colourconfig.h"
#include "regularfile.h"

#include <QBuffer>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace velloran {

QString withXmlSuffix(const QString &fileName) {
    if (fileName.right(4).compare(QLatin1String(".xml"), Qt::CaseInsensitive) == 0) {
        return fileName;
    }
    return fileName + QLatin1String(".xml");
}

namespace {

void writeDocument(QXmlStreamWriter &writer, const SimParameters &parameters, const QString &source,
                   const QString &target, const SchemeAndKeyframes &extras) {
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(4);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("configuration"));
    writer.writeStartElement(QStringLiteral("parameters"));
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        writer.writeTextElement(QLatin1String(kParameterRanges[k].key),
                                QString::number(parameters[k], 'g', 6));
    }
    writer.writeEndElement();
    // A run of fields given one by one names its images in <colour>.
    const bool fieldsOnly = extras.colour && !extras.colour->fields.empty();
    if (!fieldsOnly) {
        writer.writeStartElement(QStringLiteral("images"));
        writer.writeTextElement(QStringLiteral("source"), source);
        writer.writeTextElement(QStringLiteral("target"), target);
        writer.writeEndElement();
    }
    if (extras.scheme != Scheme::Literal) {
        writer.writeTextElement(QStringLiteral("scheme"), QLatin1String(schemeName(extras.scheme)));
    }
    if (!extras.keyframes.empty()) {
        writer.writeStartElement(QStringLiteral("keyframes"));
        for (const KeyframeEntry &keyframe : extras.keyframes) {
            writer.writeStartElement(QStringLiteral("target"));
            writer.writeAttribute(QStringLiteral("step"), QString::number(keyframe.step));
            if (keyframe.blend != 0) {
                writer.writeAttribute(QStringLiteral("blend"), QString::number(keyframe.blend));
            }
            if (keyframe.field) {
                writer.writeAttribute(QStringLiteral("field"),
                                      QStringLiteral("#") + keyframe.field->hex());
            }
            writer.writeCharacters(keyframe.image);
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    if (!extras.obstacles.isEmpty()) {
        writer.writeTextElement(QStringLiteral("obstacles"), extras.obstacles);
    }
    if (extras.colour) {
        writeColourElement(writer, *extras.colour);
    }
    writer.writeEndDocument();
}

} // namespace

bool writeConfiguration(QIODevice *device, const SimParameters &parameters, const QString &source,
                        const QString &target, const SchemeAndKeyframes &extras) {
    QXmlStreamWriter writer(device);
    writeDocument(writer, parameters, source, target, extras);
    return !writer.hasError();
}

QByteArray configurationXml(const SimParameters &parameters, const QString &source,
                            const QString &target, const SchemeAndKeyframes &extras) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    writeConfiguration(&buffer, parameters, source, target, extras);
    return data;
}

bool writeConfigurationFile(const QString &path, const SimParameters &parameters,
                            const QString &source, const QString &target, QString *error,
                            const SchemeAndKeyframes &extras) {
    // Saving replaces the file by renaming a finished copy over it; that must
    // never happen to a device, a pipe or a directory that carries the name.
    QString reason;
    if (!replaceableByRegularFile(path, &reason)) {
        if (error) {
            *error = QStringLiteral("%1 is %2").arg(path, reason);
        }
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    if (!writeConfiguration(&file, parameters, source, target, extras)) {
        if (error) {
            *error = file.errorString();
        }
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error) {
            *error = file.errorString();
        }
        return false;
    }
    return true;
}

} // namespace velloran
