#include "phasetimes.h"
#include "renderer.h"

#include <QGuiApplication>

#include <cstdio>

namespace {

QtMessageHandler g_defaultHandler = nullptr;

// Qt's platform start-up complains about a missing XDG_RUNTIME_DIR (normal in
// batch jobs and containers); it is noise on a renderer's stderr.
void filterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) {
        return;
    }
    g_defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char **argv) {
    velloran::PhaseTimes &phases = velloran::PhaseTimes::instance();
    // The renderer never opens a window; the offscreen platform gives QPainter
    // its fonts without a display, whatever the environment asks for.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStringList arguments;
    for (int k = 1; k < argc; ++k) {
        // Qt keeps names as Unicode text: bytes that are not valid UTF-8 would
        // turn into other characters and name a file that does not exist.
        const QByteArray bytes(argv[k]);
        const QString argument = QString::fromLocal8Bit(bytes);
        if (argument.toLocal8Bit() != bytes) {
            std::fprintf(stderr,
                         "velloran-render: '%s' is not valid UTF-8; a file name must be valid "
                         "UTF-8 to be used (rename the file)\n",
                         argv[k]);
            return velloran::kExitBadInput;
        }
        arguments << argument;
    }
    // Qt sees only the program name: every option is ours.
    g_defaultHandler = qInstallMessageHandler(filterMessages);
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("velloran-render"));
    phases.lap(velloran::Phase::Startup);
    const int code = velloran::renderMain(arguments);
    phases.lap(velloran::Phase::Finish);
    phases.printIfAsked(stderr);
    return code;
}
