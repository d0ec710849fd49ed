#pragma once

// The frame formats a run can write, each registered once: the name --format
// takes and a checkpoint records, its lines of help, and how its writer is
// made. A new format is one entry in the table (frameformats.cpp) and its
// FrameWriter; the option, the help, the checkpoint, the sweep of an earlier
// render's files and the summary follow from them.

#include "colourpicture.h"
#include "framename.h"
#include "framewriter.h"
#include "smokecolour.h"
#include "vdbframe.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace velloran {

// What the writers take from the run besides the folder.
struct FrameSettings {
    FrameNamePattern names;
    SmokeColour colour;
    bool alpha = false; // PNG frames in RGBA, the density as straight alpha
    VdbSettings vdb;
    std::optional<ColourPicture> picture; // a run of several coloured fields
    bool obstacles = false;               // the run has obstacles: npy frames add solid_
};

struct FrameFormat {
    const char *name; // "png"
    // Its lines under --format, each indented to line up with the others:
    // "png: frame_NNNNNN.png, 8-bit grey, upright".
    const char *help;
    std::unique_ptr<FrameWriter> (*makeWriter)(const QString &folder,
                                               const FrameSettings &settings);
};

// The volume frames' settings: a colour run's adds its fields, each named
// and coloured by its colour.
VdbSettings volumeSettings(const FrameSettings &settings);

// Every format, in the order a run writes them.
const std::vector<FrameFormat> &frameFormats();

// The format of that name, or null.
const FrameFormat *findFrameFormat(const QString &name);

// "png, exr, vdb, npy": the names for messages and the help.
QString frameFormatNames();

// The formats' help lines, each ending in a newline, indented by `indent`.
QString frameFormatHelp(int indent);

// `names` in the table's order, each once; names not in the table are left out.
QStringList orderedFrameFormats(const QStringList &names);

// The step of a per-frame file of any format under `names`, if `name` is one.
std::optional<int> frameFileStep(const QString &name, const FrameNamePattern &names);

// True for a per-frame file of any format under `names` or the default names:
// what an earlier render may have left, whatever formats it wrote.
bool isFrameFileName(const QString &name, const FrameNamePattern &names);

// The writers of `formats` (names in the table), in the table's order,
// writing into `folder`.
std::vector<std::unique_ptr<FrameWriter>>
makeFrameWriters(const QStringList &formats, const QString &folder, const FrameSettings &settings);

} // namespace velloran
