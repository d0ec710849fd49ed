#pragma once

// Walking a configuration document with a streaming reader: the text of an
// element, skipping one, visiting the children of one.

#include <QString>
#include <QXmlStreamReader>

namespace velloran {

// Collects the text of one element the way a DOM element's text() does: all
// character data it contains, nested elements included, where pure white-space
// runs between markup do not count (a DOM parser drops those nodes).
inline QString readElementText(QXmlStreamReader &reader) {
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

inline void skipElement(QXmlStreamReader &reader) {
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

} // namespace velloran
