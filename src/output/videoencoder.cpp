#include "videoencoder.h"

#include "atomicfile.h"
#include "regularfile.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace velloran {

bool VideoEncoder::start(const QString &program, const QString &path, int side, bool colour,
                         QString *error) {
    m_bytesPerPixel = colour ? 3 : 1;
    m_path = path;
    // ffmpeg writes into whatever carries the partial name: a FIFO there would
    // stall it (and the run with it), a device would take the video.
    QString reason;
    for (const QString &name : {path, path + QStringLiteral(".part")}) {
        if (!replaceableByRegularFile(name, &reason)) {
            *error = QStringLiteral("could not write '%1': %2").arg(name, reason);
            return false;
        }
    }
    m_partial = path + QStringLiteral(".part");
    // Small grids are enlarged by a whole factor (sharp cells) and padded to
    // even sides, which the common H.264 profiles require.
    const int factor = std::max(1, 512 / side);
    const QStringList arguments = {
        QStringLiteral("-hide_banner"),
        QStringLiteral("-loglevel"),
        QStringLiteral("error"),
        QStringLiteral("-y"),
        QStringLiteral("-f"),
        QStringLiteral("rawvideo"),
        QStringLiteral("-pix_fmt"),
        colour ? QStringLiteral("rgb24") : QStringLiteral("gray"),
        QStringLiteral("-s"),
        QStringLiteral("%1x%1").arg(side),
        QStringLiteral("-framerate"),
        QStringLiteral("25"),
        QStringLiteral("-i"),
        QStringLiteral("-"),
        QStringLiteral("-vf"),
        QStringLiteral("scale=iw*%1:ih*%1:flags=neighbor,pad=ceil(iw/2)*2:ceil(ih/2)*2")
            .arg(factor),
        QStringLiteral("-c:v"),
        QStringLiteral("libx264"),
        QStringLiteral("-pix_fmt"),
        QStringLiteral("yuv420p"),
        QStringLiteral("-f"),
        QStringLiteral("mp4"),
        m_partial,
    };
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    // Its own process group: Ctrl-C in the terminal reaches only us, and we
    // end the video cleanly after the last frame.
    m_process.setChildProcessModifier([] { ::setpgid(0, 0); });
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        *error = QStringLiteral("could not start ffmpeg: %1").arg(m_process.errorString());
        return false;
    }
    return true;
}

bool VideoEncoder::addFrame(const QImage &picture, QString *error) {
    const QImage frame = picture.convertToFormat(m_bytesPerPixel == 3 ? QImage::Format_RGB888
                                                                      : QImage::Format_Grayscale8);
    const qint64 lineBytes = static_cast<qint64>(frame.width()) * m_bytesPerPixel;
    for (int y = 0; y < frame.height(); ++y) {
        const char *line = reinterpret_cast<const char *>(frame.constScanLine(y));
        if (m_process.write(line, lineBytes) != lineBytes) {
            *error = QStringLiteral("ffmpeg stopped accepting frames: %1").arg(lastErrorLine());
            return false;
        }
    }
    // Keep the pipe's buffer small: wait until ffmpeg has taken the frame.
    while (m_process.bytesToWrite() > 0) {
        if (!m_process.waitForBytesWritten(30000)) {
            *error = QStringLiteral("ffmpeg stopped accepting frames: %1").arg(lastErrorLine());
            return false;
        }
    }
    return true;
}

bool VideoEncoder::finish(QString *error) {
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(-1) || m_process.exitStatus() != QProcess::NormalExit ||
        m_process.exitCode() != 0) {
        *error = QStringLiteral("ffmpeg failed: %1").arg(lastErrorLine());
        abandon();
        return false;
    }
    // Replaces an earlier video in one step: one of the two is always there.
    QString reason;
    if (!replaceableByRegularFile(m_path, &reason)) {
        *error = QStringLiteral("could not write '%1': %2").arg(m_path, reason);
        abandon();
        return false;
    }
    if (::rename(QFile::encodeName(m_partial).constData(), QFile::encodeName(m_path).constData()) !=
        0) {
        *error = fileError("move the video into place at", m_path, errno);
        abandon();
        return false;
    }
    m_partial.clear();
    return true;
}

void VideoEncoder::abandon() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    if (!m_partial.isEmpty()) {
        QFile::remove(m_partial);
        m_partial.clear();
    }
}

QString VideoEncoder::lastErrorLine() {
    // A failed write usually means ffmpeg has ended; its own words say why.
    m_process.waitForFinished(2000);
    const QList<QByteArray> lines = m_process.readAllStandardError().trimmed().split('\n');
    const QString last = QString::fromLocal8Bit(lines.last()).trimmed();
    return last.isEmpty() ? m_process.errorString() : last;
}

} // namespace velloran
