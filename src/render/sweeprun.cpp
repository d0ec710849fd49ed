#include "sweeprun.h"

#include "atomicfile.h"
#include "checkpointio.h"
#include "messages.h"
#include "renderer.h"
#include "sweepfile.h"
#include "sweepsummary.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <csignal>
#include <cstdio>
#include <thread>

namespace velloran {

namespace {

void say(const QString &message) {
    Messages(stderr).say(message);
}

// Everything written to stderr while alive still reaches stderr, and is kept:
// the last message of a failed run goes into its record.
class StderrTee {
public:
    StderrTee() {
        int ends[2];
        std::fflush(stderr);
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return;
        }
        m_saved = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
        ::dup2(ends[1], 2);
        ::close(ends[1]);
        m_reader = std::thread([this, in = ends[0]] {
            char buffer[4096];
            ssize_t got = 0;
            while ((got = ::read(in, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
                if (got > 0) {
                    m_text.append(buffer, static_cast<int>(got));
                    for (ssize_t done = 0; done < got;) {
                        const ssize_t put =
                            ::write(m_saved, buffer + done, static_cast<std::size_t>(got - done));
                        if (put <= 0) {
                            break;
                        }
                        done += put;
                    }
                }
            }
            ::close(in);
        });
    }
    ~StderrTee() { stop(); }
    StderrTee(const StderrTee &) = delete;
    StderrTee &operator=(const StderrTee &) = delete;

    // Gives stderr back; returns the last "velloran-render: " message.
    QString stop() {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, 2); // the pipe's last writer goes: the reader ends
            m_reader.join();
            ::close(m_saved);
            m_saved = -1;
        }
        const QString prefix = QStringLiteral("velloran-render: ");
        const QStringList lines = QString::fromLocal8Bit(m_text).split(QLatin1Char('\n'));
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (line->startsWith(prefix)) {
                return line->mid(prefix.size());
            }
        }
        return QString();
    }

private:
    int m_saved = -1;
    std::thread m_reader;
    QByteArray m_text;
};

