#include "recorder.h"

#include "frameformats.h"

#include "solver.h"

#include <pthread.h>
#include <sched.h>

namespace {

// The renderer's writers of the formats a recording writes, under the
// default names.
std::vector<std::unique_ptr<velloran::FrameWriter>>
recordingWriters(const Recorder::Settings &settings) {
    QStringList formats = {QStringLiteral("png")};
    if (settings.vdb) {
        formats << QStringLiteral("vdb");
    }
    return velloran::makeFrameWriters(formats, settings.folder, velloran::FrameSettings());
}

// Prepares a folder as a render does; false with the reason otherwise.
bool prepareFolder(velloran::OutputFolder &folder, QString *error) {
    switch (folder.prepare(error)) {
    case velloran::OutputFolder::Result::Ready:
        return true;
    case velloran::OutputFolder::Result::Busy:
    case velloran::OutputFolder::Result::Failed:
        break;
    }
    return false;
}

} // namespace

bool Recorder::canRecordInto(const QString &folder, QString *error) {
    velloran::OutputFolder probe(folder); // undoes what it made when it goes
    return prepareFolder(probe, error);
}

std::shared_ptr<Recorder> Recorder::start(const Settings &settings, const QString &title,
                                          QString *error, const Grid *obstacles) {
    std::shared_ptr<Recorder> recorder(new Recorder(settings, title, obstacles));
    const auto isOwnOutput = [&](const QString &name) {
        if (name == QLatin1String("convergence.png")) {
            return true;
        }
        for (const auto &writer : recorder->m_writers) {
            if (writer->isOwnOutput(name)) {
                return true;
            }
        }
        return false;
    };
    if (!prepareFolder(recorder->m_folder, error)) {
        return nullptr;
    }
    // The renderer's rule: a device, FIFO or folder under one of the names
    // the recording writes is refused before anything is written.
    const QString blocked = recorder->m_folder.firstNonRegularEntry([&](const QString &name) {
        return name == QLatin1String("metrics.csv") || isOwnOutput(name);
    });
    if (!blocked.isEmpty()) {
        *error = QStringLiteral("could not write '%1': not a regular file").arg(blocked);
        return nullptr;
    }
    if (!recorder->m_metrics.create(error)) {
        return nullptr;
    }
    // Its frames and plot give way; metrics.csv was just started afresh.
    recorder->m_folder.keep();
    recorder->m_folder.removeEarlierOutput(isOwnOutput);
    recorder->m_writer = std::thread([raw = recorder.get()] { raw->writeLoop(); });
    return recorder;
}

Recorder::Recorder(const Settings &settings, const QString &title, const Grid *obstacles)
    : m_settings(settings)
    , m_title(title)
    , m_obstacles(obstacles ? std::optional<Grid>(*obstacles) : std::nullopt)
    , m_folder(settings.folder)
    , m_metrics(m_folder.filePath(QStringLiteral("metrics.csv")))
    , m_writers(recordingWriters(settings))
    , m_files(m_metrics, m_writers) {
    m_clock.start();
}

Recorder::~Recorder() {
    finish();
    if (m_writer.joinable()) {
        m_writer.join();
    }
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

// The worker's side: the run's metrics of the step, and every K steps
// (and at the first step recorded) a frame if a spare buffer is free.
bool Recorder::stepFinished(const Solver &solver, const velloran::StepReport &report,
                            std::string *) {
    const std::int64_t step = report.step;
    velloran::StepMetrics metrics = *report.metrics;
    metrics.seconds = m_clock.nsecsElapsed() / 1e9; // from the recording's start
    bool frameDue = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finishing) {
            return true;
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
        queueFrame(solver, step);
    }
    // The recording's failures reach the owner as failed(); the run goes on.
    return true;
}

// The renderer always writes the last step too. The run is over, so waiting
// here for a buffer holds nothing back, and the last step is the one frame a
// recording must not lose.
void Recorder::runEnded(const SimFrame &lastFinite) {
    const std::int64_t step = lastFinite.step;
    PendingFrame frame;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_finishing || !m_sawStep || m_lastQueued == step || lastFinite.density.NumCols() < 3) {
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
    copyFrame(lastFinite.density, lastFinite.u, lastFinite.v, &frame);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.fill(std::move(frame));
    m_finishing = true;
    m_wake.notify_all();
}

// The copy happens outside the lock, into a buffer nobody else holds.
void Recorder::copyFrame(const Grid &density, const Grid &u, const Grid &v,
                         PendingFrame *frame) const {
    frame->density = density;
    if (m_settings.vdb) {
        frame->u = u;
        frame->v = v;
    }
}

void Recorder::queueFrame(const Solver &solver, std::int64_t step) {
    PendingFrame frame;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finishing || !m_frames.claim(step, &frame)) {
            return;
        }
        m_lastQueued = step;
    }
    copyFrame(*solver.m_density, *solver.m_uCentre, *solver.m_vCentre, &frame);
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
    closeFiles(ok, error);
}

// The plot and the metrics file after the last frame, then the folder let go;
// the first failure, the loop's included, is the one reported.
void Recorder::closeFiles(bool ok, QString error) {
    const std::vector<velloran::StepMetrics> curve = m_files.history().curve();
    if (ok && !curve.empty()) {
        ok = velloran::writePng(m_folder.filePath(QStringLiteral("convergence.png")),
                                velloran::convergencePlot(curve, m_title), &error);
    }
    QString closeError;
    if (!m_metrics.close(&closeError) && ok) {
        ok = false;
        error = closeError;
    }
    // Nothing more goes into the folder: no lock file is left behind in it.
    m_folder.release();
    if (!ok) {
        emit failed(error);
    }
    emit finished();
}

bool Recorder::writeLines(const std::vector<velloran::StepMetrics> &lines, QString *error) {
    for (const velloran::StepMetrics &metrics : lines) {
        if (!m_files.addRow(metrics, error)) {
            return false;
        }
    }
    return m_files.flush(error);
}

// The grids the recording copied, as the renderer's writers take them.
bool Recorder::writeFrame(const PendingFrame &frame, QString *error) {
    const QImage grey = velloran::densityImage(frame.density);
    velloran::Frame files{static_cast<int>(frame.step),
                          {{"density", &frame.density, false},
                           {"uCentre", &frame.u, false},
                           {"vCentre", &frame.v, false}},
                          grey};
    if (m_obstacles) {
        files.grids.push_back({"solid", &*m_obstacles, true});
    }
    if (!m_files.writeFrame(files, error)) {
        return false;
    }
    ++m_written;
    return true;
}
