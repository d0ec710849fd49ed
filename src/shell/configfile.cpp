#include "configfile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>

namespace velloran {

namespace {

// Collects the text of one element the way a DOM element's text() does: all
// character data it contains, nested elements included, where pure white-space
// runs between markup do not count (a DOM parser drops those nodes).
QString readElementText(QXmlStreamReader &reader) {
    QString text;
    int depth = 1;
    while (depth > 0 && !reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isWhitespace() || reader.isCDATA()) {
                text += reader.text();
            }
            break;
        default:
            break;
        }
    }
    return text;
}

void skipElement(QXmlStreamReader &reader) {
    int depth = 1;
    while (depth > 0 && !reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
}

// Visits the child elements of the element the reader has just started, in
// document order, skipping everything that is not an element; visit() is
// called with the reader on each child's start tag and must consume the child.
// Returns on the parent's end tag.
template <class Visit> void forEachChildElement(QXmlStreamReader &reader, Visit visit) {
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            return;
        }
        if (token == QXmlStreamReader::StartElement) {
            visit();
        }
    }
}

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

} // namespace

bool Configuration::isEmpty() const {
    for (const auto &value : values) {
        if (value) {
            return false;
        }
    }
    return !source && !target;
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
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token != QXmlStreamReader::StartElement) {
            continue;
        }
        if (rootSeen) {
            // Only the first element is the root; the reader itself reports any
            // element after it as an error.
            continue;
        }
        rootSeen = true;
        rootRecognised = reader.name() == QLatin1String("configuration");
        if (!rootRecognised) {
            skipElement(reader);
            continue;
        }
        forEachChildElement(reader, [&] {
            if (reader.name() == QLatin1String("parameters")) {
                readParameters(reader, configuration);
            } else if (reader.name() == QLatin1String("images")) {
                readImages(reader, configuration);
            } else {
                skipElement(reader);
            }
        });
    }
    if (reader.hasError() || !rootSeen) {
        result.detail =
            QStringLiteral("%1:%2: %3")
                .arg(reader.lineNumber())
                .arg(reader.columnNumber())
                .arg(rootSeen ? reader.errorString() : QStringLiteral("no root element"));
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ConfigReadResult result;
        result.status = ConfigStatus::OpenFailed;
        result.detail = file.errorString();
        return result;
    }
    // Read one byte past the cap so an oversized file is recognised without
    // reading all of it.
    const QByteArray data = file.read(kMaxConfigurationBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        ConfigReadResult result;
        result.status = ConfigStatus::OpenFailed;
        result.detail = file.errorString();
        return result;
    }
    return readConfigurationData(data);
}

QString withXmlSuffix(const QString &fileName) {
    if (fileName.right(4).compare(QLatin1String(".xml"), Qt::CaseInsensitive) == 0) {
        return fileName;
    }
    return fileName + QLatin1String(".xml");
}

namespace {

void writeDocument(QXmlStreamWriter &writer, const SimParameters &parameters, const QString &source,
                   const QString &target) {
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
    writer.writeStartElement(QStringLiteral("images"));
    writer.writeTextElement(QStringLiteral("source"), source);
    writer.writeTextElement(QStringLiteral("target"), target);
    writer.writeEndElement();
    writer.writeEndDocument();
}

} // namespace

bool writeConfiguration(QIODevice *device, const SimParameters &parameters, const QString &source,
                        const QString &target) {
    QXmlStreamWriter writer(device);
    writeDocument(writer, parameters, source, target);
    return !writer.hasError();
}

QByteArray configurationXml(const SimParameters &parameters, const QString &source,
                            const QString &target) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    writeConfiguration(&buffer, parameters, source, target);
    return data;
}

bool writeConfigurationFile(const QString &path, const SimParameters &parameters,
                            const QString &source, const QString &target, QString *error) {
    // Saving replaces the file by renaming a finished copy over it; that must
    // never happen to a device, a pipe or a directory that carries the name.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isFile()) {
        if (error) {
            *error = QStringLiteral("%1 is not a regular file").arg(path);
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
    if (!writeConfiguration(&file, parameters, source, target)) {
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
