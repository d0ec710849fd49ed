#include "frameexport.h"

#include "atomicfile.h"
#include "exrframe.h"
#include "framename.h"
#include "framewriter.h"
#include "metrics.h"
#include "vdbframe.h"

#include <algorithm>
#include <limits>

namespace {

bool hasSuffix(const QString &path, const char *suffix) {
    return path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

} // namespace

QString exportFileName(const SimFrame &frame, bool exr) {
    const auto step =
        static_cast<int>(std::clamp<std::int64_t>(frame.step, 0, std::numeric_limits<int>::max()));
    return velloran::FrameNamePattern().frameName(step, exr ? QStringLiteral("exr")
                                                            : QStringLiteral("png"));
}

// The renderer's writers, each putting its file in place whole or not at all.
bool exportFrame(const QString &path, const SimFrame &frame, QString *error, const Grid *solid) {
    const velloran::FrameFields fields{frame.density, frame.u, frame.v, solid};
    QByteArray bytes;
    if (hasSuffix(path, ".exr")) {
        bytes = velloran::exrBytes(fields, velloran::SmokeColour{}, error);
    } else if (hasSuffix(path, ".vdb")) {
        bytes = velloran::vdbBytes(fields, velloran::VdbSettings{}, error);
    } else {
        return velloran::writePng(path, velloran::densityImage(frame.density), error);
    }
    return !bytes.isEmpty() && velloran::writeFileAtomically(path, bytes, error);
}
