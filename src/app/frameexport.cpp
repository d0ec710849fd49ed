#include "frameexport.h"

#include "atomicfile.h"
#include "exrframe.h"
#include "framename.h"
#include "framewriter.h"
#include "metrics.h"

#include <algorithm>
#include <limits>

namespace {

bool isExrName(const QString &path) {
    return path.endsWith(QLatin1String(".exr"), Qt::CaseInsensitive);
}

} // namespace

QString exportFileName(const SimFrame &frame, bool exr) {
    const auto step =
        static_cast<int>(std::clamp<std::int64_t>(frame.step, 0, std::numeric_limits<int>::max()));
    return velloran::FrameNamePattern().frameName(step, exr ? QStringLiteral("exr")
                                                            : QStringLiteral("png"));
}

// The renderer's writers, each putting its file in place whole or not at all.
bool exportFrame(const QString &path, const SimFrame &frame, QString *error) {
    if (!isExrName(path)) {
        return velloran::writePng(path, velloran::densityImage(frame.density), error);
    }
    const QByteArray exr =
        velloran::exrBytes({frame.density, frame.u, frame.v}, velloran::SmokeColour{}, error);
    return !exr.isEmpty() && velloran::writeFileAtomically(path, exr, error);
}
