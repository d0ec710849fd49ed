#include "renderer.h"

#include "configfile.h"
#include "examples.h"
#include "metrics.h"
#include "npy.h"
#include "runsetup.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <atomic>
#include <cmath>
#include <csignal>
#include <memory>
#include <unistd.h>

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

namespace velloran {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onInterrupt(int) {
    g_interrupted.store(true, std::memory_order_relaxed);
}

void printLine(FILE *stream, const QString &text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

QString quoted(const QString &path) {
    return QStringLiteral("'%1'").arg(path);
}

// Bounds and rounds a value for parameter k and records the change, if any.
double applyValue(std::size_t k, double raw, const QString &origin, QStringList *notes) {
    const ParameterRange &range = kParameterRanges[k];
    const double value = clampParameter(k, raw);
    if (value != raw) {
        const bool outside = !(raw >= range.minimum && raw <= range.maximum);
        notes->append(
            outside ? QStringLiteral("%1 %2 from %3 is outside %4 .. %5; using %6")
                          .arg(QLatin1String(range.key), QString::number(raw, 'g', 17), origin,
                               QString::number(range.minimum), QString::number(range.maximum),
                               QString::number(value, 'g', 12))
                    : QStringLiteral("%1 %2 from %3 rounded to %4 decimal(s): %5")
                          .arg(QLatin1String(range.key), QString::number(raw, 'g', 17), origin)
                          .arg(range.decimals)
                          .arg(QString::number(value, 'g', 12)));
    }
    return value;
}

bool applyConfiguration(const QString &path, const QString &origin, bool imagesFromResources,
                        RenderJob *job, QStringList *notes, QString *error) {
    const ConfigReadResult read = readConfigurationFile(path);
    switch (read.status) {
    case ConfigStatus::OpenFailed:
        *error = QStringLiteral("could not open configuration file %1: %2")
                     .arg(quoted(origin), read.detail);
        return false;
    case ConfigStatus::NotWellFormed:
        *error =
            QStringLiteral("invalid configuration file %1: %2").arg(quoted(origin), read.detail);
        return false;
    case ConfigStatus::Parsed:
        break;
    }
    if (!read.rootRecognised) {
        notes->append(
            QStringLiteral("%1 has no <configuration> root element; nothing taken from it")
                .arg(quoted(origin)));
        return true;
    }
    const Configuration &c = read.configuration;
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (c.values[k]) {
            bool ok = false;
            const double literal = c.texts[k].toDouble(&ok);
            if (!ok && !std::isinf(literal)) {
                notes->append(
                    QStringLiteral("%1 '%2' from %3 is not a number; read as 0")
                        .arg(QLatin1String(kParameterRanges[k].key), c.texts[k].trimmed(), origin));
            } else if (std::isnan(literal)) {
                notes->append(QStringLiteral("%1 'nan' from %2 read as 0")
                                  .arg(QLatin1String(kParameterRanges[k].key), origin));
            }
            job->parameters[k] = applyValue(k, *c.values[k], origin, notes);
        }
    }
    if (c.source) {
        job->sourcePath = imagesFromResources ? exampleResourcePath(*c.source) : *c.source;
    }
    if (c.target) {
        job->targetPath = imagesFromResources ? exampleResourcePath(*c.target) : *c.target;
    }
    return true;
}

// Names of files an earlier render may have left in the output folder.
bool isOwnOutput(const QString &name) {
    static const QRegularExpression pattern(QStringLiteral(
        "^(frame_\\d{6,}\\.png|(density|u|v)_\\d{6,}\\.npy|metrics\\.csv|convergence\\.png)$"));
    return pattern.match(name).hasMatch();
}

QString frameName(const QString &prefix, int step, const char *suffix) {
    return QStringLiteral("%1_%2.%3")
        .arg(prefix)
        .arg(step, 6, 10, QLatin1Char('0'))
        .arg(QLatin1String(suffix));
}

QString formatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        return QStringLiteral("--:--");
    }
    const qint64 s = static_cast<qint64>(std::llround(seconds));
    if (s >= 3600) {
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// Live progress: a bar redrawn in place on a terminal, a plain line every few
// seconds otherwise.
class Progress {
public:
    Progress(FILE *stream, bool quiet, int total)
        : m_stream(stream)
        , m_enabled(!quiet && stream)
        , m_terminal(m_enabled && ::isatty(::fileno(stream)))
        , m_total(total) {
        m_clock.start();
    }

    void update(int step, double distance, bool force = false) {
        if (!m_enabled) {
            return;
        }
        const qint64 now = m_clock.elapsed();
        const qint64 interval = m_terminal ? 100 : 5000;
        if (!force && now - m_last < interval) {
            return;
        }
        m_last = now;
        const double seconds = now / 1000.0;
        const double rate = seconds > 0 ? step / seconds : 0.0;
        const double eta = rate > 0 ? (m_total - step) / rate : -1.0;
        const QString figures = QStringLiteral("%1/%2  %3 steps/s  ETA %4  distance %5")
                                    .arg(step)
                                    .arg(m_total)
                                    .arg(rate, 0, 'f', 1)
                                    .arg(formatDuration(eta))
                                    .arg(distance, 0, 'f', 4);
        if (m_terminal) {
            const int width = 30;
            const int filled =
                m_total > 0
                    ? static_cast<int>(std::lround(static_cast<double>(width) * step / m_total))
                    : width;
            const QString bar =
                QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'));
            std::fprintf(m_stream, "\r\x1b[K[%s] %s", bar.toLatin1().constData(),
                         figures.toLocal8Bit().constData());
            m_open = true;
        } else {
            std::fprintf(m_stream, "step %s\n", figures.toLocal8Bit().constData());
        }
        std::fflush(m_stream);
    }

    // Ends the live line so that later messages start on a fresh one.
    void close() {
        if (m_open) {
            std::fprintf(m_stream, "\n");
            std::fflush(m_stream);
            m_open = false;
        }
    }

private:
    FILE *m_stream;
    bool m_enabled;
    bool m_terminal;
    int m_total;
    QElapsedTimer m_clock;
    qint64 m_last = -1000000;
    bool m_open = false;
};

// Frames piped to ffmpeg as raw grey pictures.
class VideoEncoder {
public:
    bool start(const QString &program, const QString &path, int side, QString *error) {
        m_path = path;
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
            QStringLiteral("gray"),
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

    bool addFrame(const QImage &grey, QString *error) {
        for (int y = 0; y < grey.height(); ++y) {
            const char *line = reinterpret_cast<const char *>(grey.constScanLine(y));
            if (m_process.write(line, grey.width()) != grey.width()) {
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

    bool finish(QString *error) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(-1) || m_process.exitStatus() != QProcess::NormalExit ||
            m_process.exitCode() != 0) {
            *error = QStringLiteral("ffmpeg failed: %1").arg(lastErrorLine());
            QFile::remove(m_partial);
            return false;
        }
        QFile::remove(m_path);
        if (!QFile::rename(m_partial, m_path)) {
            *error =
                QStringLiteral("could not move the video into place at %1").arg(quoted(m_path));
            return false;
        }
        return true;
    }

    void abandon() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        QFile::remove(m_partial);
    }

private:
    QString lastErrorLine() {
        // A failed write usually means ffmpeg has ended; its own words say why.
        m_process.waitForFinished(2000);
        const QList<QByteArray> lines = m_process.readAllStandardError().trimmed().split('\n');
        const QString last = QString::fromLocal8Bit(lines.last()).trimmed();
        return last.isEmpty() ? m_process.errorString() : last;
    }

    QProcess m_process;
    QString m_path;
    QString m_partial;
};

class RunOutput {
public:
    RunOutput(const RenderJob &job, int side)
        : m_job(job)
        , m_side(side)
        , m_dir(job.outDir) {}

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Makes sure the folder exists and takes files, creating it (and missing
    // parents) if needed. Nothing already in it is touched yet.
    bool prepare(QString *error) {
        const QFileInfo info(m_job.outDir);
        if (info.exists() && !info.isDir()) {
            *error = QStringLiteral("output folder %1 is not a folder").arg(quoted(m_job.outDir));
            return false;
        }
        // Remember the folders this run creates, innermost first, so that a run
        // that cannot start leaves nothing behind.
        QString missing = QFileInfo(m_job.outDir).absoluteFilePath();
        while (!QFileInfo::exists(missing)) {
            m_createdDirs.append(missing);
            const QString parent = QFileInfo(missing).absolutePath();
            if (parent == missing) {
                break;
            }
            missing = parent;
        }
        if (!m_createdDirs.isEmpty() && !QDir().mkpath(m_job.outDir)) {
            *error = QStringLiteral("could not create output folder %1").arg(quoted(m_job.outDir));
            discard();
            return false;
        }
        QTemporaryFile probe(path(QStringLiteral(".velloran-render-XXXXXX")));
        if (!probe.open() || probe.write("probe", 5) != 5 || !probe.flush()) {
            *error = QStringLiteral("cannot write into output folder %1: %2")
                         .arg(quoted(m_job.outDir), probe.errorString());
            discard();
            return false;
        }
        return true;
    }

    // Starts the metrics file and removes what an earlier render left in the
    // folder, so frames of two runs never mix.
    bool begin(QString *error, QStringList *notes) {
        m_metrics.setFileName(path(QStringLiteral("metrics.csv")));
        if (!m_metrics.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
            !writeMetricsText(metricsCsvHeader() + QLatin1Char('\n')) || !m_metrics.flush()) {
            *error = QStringLiteral("cannot write into output folder %1: %2")
                         .arg(quoted(m_job.outDir), m_metrics.errorString());
            m_metrics.close();
            return false;
        }
        int removed = 0;
        const QStringList entries = m_dir.entryList(QDir::Files);
        for (const QString &name : entries) {
            if (name != QLatin1String("metrics.csv") && isOwnOutput(name) &&
                QFile::remove(path(name))) {
                ++removed;
            }
        }
        if (removed > 0) {
            notes->append(QStringLiteral("removed %1 file(s) of an earlier render from %2")
                              .arg(removed)
                              .arg(quoted(m_job.outDir)));
        }
        return true;
    }

    // Undoes prepare(): removes the folders it created (only while empty).
    void discard() {
        for (const QString &dir : std::as_const(m_createdDirs)) {
            QDir().rmdir(dir);
        }
        m_createdDirs.clear();
    }

    bool addMetrics(const StepMetrics &metrics) {
        return writeMetricsText(metricsCsvLine(metrics) + QLatin1Char('\n'));
    }

    bool flushMetrics() { return m_metrics.flush(); }

    bool writeFrame(const Solver &solver, int step, const QImage &grey, QString *error) {
        if (m_job.png) {
            QSaveFile file(path(frameName(QStringLiteral("frame"), step, "png")));
            if (!file.open(QIODevice::WriteOnly) || !grey.save(&file, "PNG") || !file.commit()) {
                *error = QStringLiteral("could not write %1: %2")
                             .arg(quoted(file.fileName()), file.errorString());
                return false;
            }
        }
        if (m_job.npy) {
            const std::pair<const char *, const Grid *> fields[] = {
                {"density", solver.m_density.get()},
                {"u", solver.m_uCentre.get()},
                {"v", solver.m_vCentre.get()},
            };
            for (const auto &[prefix, grid] : fields) {
                const QString name = path(frameName(QLatin1String(prefix), step, "npy"));
                QString reason;
                if (!writeNpy(name, *grid, &reason)) {
                    *error = QStringLiteral("could not write %1: %2").arg(quoted(name), reason);
                    return false;
                }
            }
        }
        ++m_frames;
        return flushMetrics();
    }

    bool writePlot(const std::vector<StepMetrics> &history, QString *error) {
        const SimParameters &p = m_job.parameters;
        const QString title = QStringLiteral("%1    %2 x %2, vf %3, vd %4, vg %5, sigma %6, dt %7")
                                  .arg(m_job.title)
                                  .arg(m_side)
                                  .arg(p.vf())
                                  .arg(p.vd())
                                  .arg(p.vg())
                                  .arg(p.sigma())
                                  .arg(p.dt());
        const QImage plot = convergencePlot(history, title);
        QSaveFile file(path(QStringLiteral("convergence.png")));
        if (!file.open(QIODevice::WriteOnly) || !plot.save(&file, "PNG") || !file.commit()) {
            *error = QStringLiteral("could not write %1: %2")
                         .arg(quoted(file.fileName()), file.errorString());
            return false;
        }
        return true;
    }

    bool closeMetrics() {
        const bool ok = m_metrics.flush() && m_metrics.error() == QFileDevice::NoError;
        m_metrics.close();
        return ok;
    }

    int frames() const { return m_frames; }

private:
    bool writeMetricsText(const QString &text) {
        const QByteArray bytes = text.toUtf8();
        return m_metrics.write(bytes) == bytes.size();
    }

    const RenderJob &m_job;
    int m_side;
    QDir m_dir;
    QFile m_metrics;
    QStringList m_createdDirs;
    int m_frames = 0;
};

} // namespace

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C falls back to the default action and ends the program.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

void requestInterrupt() {
    g_interrupted.store(true, std::memory_order_relaxed);
}

bool interruptRequested() {
    return g_interrupted.load(std::memory_order_relaxed);
}

bool resolveJob(const RenderOptions &options, RenderJob *job, QStringList *notes, QString *error) {
    RenderJob result;
    if (!options.example.isEmpty() && !options.configPath.isEmpty()) {
        *error = QStringLiteral("give either a configuration file or --example, not both");
        return false;
    }
    const Example *example = nullptr;
    if (!options.example.isEmpty()) {
        example = findExample(options.example);
        if (!example) {
            *error = QStringLiteral("unknown example %1 (see --list-examples)")
                         .arg(quoted(options.example));
            return false;
        }
        if (!applyConfiguration(exampleConfigPath(*example),
                                QStringLiteral("example ") + example->name, true, &result, notes,
                                error)) {
            return false;
        }
        result.steps = example->steps;
        result.every = example->every;
        result.title = example->name;
    }
    if (!options.configPath.isEmpty()) {
        if (!applyConfiguration(options.configPath, options.configPath, false, &result, notes,
                                error)) {
            return false;
        }
        result.title = QFileInfo(options.configPath).fileName();
    }
    if (options.source) {
        result.sourcePath = *options.source;
    }
    if (options.target) {
        result.targetPath = *options.target;
    }
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (options.values[k]) {
            result.parameters[k] =
                applyValue(k, *options.values[k],
                           QStringLiteral("--") + QLatin1String(kParameterRanges[k].key), notes);
        }
    }
    result.reverse = options.reverse;
    if (options.steps) {
        result.steps = *options.steps;
    }
    if (options.every) {
        result.every = *options.every;
    }
    if (!options.outDir.isEmpty()) {
        result.outDir = options.outDir;
    }
    result.png = options.png;
    result.npy = options.npy;
    result.video = options.video;
    result.quiet = options.quiet;
    if (result.title.isEmpty()) {
        result.title = QFileInfo(result.targetPath).fileName();
    }
    if (result.reverse) {
        result.title += QStringLiteral(" (reverse)");
    }
    *job = result;
    return true;
}

int runJob(const RenderJob &job, FILE *progressStream, FILE *summary) {
    FILE *errors = progressStream ? progressStream : stderr;
    auto fail = [&](const QString &message, int code) {
        printLine(errors, QStringLiteral("velloran-render: ") + message);
        return code;
    };

    // Every input is checked before anything is created.
    RunDensities densities;
    const RunSetupError setup = prepareRun(job.sourcePath, job.targetPath, job.reverse, &densities);
    if (setup != RunSetupError::None) {
        const bool sourceError = setup == RunSetupError::SourceUnreadable ||
                                 setup == RunSetupError::SourceTooLarge ||
                                 setup == RunSetupError::SourceNotSquare;
        const QString path = sourceError ? job.sourcePath : job.targetPath;
        return fail(QStringLiteral("%1 (%2)").arg(runSetupMessage(setup),
                                                  path.isEmpty() ? QStringLiteral("no path given")
                                                                 : quoted(path)),
                    kExitBadInput);
    }
    QString ffmpeg;
    if (!job.video.isEmpty()) {
        ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        if (ffmpeg.isEmpty()) {
            return fail(QStringLiteral("--video needs ffmpeg, which is not installed (Debian "
                                       "package 'ffmpeg': apt-get install ffmpeg)"),
                        kExitBadInput);
        }
        const QFileInfo videoInfo(job.video);
        if (videoInfo.exists() && !videoInfo.isFile()) {
            return fail(
                QStringLiteral("the video file %1 is not a regular file").arg(quoted(job.video)),
                kExitBadInput);
        }
    }

    RunOutput output(job, static_cast<int>(densities.srcDensity.NumCols()));
    QString error;
    if (!output.prepare(&error)) {
        return fail(error, kExitBadInput);
    }
    std::unique_ptr<VideoEncoder> video;
    if (!job.video.isEmpty()) {
        // Checked now: the video may go into the output folder just created.
        if (!QFileInfo(job.video).absoluteDir().exists()) {
            output.discard();
            return fail(QStringLiteral("the folder of the video file %1 does not exist")
                            .arg(quoted(job.video)),
                        kExitBadInput);
        }
        video = std::make_unique<VideoEncoder>();
        if (!video->start(ffmpeg, job.video, static_cast<int>(densities.srcDensity.NumCols()),
                          &error)) {
            output.discard();
            return fail(error, kExitBadInput);
        }
    }
    QStringList notes;
    if (!output.begin(&error, &notes)) {
        if (video) {
            video->abandon();
        }
        output.discard();
        return fail(error, kExitBadInput);
    }
    for (const QString &note : notes) {
        printLine(errors, QStringLiteral("velloran-render: ") + note);
    }

    std::unique_ptr<Solver> solver =
        makeSolver(densities.srcDensity, densities.tgtDensity, job.parameters);
    MetricsHistory history;
    Progress progress(progressStream, job.quiet, job.steps);
    QElapsedTimer wall;
    wall.start();
    qint64 solverNanoseconds = 0;

    // Writes one frame in every requested form; false on an output failure.
    // A failing encoder costs only the video: the run and its files go on.
    bool videoFailed = false;
    auto emitFrame = [&](int step) {
        const QImage grey = densityImage(*solver->m_density);
        if (!output.writeFrame(*solver, step, grey, &error)) {
            return false;
        }
        QString videoError;
        if (video && !video->addFrame(grey, &videoError)) {
            progress.close();
            printLine(
                errors,
                QStringLiteral("velloran-render: %1; no video, the run goes on").arg(videoError));
            video->abandon();
            video.reset();
            videoFailed = true;
        }
        return true;
    };
    // Plot, metrics and video after the last step, whatever ended the run.
    auto finish = [&](int code) {
        progress.close();
        QString finalError;
        if (!output.closeMetrics()) {
            finalError =
                QStringLiteral("could not write %1").arg(quoted(output.path("metrics.csv")));
        }
        QString plotError;
        if (!output.writePlot(history.curve(), &plotError) && finalError.isEmpty()) {
            finalError = plotError;
        }
        if (video) {
            QString videoError;
            // The frames written before an instability are good: keep them too.
            if (!video->finish(&videoError) && finalError.isEmpty()) {
                finalError = videoError;
            }
        }
        if (finalError.isEmpty()) {
            return code == kExitOk && videoFailed ? static_cast<int>(kExitOutputFailed) : code;
        }
        printLine(errors, QStringLiteral("velloran-render: ") + finalError);
        return code == kExitOk ? static_cast<int>(kExitOutputFailed) : code;
    };

    StepMetrics metrics = measure(*solver, 0, 0.0);
    history.add(metrics);
    if (!output.addMetrics(metrics) || !emitFrame(0)) {
        if (error.isEmpty()) {
            error = QStringLiteral("could not write %1").arg(quoted(output.path("metrics.csv")));
        }
        progress.close();
        if (video) {
            video->abandon();
        }
        return fail(error, kExitOutputFailed);
    }
    progress.update(0, metrics.distance, true);

    int step = 0;
    while (step < job.steps && !interruptRequested()) {
        QElapsedTimer stepClock;
        stepClock.start();
        solver->step();
        solverNanoseconds += stepClock.nsecsElapsed();
        ++step;
        metrics = measure(*solver, step, wall.nsecsElapsed() / 1e9);
        history.add(metrics);
        bool written = output.addMetrics(metrics);
        if (!metrics.finite) {
            finish(kExitUnstable);
            printLine(errors, QStringLiteral("velloran-render: unstable: the density or velocity "
                                             "became non-finite at step %1; output kept in %2")
                                  .arg(step)
                                  .arg(quoted(job.outDir)));
            return kExitUnstable;
        }
        const bool interrupted = interruptRequested();
        if (step % job.every == 0 || step == job.steps || interrupted) {
            written = emitFrame(step) && written;
        }
        if (!written) {
            progress.close();
            if (error.isEmpty()) {
                error =
                    QStringLiteral("could not write %1").arg(quoted(output.path("metrics.csv")));
            }
            if (video) {
                video->abandon();
            }
            output.closeMetrics();
            return fail(error, kExitOutputFailed);
        }
        progress.update(step, metrics.distance, step == job.steps);
    }

    const bool interrupted = step < job.steps;
    const int code = finish(interrupted ? kExitInterrupted : kExitOk);
    if (code == kExitOutputFailed && !videoFailed) {
        return code;
    }
    const double solverSeconds = solverNanoseconds / 1e9;
    const double rate = solverSeconds > 0 ? step / solverSeconds : 0.0;
    const StepMetrics &best = history.best();
    if (interrupted) {
        printLine(errors, QStringLiteral("velloran-render: interrupted after step %1").arg(step));
    }
    QStringList lines;
    lines << QStringLiteral("%1 steps of %2 x %2 in %3 s, %4 steps/s (solver only)")
                 .arg(step)
                 .arg(densities.srcDensity.NumCols())
                 .arg(wall.nsecsElapsed() / 1e9, 0, 'f', 1)
                 .arg(rate, 0, 'f', 1);
    lines << QStringLiteral(
                 "distance to target: %1 at step 0, %2 at step %3 (lowest %4 at step %5)")
                 .arg(history.first().distance, 0, 'f', 4)
                 .arg(history.latest().distance, 0, 'f', 4)
                 .arg(step)
                 .arg(best.distance, 0, 'f', 4)
                 .arg(best.step);
    const QString dir = QDir::cleanPath(job.outDir);
    lines << QStringLiteral("output folder: %1").arg(dir);
    if (job.png) {
        lines
            << QStringLiteral("  frames:  %1/frame_NNNNNN.png (%2)").arg(dir).arg(output.frames());
    }
    if (job.npy) {
        lines << QStringLiteral("  fields:  %1/{density,u,v}_NNNNNN.npy (%2 each)")
                     .arg(dir)
                     .arg(output.frames());
    }
    lines << QStringLiteral("  metrics: %1/metrics.csv").arg(dir);
    lines << QStringLiteral("  plot:    %1/convergence.png").arg(dir);
    if (video) {
        lines << QStringLiteral("  video:   %1").arg(job.video);
    }
    if (summary) {
        printLine(summary, lines.join(QLatin1Char('\n')));
    }
    return code;
}

int renderMain(const QStringList &arguments) {
    RenderOptions options;
    QString error;
    if (!parseRenderOptions(arguments, &options, &error)) {
        printLine(stderr, QStringLiteral("velloran-render: %1 (see --help)").arg(error));
        return kExitBadInput;
    }
    if (options.help) {
        printLine(stdout, renderUsage());
        return kExitOk;
    }
    if (options.version) {
        printLine(stdout, QStringLiteral("velloran-render " VELLORAN_VERSION));
        return kExitOk;
    }
    if (options.listExamples) {
        for (const Example &example : bundledExamples()) {
            RenderJob job;
            QStringList notes;
            RenderOptions exampleOptions;
            exampleOptions.example = example.name;
            if (!resolveJob(exampleOptions, &job, &notes, &error)) {
                printLine(stderr, QStringLiteral("velloran-render: ") + error);
                return kExitBadInput;
            }
            const SimParameters &p = job.parameters;
            printLine(stdout,
                      QStringLiteral("%1\n    %2\n    vf %3, vd %4, vg %5, sigma %6, dt %7; "
                                     "%8 steps, a frame every %9")
                          .arg(example.name, example.description)
                          .arg(p.vf())
                          .arg(p.vd())
                          .arg(p.vg())
                          .arg(p.sigma())
                          .arg(p.dt())
                          .arg(example.steps)
                          .arg(example.every));
        }
        return kExitOk;
    }
    RenderJob job;
    QStringList notes;
    if (!resolveJob(options, &job, &notes, &error)) {
        printLine(stderr, QStringLiteral("velloran-render: ") + error);
        return kExitBadInput;
    }
    for (const QString &note : notes) {
        printLine(stderr, QStringLiteral("velloran-render: ") + note);
    }
    installInterruptHandler();
    return runJob(job, stderr, stdout);
}

} // namespace velloran
