#include "messages.h"

namespace velloran {

void printLine(FILE *stream, const QString &text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

QString quoted(const QString &path) {
    return QStringLiteral("'%1'").arg(path);
}

void Messages::say(const QString &message) const {
    printLine(m_stream, QStringLiteral("velloran-render: ") + message);
}

} // namespace velloran
