#pragma once

// A colour run's smoke fields from a source image and a colour target: the
// target split by its palette (palette.h), the source either split by the same
// palette (each colour's smoke starts where that colour is) or, when it is a
// grey image (red = green = blue in every pixel), read as a grey run reads it
// and shared among the fields in proportion to their target masses (the
// colours start mixed and sort themselves out).

#include "palette.h"
#include "runsetup.h"

#include <QImage>
#include <QString>

#include <vector>

namespace velloran {

struct ColourFields {
    Palette palette;
    std::vector<RunDensities> fields; // one per palette colour, in its order
};

// Both images square, of one size and at most kMaxImageSide; reverse makes
// the source image the colour target and the target image the source. False
// with a one-line message, *out untouched.
bool readColourFields(const QString &sourcePath, const QString &targetPath, bool reverse,
                      const PaletteRequest &request, ColourFields *out, QString *error);
bool colourFieldsFromImages(const QImage &source, const QImage &target,
                            const PaletteRequest &request, ColourFields *out, QString *error);

} // namespace velloran
