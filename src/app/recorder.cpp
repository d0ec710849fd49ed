#include "recorder.h"

#include "framename.h"
#include "recordfolder.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <pthread.h>
#include <sched.h>

std::shared_ptr<Recorder> Recorder::start(const Settings &settings, const QString &title,
                                          QString *error) {
    if (!probeRecordFolder(settings.folder, error)) {
        return nullptr;
    }
    removeEarlierOutput(settings.folder);
    std::shared_ptr<Recorder> recorder(new Recorder(settings, title));
    auto *metrics = new QFile(QDir(settings.folder).filePath(QStringLiteral("metrics.csv")));
    const QByteArray header = velloran::metricsCsvHeader().toUtf8() + '\n';
    if (!metrics->open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        metrics->write(header) != header.size() || !metrics->flush()) {
        *error = QStringLiteral("could not write %1: %2")
                     .arg(metrics->fileName(), metrics->errorString());
        delete metrics;
        return nullptr;
    }
    recorder->m_metrics = metrics;
    recorder->m_writer = std::thread([raw = recorder.get()] { raw->writeLoop(); });
    return recorder;
}

Recorder::Recorder(const Settings &settings, const QString &title)
    : m_settings(settings)
    , m_title(title) {
    m_clock.start();
}

Recorder::~Recorder() {
    finish();
    if (m_writer.joinable()) {
        m_writer.join();
    }
    delete m_metrics;
}

int Recorder::framesSkipped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.skipped();
}

std::size_t Recorder::linesDropped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

void Recorder::finish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finishing = true;
    m_wake.notify_all();
}

// The worker's side: the renderer's metrics of the step, and every K steps
// (and at the first step recorded) a frame if a spare buffer is free.
void Recorder::stepFinished(const Solver &solver, std::int64_t step, int target) {
    velloran::StepMetrics metrics =
        velloran::measure(solver, static_cast<int>(step), m_clock.nsecsElapsed() / 1e9);
    metrics.target = target;
    bool frameDue = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finishing) {
            return;
        }
        if (m_lines.size() < kMaxPendingLines) {
            m_lines.push_back(metrics);
        } else {
            ++m_dropped;
        }
        frameDue = !m_sawStep || step % m_settings.every == 0;
        m_sawStep = true;
        m_wake.notify_all();
    }
    if (frameDue) {
        queueFrame(*solver.m_density, step);
    }
}

// The renderer always writes the last step too. The run is over, so waiting
// here for a buffer holds nothing back, and the last step is the one frame a
// recording must not lose.
void Recorder::runEnded(const Grid &lastFiniteDensity, std::int64_t step) {
    PendingFrame frame;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_finishing || !m_sawStep || m_lastQueued == step ||
            lastFiniteDensity.NumCols() < 3) {
            m_finishing = true;
            m_wake.notify_all();
            return;
        }
        m_wake.wait(lock, [this] { return m_finishing || m_frames.hasSpare(); });
        if (m_finishing || !m_frames.claim(step, &frame)) {
            return;
        }
        m_lastQueued = step;
    }
    frame.density = lastFiniteDensity;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.fill(std::move(frame));
    m_finishing = true;
    m_wake.notify_all();
}

// The copy happens outside the lock, into a buffer nobody else holds.
void Recorder::queueFrame(const Grid &density, std::int64_t step) {
    PendingFrame frame;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finishing || !m_frames.claim(step, &frame)) {
            return;
        }
        m_lastQueued = step;
    }
    frame.density = density;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.fill(std::move(frame));
    m_wake.notify_all();
}

void Recorder::writeLoop() {
#ifdef __linux__
    // The writer runs at the run's own idle priority: files may wait, and
    // other programs are not disturbed by them any more than by the run.
    const sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
#endif
    QString error;
    bool ok = true;
    std::vector<velloran::StepMetrics> lines;
    for (;;) {
        PendingFrame frame;
        bool hasFrame = false;
        bool done = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock,
                        [this] { return m_finishing || !m_frames.empty() || !m_lines.empty(); });
            lines.swap(m_lines);
            hasFrame = m_frames.next(&frame);
            done = m_finishing && !hasFrame && m_frames.empty();
        }
        if (ok && !lines.empty()) {
            ok = writeLines(lines, &error);
        }
        lines.clear();
        if (hasFrame) {
            if (ok) {
                ok = writeFrame(frame, &error);
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_frames.giveBack(std::move(frame));
            m_wake.notify_all();
        }
        if (!ok) {
            // Nothing more is taken; what is queued is let go.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finishing = true;
            m_lines.clear();
            m_frames.dropQueued();
            break;
        }
        if (done) {
            break;
        }
    }
    if (ok) {
        ok = writePlot(&error);
    }
    if (m_metrics) {
        if (!m_metrics->flush() && ok) {
            ok = false;
            error = QStringLiteral("could not write %1: %2")
                        .arg(m_metrics->fileName(), m_metrics->errorString());
        }
        m_metrics->close();
    }
    if (!ok) {
        emit failed(error);
    }
    emit finished();
}

bool Recorder::writeLines(const std::vector<velloran::StepMetrics> &lines, QString *error) {
    QByteArray text;
    for (const velloran::StepMetrics &metrics : lines) {
        text += velloran::metricsCsvLine(metrics).toUtf8() + '\n';
        m_history.add(metrics);
    }
    if (m_metrics->write(text) != text.size() || !m_metrics->flush()) {
        *error = QStringLiteral("could not write %1: %2")
                     .arg(m_metrics->fileName(), m_metrics->errorString());
        return false;
    }
    return true;
}

bool Recorder::writeFrame(const PendingFrame &frame, QString *error) {
    const QString name =
        velloran::FrameNamePattern().frameName(static_cast<int>(frame.step), QStringLiteral("png"));
    QSaveFile file(QDir(m_settings.folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly) ||
        !velloran::densityImage(frame.density).save(&file, "PNG") || !file.commit()) {
        *error = QStringLiteral("could not write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    ++m_written;
    return true;
}

bool Recorder::writePlot(QString *error) {
    if (m_history.curve().empty()) {
        return true;
    }
    const QImage plot = velloran::convergencePlot(m_history.curve(), m_title);
    QSaveFile file(QDir(m_settings.folder).filePath(QStringLiteral("convergence.png")));
    if (!file.open(QIODevice::WriteOnly) || !plot.save(&file, "PNG") || !file.commit()) {
        *error = QStringLiteral("could not write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}
