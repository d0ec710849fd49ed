#include "clirun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace clirun {

Result run(const QStringList &arguments, const QString &workDir,
           const QProcessEnvironment &environment) {
    QProcess process;
    process.setProgram(QStringLiteral(VELLORAN_RENDER_EXE));
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    if (!workDir.isEmpty()) {
        process.setWorkingDirectory(workDir);
    }
    process.start();
    Result result;
    if (!process.waitForFinished(240000) || process.exitStatus() != QProcess::NormalExit) {
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

void expectRefused(const QStringList &arguments, const QString &message, const QString &out,
                   const QProcessEnvironment &environment) {
    const Result r = run(arguments, QString(), environment);
    const std::string said = arguments.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(r.exitCode, 2) << said << "\n" << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(message)) << said << "\n" << r.err.toStdString();
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("velloran-render: "))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out)) << said;
}

QProcessEnvironment recordingFfmpeg(const QString &bin) {
    QDir().mkpath(bin);
    QFile fake(bin + QStringLiteral("/ffmpeg"));
    if (fake.open(QIODevice::WriteOnly)) {
        fake.write("#!/bin/sh\n"
                   "echo \"$@\" > \"$(dirname \"$0\")/args\"\n"
                   "for last; do :; done\n"
                   "cat > \"$last\"\n");
        fake.close();
    }
    fake.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       bin + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
    return environment;
}

QImage filled(int width, int height, int grey) {
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(grey);
    return image;
}

QImage disc(int side, double radius) {
    QImage image = filled(side, side, 0);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double dx = x - side / 2.0 + 0.5;
            const double dy = y - side / 2.0 + 0.5;
            image.scanLine(y)[x] = dx * dx + dy * dy < radius * radius ? 255 : 0;
        }
    }
    return image;
}

QList<QPair<QString, QByteArray>> folderContents(const QString &dir) {
    QList<QPair<QString, QByteArray>> contents;
    const QDir folder(dir);
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        // A FIFO or a link to a device would never finish reading.
        if (!QFileInfo(folder.filePath(name)).isFile()) {
            contents.append({name, QByteArray("(not a regular file)")});
            continue;
        }
        QFile file(folder.filePath(name));
        contents.append({name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()});
    }
    return contents;
}

QStringList folderDigest(const QString &dir, const QStringList &leaveOut) {
    QStringList digest;
    for (const auto &[name, bytes] : folderContents(dir)) {
        if (!leaveOut.contains(name)) {
            digest << name + QLatin1Char(' ') +
                          QString::fromLatin1(
                              QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        }
    }
    return digest;
}

QByteArray withoutSeconds(const QByteArray &csv) {
    QByteArray result;
    for (const QByteArray &line : csv.split('\n')) {
        QList<QByteArray> columns = line.split(',');
        if (columns.size() > 4) {
            columns.removeAt(4);
        }
        result += columns.join(',') + '\n';
    }
    return result;
}

} // namespace clirun
