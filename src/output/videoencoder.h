#pragma once

// Frames piped to ffmpeg as raw grey (or RGB) pictures, encoded as H.264 in
// an MP4.
//
// The video is written to "FILE.part" and renamed to FILE when ffmpeg has
// finished cleanly. An encoder that goes away without finish() (the run could
// not start, an output failure, an exception) stops ffmpeg and removes the
// partial file: a video under its final name is always complete.

#include <QImage>
#include <QProcess>
#include <QString>

namespace velloran {

class VideoEncoder {
public:
    VideoEncoder() = default;
    ~VideoEncoder() { abandon(); }
    VideoEncoder(const VideoEncoder &) = delete;
    VideoEncoder &operator=(const VideoEncoder &) = delete;

    // Starts `program` (ffmpeg) for side x side frames, grey or in colour.
    bool start(const QString &program, const QString &path, int side, bool colour, QString *error);
    // A side x side picture (converted to grey or RGB as the video takes it).
    bool addFrame(const QImage &picture, QString *error);
    // Ends the stream and moves the finished video into place.
    bool finish(QString *error);
    // Stops ffmpeg and removes the partial file.
    void abandon();

private:
    QString lastErrorLine();

    QProcess m_process;
    QString m_path;
    QString m_partial;
    int m_bytesPerPixel = 1;
};

} // namespace velloran
