#include "colourconfig.h"

#include "xmlreading.h"

#include <algorithm>

namespace velloran {

namespace {

// Reads <colour> and its children into *colour, refusing through `refuse`.
class ColourReader {
public:
    ColourReader(QXmlStreamReader &reader, ColourConfiguration *colour)
        : m_reader(reader)
        , m_colour(colour) {}

    bool read(QString *error) {
        const QXmlStreamAttributes attributes = m_reader.attributes();
        const qint64 line = m_reader.lineNumber();
        if (attributes.hasAttribute(QLatin1String("mode"))) {
            const QString mode = attributes.value(QLatin1String("mode")).toString();
            const std::optional<ColourMode> parsed = parseColourMode(mode.trimmed());
            if (!parsed) {
                refuse(line, QStringLiteral("mode \"%1\" is neither light nor dark").arg(mode));
            } else {
                m_colour->mode = *parsed;
            }
        }
        std::optional<QString> count;
        if (attributes.hasAttribute(QLatin1String("fields"))) {
            count = attributes.value(QLatin1String("fields")).toString();
        }
        forEachChildElement(m_reader, [&] {
            // After a refusal the rest of the element is only skipped.
            const bool reading = m_error.isEmpty();
            if (reading && m_reader.name() == QLatin1String("palette")) {
                readPalette();
            } else if (reading && m_reader.name() == QLatin1String("field")) {
                readField();
            } else {
                skipElement(m_reader);
            }
        });
        if (m_error.isEmpty()) {
            checkCount(line, count);
        }
        *error = m_error;
        return m_error.isEmpty();
    }

private:
    void refuse(qint64 line, const QString &why) {
        if (m_error.isEmpty()) {
            m_error = QStringLiteral("line %1: colour: %2").arg(line).arg(why);
        }
    }

    std::optional<SmokeColour> colourOf(qint64 line, const QString &text) {
        const std::optional<SmokeColour> colour = parseSmokeColour(text.trimmed());
        if (!colour) {
            refuse(line, QStringLiteral("\"%1\" is not a colour (#rrggbb)").arg(text));
        }
        return colour;
    }

    bool tooMany(qint64 line, std::size_t count) {
        if (count >= static_cast<std::size_t>(kMaxColourFields)) {
            refuse(line, QStringLiteral("more than %1 fields").arg(kMaxColourFields));
            return true;
        }
        return false;
    }

    void readPalette() {
        const qint64 line = m_reader.lineNumber();
        if (m_colour->palette || !m_colour->fields.empty()) {
            refuse(line, QStringLiteral("a second <palette>, or one beside <field> entries"));
            skipElement(m_reader);
            return;
        }
        PaletteRequest palette;
        forEachChildElement(m_reader, [&] {
            const qint64 at = m_reader.lineNumber();
            if (m_reader.name() != QLatin1String("colour")) {
                skipElement(m_reader);
                return;
            }
            const std::optional<SmokeColour> c = colourOf(at, readElementText(m_reader));
            if (!c || tooMany(at, palette.colours.size())) {
                return;
            }
            if (std::find(palette.colours.begin(), palette.colours.end(), *c) !=
                palette.colours.end()) {
                refuse(at, QStringLiteral("the palette has #%1 twice").arg(c->hex()));
                return;
            }
            palette.colours.push_back(*c);
        });
        if (palette.colours.empty()) {
            refuse(line, QStringLiteral("<palette> lists no <colour>"));
        }
        m_colour->palette = palette;
    }

    void readField() {
        const qint64 line = m_reader.lineNumber();
        if (m_colour->palette) {
            refuse(line, QStringLiteral("<field> entries beside a <palette>"));
        }
        const std::optional<SmokeColour> c =
            colourOf(line, m_reader.attributes().value(QLatin1String("colour")).toString());
        ColourField field;
        forEachChildElement(m_reader, [&] {
            if (m_reader.name() == QLatin1String("source")) {
                field.sourcePath = readElementText(m_reader).trimmed();
            } else if (m_reader.name() == QLatin1String("target")) {
                field.targetPath = readElementText(m_reader).trimmed();
            } else {
                skipElement(m_reader);
            }
        });
        if (!c || tooMany(line, m_colour->fields.size())) {
            return;
        }
        field.colour = *c;
        if (field.sourcePath.isEmpty() || field.targetPath.isEmpty()) {
            refuse(line,
                   QStringLiteral("the field #%1 needs a <source> and a <target>").arg(c->hex()));
        }
        for (const ColourField &other : m_colour->fields) {
            if (other.colour == *c) {
                refuse(line, QStringLiteral("two fields of colour #%1").arg(c->hex()));
            }
        }
        m_colour->fields.push_back(field);
    }

    // fields="auto" or "N": the palette found, or how many the entries give.
    void checkCount(qint64 line, const std::optional<QString> &count) {
        const QString text = count.value_or(QStringLiteral("auto")).trimmed();
        PaletteRequest request;
        QString why;
        if (text.contains(QLatin1Char(',')) || text.startsWith(QLatin1Char('#')) ||
            !parsePaletteRequest(text, &request, &why)) {
            refuse(line, QStringLiteral("fields \"%1\" is neither auto nor a count 1 to %2")
                             .arg(text)
                             .arg(kMaxColourFields));
            return;
        }
        const std::size_t given =
            m_colour->palette ? m_colour->palette->colours.size() : m_colour->fields.size();
        if (given == 0) {
            m_colour->palette = request;
        } else if (request.count != 0 && static_cast<std::size_t>(request.count) != given) {
            refuse(line, QStringLiteral("fields=\"%1\" but %2 are given").arg(text).arg(given));
        }
    }

    QXmlStreamReader &m_reader;
    ColourConfiguration *m_colour;
    QString m_error;
};

} // namespace

bool readColourElement(QXmlStreamReader &reader, ColourConfiguration *colour, QString *error) {
    ColourConfiguration result;
    if (!ColourReader(reader, &result).read(error)) {
        return false;
    }
    *colour = result;
    return true;
}

void writeColourElement(QXmlStreamWriter &writer, const ColourConfiguration &colour) {
    writer.writeStartElement(QStringLiteral("colour"));
    writer.writeAttribute(QStringLiteral("mode"), colourModeName(colour.mode));
    const bool found = colour.palette && colour.palette->colours.empty();
    if (found) {
        writer.writeAttribute(QStringLiteral("fields"), paletteRequestText(*colour.palette));
    } else if (colour.palette) {
        writer.writeStartElement(QStringLiteral("palette"));
        for (const SmokeColour &c : colour.palette->colours) {
            writer.writeTextElement(QStringLiteral("colour"), QStringLiteral("#") + c.hex());
        }
        writer.writeEndElement();
    }
    for (const ColourField &field : colour.fields) {
        writer.writeStartElement(QStringLiteral("field"));
        writer.writeAttribute(QStringLiteral("colour"), QStringLiteral("#") + field.colour.hex());
        writer.writeTextElement(QStringLiteral("source"), field.sourcePath);
        writer.writeTextElement(QStringLiteral("target"), field.targetPath);
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

} // namespace velloran
