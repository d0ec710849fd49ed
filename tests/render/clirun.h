#pragma once

// Running velloran-render as a user does, for the program-level tests.

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace clirun {

struct Result {
    int exitCode = -1; // -1: did not finish normally
    QString out;
    QString err;
};

Result run(const QStringList &arguments, const QString &workDir = QString(),
           const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// Bad input as a user meets it: exit 2, exactly one line on stderr (starting
// with the program's name) that contains `message`, nothing on stdout, and no
// folder `out` (which the arguments name with --out).
void expectRefused(
    const QStringList &arguments, const QString &message, const QString &out,
    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// A stand-in for ffmpeg in `bin` (created) that writes its arguments to
// bin/args and what it is fed to its last argument; the environment puts it
// first on the PATH.
QProcessEnvironment recordingFfmpeg(const QString &bin);

// A grey image of one value, and a white disc on black.
QImage filled(int width, int height, int grey);
QImage disc(int side, double radius);

// Every file of a folder (names sorted) with its contents.
QList<QPair<QString, QByteArray>> folderContents(const QString &dir);

// "name sha256" per file of a folder, names sorted: what a test compares and
// prints when two folders should hold the same (leaving out the names given).
QStringList folderDigest(const QString &dir, const QStringList &leaveOut = {});

// A metrics.csv without its seconds column, the one a resumed run cannot
// repeat.
QByteArray withoutSeconds(const QByteArray &csv);

} // namespace clirun
