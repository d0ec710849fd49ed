#pragma once

// The volume frames' encoder is a module of its own (libvelloran_vdb.so),
// loaded the first time a volume frame is written: the OpenVDB library takes
// longer to load than the steps of a short render (tens of thousands of symbol
// relocations), and most renders never write a volume. This is the one entry
// point the module exports and vdbBytes() looks up.

#include "vdbframe.h"

#include <QByteArray>
#include <QString>

namespace velloran {

// The file's bytes in *bytes; false, with *error set, if the library fails.
using VdbEncodeFunction = bool (*)(const FrameFields &fields, const VdbSettings &settings,
                                   QByteArray *bytes, QString *error);

inline constexpr char kVdbEncodeSymbol[] = "velloran_vdb_encode";

} // namespace velloran
