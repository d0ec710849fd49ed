#include "frameexport.h"

#include "exrframe.h"
#include "framename.h"
#include "metrics.h"

#include <QSaveFile>

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

bool exportFrame(const QString &path, const SimFrame &frame, QString *error) {
    QByteArray exr;
    if (isExrName(path)) {
        exr = velloran::exrBytes({frame.density, frame.u, frame.v}, velloran::SmokeColour{}, error);
        if (exr.isEmpty()) {
            return false;
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const bool written = exr.isEmpty() ? velloran::densityImage(frame.density).save(&file, "PNG")
                                       : file.write(exr) == exr.size();
    if (!written || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
