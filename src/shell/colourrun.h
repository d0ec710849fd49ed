#pragma once

// What a colour run is made of, as the configuration file and the renderer's
// options say it: how its picture is drawn, and where its smoke fields come
// from (a palette splitting a colour target, or grey images field by field).

#include "smokecolour.h"

#include <QString>

#include <optional>
#include <vector>

namespace velloran {

// The most smoke fields a run carries (the core's Solver::kMaxSmokeFields).
constexpr int kMaxColourFields = 8;

enum class ColourMode { Light, Dark };

// "light" or "dark"; anything else gives nothing.
std::optional<ColourMode> parseColourMode(const QString &text);
QString colourModeName(ColourMode mode);

// A palette: given colours, or the `count` most common colours of the target
// (0: "auto", as many as it has, up to kMaxColourFields).
struct PaletteRequest {
    std::vector<SmokeColour> colours; // given; empty: found in the target
    int count = 0;                    // found: this many; 0: "auto"

    bool operator==(const PaletteRequest &other) const {
        return colours == other.colours && count == other.count;
    }
};

// "auto", a count 1..8 or a comma list of 1..8 distinct colours (#rrggbb or
// rrggbb). False with a message naming what is wrong.
bool parsePaletteRequest(const QString &text, PaletteRequest *request, QString *error);
// The text parsePaletteRequest reads back ("auto", "3", "#e03020,#20a0e0").
QString paletteRequestText(const PaletteRequest &request);

// One smoke field of a colour run given field by field: its colour (which
// also names it, "e03020") and its grey source and target images.
struct ColourField {
    SmokeColour colour;
    QString sourcePath;
    QString targetPath;

    bool operator==(const ColourField &other) const {
        return colour == other.colour && sourcePath == other.sourcePath &&
               targetPath == other.targetPath;
    }
};

// The fields' colours, in their order.
std::vector<SmokeColour> fieldColours(const std::vector<ColourField> &fields);

// A configuration's colour run: a palette over its <images>, or fields.
struct ColourConfiguration {
    ColourMode mode = ColourMode::Light;
    std::optional<PaletteRequest> palette;
    std::vector<ColourField> fields;

    bool operator==(const ColourConfiguration &other) const {
        return mode == other.mode && palette == other.palette && fields == other.fields;
    }
};

} // namespace velloran
