#pragma once

// Recorder: writes what a run does into a folder while it runs, as the
// renderer would and with its writers: a frame every K steps
// (frame_NNNNNN.png, and the .exr, .vdb and .npy files when asked for), one
// metrics.csv line per step, and the convergence plot when the recording
// stops. A colour run's frames are its colour picture and one layer or file
// per field, and its rows carry each field's distance and the colour error,
// as in a render of the same run. The folder follows the renderer's rules: created
// if missing, locked against a render or another recording for as long as
// the recording lasts, probed before anything is written, and cleared of an
// earlier render's frames and plot (other files stay).
//
// The run is never held back by the disk. The worker only measures its step
// (the renderer's metrics) and, every K steps, copies the density into one of
// a few spare buffers; a writer thread of the recorder's own turns those into
// files. When every buffer still waits for the disk, the frame is skipped and
// counted. A write that fails ends the recording and says why.
//
// Threads: stepFinished() and runEnded() come from the run's worker; the rest
// from the owner's thread, where the signals arrive (queued from the writer).

#include "colourerror.h"
#include "colourpicture.h"
#include "framequeue.h"
#include "framewriter.h"
#include "metrics.h"
#include "metricsfile.h"
#include "outputfolder.h"
#include "run.h"
#include "stepobserver.h"
#include "stepwriter.h"

#include <QElapsedTimer>
#include <QObject>

#include <QString>
#include <optional>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Recorder : public QObject, public velloran::StepObserver {
    Q_OBJECT

public:
    static constexpr int kSpareFrames = 4;
    // Lines waiting for the disk beyond this many are dropped (and counted):
    // a disk that takes nothing at all must not fill the memory.
    static constexpr std::size_t kMaxPendingLines = 1u << 20;

    struct Settings {
        QString folder;
        int every = 10;   // a frame every this many steps
        bool vdb = false; // each frame also as the renderer's OpenVDB volume
        bool exr = false; // ... its EXR image
        bool npy = false; // ... and its raw fields
    };

    // Whether a recording could write into the folder now (it is left as it
    // was). False, with the reason in *error, otherwise.
    static bool canRecordInto(const QString &folder, QString *error);

    // Prepares the folder (lock, probe, earlier output removed, metrics.csv
    // started) and starts the writer. Null, with the reason in *error, when
    // the folder cannot be used. `title` names the run in the plot.
    // `obstacles`, the run's framed mask or null, goes into every raw frame;
    // `picture` is that of a colour run (none: a grey one).
    static std::shared_ptr<Recorder>
    start(const Settings &settings, const QString &title, QString *error,
          const Grid *obstacles = nullptr,
          const std::optional<velloran::ColourPicture> &picture = std::nullopt);
    ~Recorder() override; // finishes and waits for the writer

    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    bool stepFinished(const Solver &solver, const velloran::StepReport &report,
                      std::string *error) override;
    void runEnded(const SimFrame &lastFinite) override;

    // No more steps will be recorded; the writer finishes what is queued,
    // writes the plot and then emits finished().
    void finish();

    const Settings &settings() const { return m_settings; }
    int framesWritten() const { return m_written.load(); }
    int framesSkipped() const;
    std::size_t linesDropped() const;

signals:
    // Everything is on disk (or a write failed and failed() came first).
    void finished();
    void failed(const QString &error);

private:
    Recorder(const Settings &settings, const QString &title, const Grid *obstacles,
             const std::optional<velloran::ColourPicture> &picture);
    bool rawFrames() const { return m_settings.exr || m_settings.vdb || m_settings.npy; }
    // The frame's grids (the velocity only for the raw formats) copied into
    // `frame`; `fields` are a colour run's further densities.
    void copyFrame(const Grid &density, const Grid &u, const Grid &v,
                   const std::vector<const Grid *> &fields, PendingFrame *frame) const;
    void queueFrame(const Solver &solver, std::int64_t step);
    void writeLoop();
    void closeFiles(bool ok, QString error);
    bool writeLines(const std::vector<velloran::StepMetrics> &lines, QString *error);
    bool writeFrame(const PendingFrame &frame, QString *error);

    const Settings m_settings;
    const QString m_title;
    const std::optional<Grid> m_obstacles; // read by the writer; fixed from the start
    const std::optional<velloran::ColourPicture> m_picture;
    std::vector<const Grid *> m_densities, m_targets; // the worker's, for the colour error
    velloran::ColourErrorMeter m_colourError;         // the worker's too
    QElapsedTimer m_clock; // seconds of the metrics, from the recording's start

    mutable std::mutex m_mutex; // guards everything down to m_finishing
    std::condition_variable m_wake;
    FrameQueue m_frames{kSpareFrames};
    std::vector<velloran::StepMetrics> m_lines;
    std::int64_t m_lastQueued = -1; // step of the last frame queued (worker side)
    bool m_sawStep = false;
    std::size_t m_dropped = 0;
    bool m_finishing = false;

    std::atomic<int> m_written{0};
    velloran::OutputFolder m_folder; // held (and locked) while recording
    velloran::MetricsFile m_metrics; // writer only, once started
    const std::vector<std::unique_ptr<velloran::FrameWriter>> m_writers;
    velloran::StepWriter m_files; // the renderer's per-step writing; writer only
    std::thread m_writer;
};
