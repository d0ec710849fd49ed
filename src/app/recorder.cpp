#include "recorder.h"

#include "fieldgrids.h"
#include "frameexport.h"
#include "frameformats.h"

#include "solver.h"

#include <utility>

#include <pthread.h>
#include <sched.h>

namespace {

// The renderer's writers of the formats a recording writes, under the
// default names.
std::vector<std::unique_ptr<velloran::FrameWriter>>
recordingWriters(const Recorder::Settings &settings, bool obstacles,
                 const std::optional<velloran::ColourPicture> &picture) {
    QStringList formats = {QStringLiteral("png")};
    for (const auto &[asked, name] :
         {std::pair{settings.exr, "exr"}, std::pair{settings.vdb, "vdb"},
          std::pair{settings.npy, "npy"}}) {
        if (asked) {
            formats << QLatin1String(name);
        }
    }
    velloran::FrameSettings frames;
    frames.picture = picture;
    frames.obstacles = obstacles;
    return velloran::makeFrameWriters(formats, settings.folder, frames);
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
                                          QString *error, const Grid *obstacles,
                                          const std::optional<velloran::ColourPicture> &picture) {
    std::shared_ptr<Recorder> recorder(new Recorder(settings, title, obstacles, picture));
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

Recorder::Recorder(const Settings &settings, const QString &title, const Grid *obstacles,
                   const std::optional<velloran::ColourPicture> &picture)
    : m_settings(settings)
    , m_title(title)
    , m_obstacles(obstacles ? std::optional<Grid>(*obstacles) : std::nullopt)
    , m_picture(picture)
    , m_folder(settings.folder)
    , m_metrics(m_folder.filePath(QStringLiteral("metrics.csv")))
    , m_writers(recordingWriters(settings, obstacles != nullptr, picture))
    , m_files(m_metrics, m_writers) {
    // The renderer's columns for the same run: a distance per field when
    // there are several, and the colour error of any colour run.
    if (m_picture && m_picture->colours.size() > 1) {
        QStringList names;
        for (const velloran::SmokeColour &colour : m_picture->colours) {
            names << colour.hex();
        }
        m_metrics.setFieldNames(names);
    }
    m_metrics.setColourError(m_picture.has_value());
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
    if (m_picture) {
        // As the renderer measures it, every step: the lists are reused.
        velloran::collectFieldGrids(solver, velloran::FieldGrid::Density, &m_densities);
        velloran::collectFieldGrids(solver, velloran::FieldGrid::Target, &m_targets);
        metrics.colourError = m_colourError.measure(m_densities, m_targets, *m_picture);
    }
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
    std::vector<const Grid *> fields;
    for (const Grid &field : lastFinite.fields) {
        fields.push_back(&field);
    }
    copyFrame(lastFinite.density, lastFinite.u, lastFinite.v, fields, &frame);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.fill(std::move(frame));
    m_finishing = true;
    m_wake.notify_all();
}

// The copy happens outside the lock, into a buffer nobody else holds; a
// buffer that held a frame before is assigned in place.
void Recorder::copyFrame(const Grid &density, const Grid &u, const Grid &v,
                         const std::vector<const Grid *> &fields, PendingFrame *frame) const {
    frame->density = density;
    if (rawFrames()) {
        frame->u = u;
        frame->v = v;
    }
    frame->fields.resize(fields.size(), Grid(1, 1));
    for (std::size_t k = 0; k < fields.size(); ++k) {
        frame->fields[k] = *fields[k];
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
    std::vector<const Grid *> fields;
    for (int k = 1; k < solver.smokeCount(); ++k) {
        fields.push_back(&solver.smokeDensity(k));
    }
    copyFrame(*solver.m_density, *solver.m_uCentre, *solver.m_vCentre, fields, &frame);
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
    const NamedGrids grids = namedGrids(frame.density, frame.u, frame.v, frame.fields,
                                        m_obstacles ? &*m_obstacles : nullptr);
    if (!m_files.writeFrame({static_cast<int>(frame.step), grids.grids, grey}, error)) {
        return false;
    }
    ++m_written;
    return true;
}
