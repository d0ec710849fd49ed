#pragma once

// The colours of a colour target, and how each pixel splits into them.
//
// A pixel p is read as a palette colour c laid over the picture's background
// b with some coverage t in [0, 1]: p ~ b + t (c - b). The pixel belongs to
// the palette colour whose segment b..c passes nearest to it (Euclidean
// distance in 8-bit RGB; ties to the earlier colour), and its density in that
// colour's field is t, the position of its foot on the segment,
// t = clamp(<p - b, c - b> / |c - b|^2, 0, 1). A pixel of the palette colour
// itself has density 1, a background pixel 0, an anti-aliased edge between
// the two the fraction it covers. Alpha is ignored, as in grey images.
//
// The background is the image's most common colour (ties: the smaller
// 0xRRGGBB). A found palette takes the most common other colours:
//   1. the image's colours sorted by pixel count, most common first (ties:
//      the smaller 0xRRGGBB);
//   2. walking that list, a colour becomes a palette colour unless it lies
//      within kPaletteSeparation of the background, of a segment from the
//      background to a colour already taken, or of a segment between two
//      colours already taken (edges and blends of those);
//   3. each colour taken is replaced by the count-weighted mean of the image's
//      colours within kPaletteSeparation / 2 of it, in integers and rounded
//      (noise around a flat colour averages out).
// Every step works on the colour counts alone, so the palette depends on the
// image's colours and how often each occurs, not on where the pixels lie or
// the order they are read in, and it is the same on every machine.
// "auto" takes colours up to kMaxColourFields, each covering at least
// 1 % of the pixels that are not background; a count N takes the first N.

#include "colourrun.h"
#include "grid.h"

#include <QImage>
#include <QString>

#include <vector>

namespace velloran {

// Distance in 8-bit RGB units below which two colours are one.
constexpr int kPaletteSeparation = 48;

struct Palette {
    SmokeColour background;
    std::vector<SmokeColour> colours;
};

// The image's most common colour.
SmokeColour backgroundOf(const QImage &image);

// The palette of `image` for `request`. False with a message when the image
// has fewer colours than asked for, or a given colour is the background or
// lies farther than kPaletteSeparation from every pixel.
bool findPalette(const QImage &image, const PaletteRequest &request, Palette *palette,
                 QString *error);

// One density grid per palette colour, side x side from the top-left of the
// image, flipped like densityFromImage.
std::vector<Grid> paletteDensities(const QImage &image, const Palette &palette, int side);

} // namespace velloran
