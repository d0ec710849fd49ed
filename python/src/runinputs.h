#pragma once

// What a run is made of (two density grids, five parameters, a scheme and
// any further targets), gathered from images, a configuration file or the
// caller's numbers through the same shell code the desktop program and the
// renderer use.

#include "colourpicture.h"
#include "grid.h"
#include "parameters.h"
#include "scheme.h"
#include "targetschedule.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace velloran::binding {

struct RunInputs {
    Grid source{1, 1};
    Grid target{1, 1};
    SimParameters parameters;
    Scheme scheme = Scheme::Literal;
    std::vector<Keyframe> keyframes; // further targets, N x N, as the schedule takes them
    // A colour run with keyframes: those above are its first field's, these
    // the further fields' (1, 2, ...), at the same steps with the same blends.
    std::vector<std::vector<Keyframe>> fieldKeyframes;
    std::optional<Grid> obstacles; // N x N, 1 in the solid cells; none: only the sides
    // A colour run: every field's source and target, in field order (the
    // first also in source and target above), and how its picture is drawn.
    std::vector<Grid> fieldSources;
    std::vector<Grid> fieldTargets;
    std::optional<ColourPicture> picture;
    std::optional<SmokeColour> background; // a palette run's, found in its first target
    // What the reading changed or skipped (a value bounded or rounded, a
    // number that was not one): shown to the caller as warnings.
    std::vector<std::string> notes;
};

using ParameterValues = std::array<std::optional<double>, kParameterCount>;

// Sets the given values into *parameters, rounded as the programs round them.
// A value outside the programs' range, or not finite, is refused with
// InputError (a caller's number is a request, not a file to make the best
// of). A value that rounding changed adds a note.
void applyParameters(const ParameterValues &values, SimParameters *parameters,
                     std::vector<std::string> *notes);

// "literal" or "sound"; anything else is refused with InputError.
Scheme schemeFromWord(const std::string &word);

// Both images through the run set-up. Unreadable images throw FileError;
// images of the wrong shape or size throw InputError. The parameters stay at
// their minimum.
RunInputs inputsFromImages(const std::string &sourcePath, const std::string &targetPath,
                           bool reverse);

// A colour run from a source and a colour target split by a palette
// ("auto", "N" or "#rrggbb,..."; colourfields.h), drawn in `mode` ("light" or
// "dark"). A bad palette or mode, or images that cannot make one, throw
// InputError; unreadable images FileError.
RunInputs colourInputsFromImages(const std::string &sourcePath, const std::string &targetPath,
                                 bool reverse, const std::string &palette, const std::string &mode);

// One smoke field given as arrays: its colour's text and its N x N grids.
struct ArrayField {
    std::string colour;
    Grid source;
    Grid target;
};

// A colour run of 1..8 fields given as arrays, drawn in `mode`. Colours as
// the renderer's --field takes them ("#rrggbb" or "rrggbb"), each once; every
// grid of the first's shape. Anything else throws InputError.
RunInputs colourInputsFromArrays(std::vector<ArrayField> fields, const std::string &mode);

// A configuration file read exactly as the renderer reads it: values outside
// their range are bounded (with a note), image paths (keyframes' included) are
// taken relative to the current folder, the scheme and the keyframes come
// from the file. A file that cannot be opened throws FileError; one that is
// not a valid configuration, names no images, has keyframe images that cannot
// be used, or has keyframes and is asked to run in reverse throws InputError.
RunInputs inputsFromConfiguration(const std::string &path, bool reverse);

// The obstacle image at `path` made into inputs->obstacles, scaled to the
// source's side (obstacleimage.h). A file that cannot be read throws FileError.
void loadObstacleImage(const std::string &path, RunInputs *inputs);

// The density grid the run set-up makes from one image: every pixel, blue / 255,
// row 0 at the bottom; rows x columns as the image's height x width.
Grid densityFromImageFile(const std::string &path);

} // namespace velloran::binding
