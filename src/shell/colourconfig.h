#pragma once

// The configuration file's <colour> element (configfile.h describes it).

#include "colourrun.h"

#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace velloran {

// Reads the element the reader has just started, whole. False with
// "line N: colour: ..." in *error for the first value that cannot be used.
bool readColourElement(QXmlStreamReader &reader, ColourConfiguration *colour, QString *error);

void writeColourElement(QXmlStreamWriter &writer, const ColourConfiguration &colour);

} // namespace velloran