// Held while a run of a sweep decides what to do and does it, so that a second
// attempt at the same run (a scheduler that gave up on a worker too early)
// waits and then finds the run done.
class SweepRunLock {
public:
    explicit SweepRunLock(const QString &folder) {
        const QByteArray name = QFile::encodeName(folder + QStringLiteral("/.velloran-sweep.lock"));
        m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        while (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~SweepRunLock() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    SweepRunLock(const SweepRunLock &) = delete;
    SweepRunLock &operator=(const SweepRunLock &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

QString outputRoot(const RenderOptions &options) {
    return options.job.outDir.value_or(QFileInfo(options.sweepPath).path());
}

QJsonObject runOptionsWithName(const SweepRun &run) {
    QJsonObject setup = run.options;
    setup.insert(QStringLiteral("name"), run.name);
    return setup;
}

QJsonObject readRecord(const QString &folder) {
    QFile file(QDir(folder).filePath(sweepRecordName()));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeRecord(const QString &folder, const QJsonObject &record) {
    QString error;
    if (!writeFileAtomically(QDir(folder).filePath(sweepRecordName()),
                             QJsonDocument(record).toJson(), &error)) {
        say(error);
        return false;
    }
    return true;
}

QString statusOf(int code) {
    switch (code) {
    case kExitOk:
        return QStringLiteral("ok");
    case kExitUnstable:
        return QStringLiteral("unstable");
    case kExitBadInput:
        return QStringLiteral("bad input");
    case kExitOutputFailed:
        return QStringLiteral("write failed");
    default:
        return QStringLiteral("interrupted");
    }
}

// A fresh render of the run into `folder`, with checkpoints (a tenth of the
// run apart unless the run says otherwise) so that it can be continued.
int startRun(const SweepRun &run, const QString &folder, bool quiet) {
    QStringList arguments;
    QString error;
    RenderOptions options;
    if (!sweepRunArguments(run, &arguments, &error)) {
        say(error);
        return kExitBadInput;
    }
    // Ours first: the run's arguments may end with "--" and a file name.
    QStringList ours{QStringLiteral("--out"), folder};
    if (quiet) {
        ours << QStringLiteral("--quiet");
    }
    arguments = ours + arguments;
    RenderJob job;
    QStringList notes;
    if (!parseRenderOptions(arguments, &options, &error) ||
        !resolveJob(options, &job, &notes, &error)) {
        say(QStringLiteral("run %1 ('%2'): %3").arg(run.index).arg(run.name, error));
        return kExitBadInput;
    }
    if (job.checkpointEvery == 0) {
        job.checkpointEvery = std::max(1, (job.steps + 9) / 10);
    }
    installInterruptHandler();
    return runJob(job, stderr, stdout, notes);
}

// The run the options name, from its sweep file.
bool chosenRun(const RenderOptions &options, SweepRun *chosen) {
    std::vector<SweepRun> runs;
    QString error;
    if (!loadSweep(options.sweepPath, &runs, &error)) {
        say(error);
        return false;
    }
    if (*options.sweepIndex < 0 || *options.sweepIndex >= static_cast<int>(runs.size())) {
        say(QStringLiteral("--index %1 is not a run of '%2' (it has runs 0 to %3)")
                .arg(*options.sweepIndex)
                .arg(options.sweepPath)
                .arg(static_cast<int>(runs.size()) - 1));
        return false;
    }
    *chosen = runs[static_cast<std::size_t>(*options.sweepIndex)];
    return true;
}

// What an earlier attempt left in the folder decides: a run of another sweep
// is refused, a finished one kept (*code says how it ended), anything else
// attempted (again), with *record saying so on disk first.
bool beginAttempt(const SweepRun &run, const QString &folder, QJsonObject *record, int *code) {
    const QJsonObject earlier = readRecord(folder);
    const QJsonObject setup = runOptionsWithName(run);
    if (!earlier.isEmpty() && earlier.value(QLatin1String("run")).toObject() != setup) {
        say(QStringLiteral("'%1' holds a run of another sweep; remove it or choose another "
                           "--out")
                .arg(folder));
        *code = kExitBadInput;
        return false;
    }
    const QString before = earlier.value(QLatin1String("status")).toString();
    if (before == QLatin1String("ok") || before == QLatin1String("unstable")) {
        say(QStringLiteral("run %1 ('%2') is already done (%3); kept as it is")
                .arg(run.index)
                .arg(run.name, before));
        *code = earlier.value(QLatin1String("exit")).toInt();
        return false;
    }
    *record = QJsonObject{
        {QStringLiteral("run"), setup},
        {QStringLiteral("index"), run.index},
        {QStringLiteral("status"), QStringLiteral("running")},
        {QStringLiteral("attempts"), earlier.value(QLatin1String("attempts")).toInt() + 1},
        {QStringLiteral("seconds"), earlier.value(QLatin1String("seconds")).toDouble()}};
    if (!writeRecord(folder, *record)) {
        *code = kExitOutputFailed;
        return false;
    }
    return true;
}

// Continues the run from its checkpoint, or starts it.
int attempt(const SweepRun &run, const QString &folder, bool quiet) {
    if (!QFileInfo::exists(QDir(folder).filePath(checkpointFileName()))) {
        return startRun(run, folder, quiet);
    }
    QStringList arguments{QStringLiteral("--resume"), folder};
    if (quiet) {
        arguments << QStringLiteral("--quiet");
    }
    return renderMain(arguments);
}

int runOne(const RenderOptions &options) {
    SweepRun run;
    if (!chosenRun(options, &run)) {
        return kExitBadInput;
    }
#ifdef __linux__
    // A run started by a worker that is killed stops as if signalled: the step
    // under way is finished and checkpointed, and the folder is free for the
    // worker that takes the run over.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    const QString folder = QDir(outputRoot(options)).filePath(run.name);
    if (!QDir().mkpath(folder)) {
        say(QStringLiteral("could not create the folder '%1'").arg(folder));
        return kExitBadInput;
    }
    const SweepRunLock lock(folder);
    if (!lock.held()) {
        say(QStringLiteral("could not lock the folder '%1'").arg(folder));
        return kExitBadInput;
    }
    QJsonObject record;
    int code = kExitOk;
    if (!beginAttempt(run, folder, &record, &code)) {
        return code;
    }
    QElapsedTimer clock;
    clock.start();
    StderrTee tee;
    code = attempt(run, folder, options.job.quiet.value_or(false));
    const QString message = tee.stop();
    record.insert(QStringLiteral("status"), statusOf(code));
    record.insert(QStringLiteral("exit"), code);
    record.insert(QStringLiteral("seconds"),
                  record.value(QLatin1String("seconds")).toDouble() + clock.nsecsElapsed() * 1e-9);
    if (code != kExitOk) {
        record.insert(QStringLiteral("error"), message);
    }
    if (!writeRecord(folder, record) && code == kExitOk) {
        return kExitOutputFailed;
    }
    return code;
}

} // namespace

QString sweepRecordName() {
    return QStringLiteral("run.json");
}

int sweepMain(const RenderOptions &options) {
    if (!options.summary) {
        return runOne(options);
    }
    std::vector<SweepRun> runs;
    QString error;
    if (!loadSweep(options.sweepPath, &runs, &error)) {
        say(error);
        return kExitBadInput;
    }
    return writeSweepSummary(runs, outputRoot(options));
}

} // namespace velloran
