#include "vdbframe.h"

#include "outputmodule.h"
#include "vdbmodule.h"

namespace velloran {

bool isVdbVelocityName(const QString &name) {
    return name == QLatin1String("velocity") || name == QLatin1String("vel");
}

QByteArray vdbBytes(const FrameFields &fields, const VdbSettings &settings, QString *error) {
    static const WriterModule<VdbEncodeFunction> encoder(
        {VELLORAN_VDB_FROM_PROGRAM, VELLORAN_VDB_INSTALLED, VELLORAN_VDB_BUILT}, kVdbEncodeSymbol,
        QStringLiteral("OpenVDB writer"));
    if (!encoder.function) {
        *error = encoder.error;
        return QByteArray();
    }
    QByteArray bytes;
    encoder.function(fields, settings, &bytes, error);
    return bytes;
}

} // namespace velloran
