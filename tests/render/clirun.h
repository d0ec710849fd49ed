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

// A grey image of one value, and a white disc on black.
QImage filled(int width, int height, int grey);
QImage disc(int side, double radius);

// Every file of a folder (names sorted) with its contents.
QList<QPair<QString, QByteArray>> folderContents(const QString &dir);

// "name sha256" per file of a folder, names sorted: what a test compares and
// prints when two folders should hold the same (leaving out the names given).
QStringList folderDigest(const QString &dir, const QStringList &leaveOut = {});

} // namespace clirun
