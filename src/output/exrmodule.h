#pragma once

// The compositing frames' encoder is a module of its own
// (libvelloran_exr.so), loaded with the first OpenEXR frame (outputmodule.h):
// the OpenEXR libraries carry a quarter of the symbol relocations a render
// made at start-up. The program lays out the channels; the module writes them.

#include <QByteArray>
#include <QString>

namespace velloran {

// One channel of a side x side image, image row 0 at the top, as floats; a
// half channel is stored as the floats rounded to half precision.
struct ExrChannel {
    const char *name;
    bool half;
    const float *values;
};

// Channels in the order the file keeps them (sorted by name). The file's bytes
// in *bytes; false, with *error set, if the library fails.
using ExrEncodeFunction = bool (*)(int side, const ExrChannel *channels, int count,
                                   QByteArray *bytes, QString *error);

inline constexpr char kExrEncodeSymbol[] = "velloran_exr_encode";

} // namespace velloran
