#include "vdbframe.h"

#include "outputmodule.h"
#include "vdbmodule.h"

namespace velloran {

namespace {

struct Encoder {
    VdbEncodeFunction encode = nullptr;
    QString error; // why there is none
};

Encoder loadEncoder() {
    Encoder encoder;
    encoder.encode = reinterpret_cast<VdbEncodeFunction>(
        moduleFunction({VELLORAN_VDB_FROM_PROGRAM, VELLORAN_VDB_INSTALLED, VELLORAN_VDB_BUILT},
                       kVdbEncodeSymbol, QStringLiteral("OpenVDB writer"), &encoder.error));
    return encoder;
}

} // namespace

bool isVdbVelocityName(const QString &name) {
    return name == QLatin1String("velocity") || name == QLatin1String("vel");
}

QByteArray vdbBytes(const FrameFields &fields, const VdbSettings &settings, QString *error) {
    static const Encoder encoder = loadEncoder();
    if (!encoder.encode) {
        *error = encoder.error;
        return QByteArray();
    }
    QByteArray bytes;
    encoder.encode(fields, settings, &bytes, error);
    return bytes;
}

} // namespace velloran
