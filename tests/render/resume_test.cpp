// Checkpoints and resumed runs, as a user meets them: a run stopped early, by
// SIGTERM or by SIGKILL and then resumed writes the same frames, fields,
// metrics (but for the seconds) and plot as one that ran straight through.

#include "checkpointfile.h"
#include "clirun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <sys/stat.h>

using clirun::Result;
using clirun::run;

namespace {

constexpr int kSteps = 600;

class Resume : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        ASSERT_TRUE(clirun::disc(40, 13).save(s_dir->filePath("src.png")));
        ASSERT_TRUE(clirun::disc(40, 7).save(s_dir->filePath("tgt.png")));
        QElapsedTimer clock;
        clock.start();
        const Result r = run(arguments(s_dir->filePath("straight"), kSteps));
        s_straightMilliseconds = clock.elapsed();
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    static QString path(const QString &name) { return s_dir->filePath(name); }

    // Every format (the vdb frames' settings must survive the checkpoint), frames off the 300 mark
    // (every 7), gathering on.
    static QStringList arguments(const QString &out, int steps) {
        return {"--source",
                path("src.png"),
                "--target",
                path("tgt.png"),
                "--vf",
                "1",
                "--vd",
                "3",
                "--vg",
                "0.0001",
                "--sigma",
                "1",
                "--dt",
                "0.001",
                "--every",
                "7",
                "--format",
                "png,npy,exr,vdb",
                "--vdb-velocity-name",
                "vel",
                "--steps",
                QString::number(steps),
                "--checkpoint-every",
                "50",
                "--out",
                out,
                "--quiet"};
    }

    // metrics.csv without its seconds column (the fifth).
    // The folder holds exactly the straight run's files, byte for byte (the
    // metrics but for the seconds; the checkpoint and the lock aside).
    static void expectSameAsStraight(const QString &dir) {
        const QStringList leaveOut = {"checkpoint.vlck", ".velloran-render.lock", "metrics.csv"};
        const QStringList expected = clirun::folderDigest(path("straight"), leaveOut);
        ASSERT_GT(expected.size(), 5 * (kSteps / 7));
        const QStringList actual = clirun::folderDigest(dir, leaveOut);
        EXPECT_EQ(differences(actual, expected), "");
        EXPECT_EQ(clirun::withoutSeconds(contents(QDir(dir).filePath("metrics.csv"))),
                  clirun::withoutSeconds(contents(path("straight/metrics.csv"))));
    }

    // The entries only one of two digests has, as "+name" (only in the first)
    // and "-name", for a readable failure.
    static std::string differences(const QStringList &actual, const QStringList &expected) {
        QStringList lines;
        for (const QString &entry : actual) {
            if (!expected.contains(entry)) {
                lines << QLatin1Char('+') + entry;
            }
        }
        for (const QString &entry : expected) {
            if (!actual.contains(entry)) {
                lines << QLatin1Char('-') + entry;
            }
        }
        return lines.join(QLatin1Char('\n')).toStdString();
    }

    static QByteArray contents(const QString &file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Starts a run, waits for `ready` to appear in its folder, then a random
    // moment within the run's length, and sends `signal`.
    static int interruptedRun(const QString &out, int signal, const QString &ready,
                              std::mt19937 &random) {
        QProcess process;
        process.setProgram(QStringLiteral(VELLORAN_RENDER_EXE));
        process.setArguments(arguments(out, kSteps));
        process.start();
        EXPECT_TRUE(process.waitForStarted());
        const QString marker = QDir(out).filePath(ready);
        // However long a busy machine takes to get there.
        while (!QFileInfo::exists(marker) && process.state() == QProcess::Running) {
            QThread::usleep(500);
        }
        std::uniform_int_distribution<qint64> delay(0, s_straightMilliseconds);
        const qint64 wait = delay(random);
        QThread::msleep(static_cast<unsigned long>(wait));
        ::kill(static_cast<pid_t>(process.processId()), signal);
        EXPECT_TRUE(process.waitForFinished(120000));
        if (process.exitStatus() != QProcess::NormalExit) {
            return -signal; // ended by the signal itself
        }
        return process.exitCode();
    }

    static void stopAndResume(int signal, const char *ready, int stopped);

    static QTemporaryDir *s_dir;
    static qint64 s_straightMilliseconds;
};

// VELLORAN_TEST_RANDOM_START repeats a failed run's random moments.
unsigned randomStart() {
    bool ok = false;
    const unsigned fixed = qEnvironmentVariable("VELLORAN_TEST_RANDOM_START").toUInt(&ok);
    return ok ? fixed : std::random_device()();
}

QTemporaryDir *Resume::s_dir = nullptr;
qint64 Resume::s_straightMilliseconds = 0;

} // namespace

TEST_F(Resume, ShorterRunExtendedEqualsStraightRun) {
    const QString out = path("extended");
    Result r = run(arguments(out, 300));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Frame 300 ends the short run but is no frame of the long one (7 does not
    // divide 300): the resumed run removes it.
    ASSERT_TRUE(QFileInfo::exists(QDir(out).filePath("frame_000300.png")));

    // The run has reached its planned end: nothing to do, nothing changed.
    const QStringList leaveOut = {".velloran-render.lock"};
    const auto before = clirun::folderDigest(out, leaveOut);
    r = run({"--resume", out, "--quiet"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("has already reached step 300")) << r.err.toStdString();
    EXPECT_EQ(clirun::folderDigest(out, leaveOut), before);
    // A run killed after its last checkpoint, before its plot was written and
    // with rows of steps it never pinned, is finished again.
    ASSERT_TRUE(QFile::remove(QDir(out).filePath("convergence.png")));
    QFile metrics(QDir(out).filePath("metrics.csv"));
    ASSERT_TRUE(metrics.open(QIODevice::Append));
    metrics.write("301,0.5,1,0,9.000,3,0\n");
    metrics.close();
    r = run({"--resume", out, "--quiet"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(clirun::folderDigest(out, leaveOut), before);
    // Going back is refused.
    r = run({"--resume", out, "--steps", "200", "--quiet"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("already at step 300")) << r.err.toStdString();
    EXPECT_EQ(clirun::folderDigest(out, leaveOut), before);

    r = run({"--resume", out, "--steps", QString::number(kSteps), "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    expectSameAsStraight(out);
}

// Three runs stopped by `signal` at random moments once `ready` exists, each
// resumed: `stopped` is the status of a run the signal reached in time.
void Resume::stopAndResume(int signal, const char *ready, int stopped) {
    const unsigned start = randomStart();
    std::mt19937 random(start);
    SCOPED_TRACE(testing::Message() << "random start " << start);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QString out = path(QStringLiteral("stopped%1-%2").arg(signal).arg(attempt));
        const int code = interruptedRun(out, signal, QString::fromLatin1(ready), random);
        ASSERT_TRUE(code == stopped || code == 0) << code;
        std::fprintf(stderr, "signal %d, attempt %d: exit %d\n", signal, attempt, code);
        if (code == stopped) {
            EXPECT_TRUE(QFileInfo::exists(QDir(out).filePath("checkpoint.vlck")));
        }
        const Result r = run({"--resume", out, "--quiet"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        expectSameAsStraight(out);
    }
}

// SIGTERM: the step under way is finished, written and checkpointed.
TEST_F(Resume, SigtermAtARandomMomentThenResume) {
    stopAndResume(SIGTERM, "metrics.csv", 143);
}

// SIGKILL: whatever was under way is lost; the last checkpoint is whole.
TEST_F(Resume, SigkillAtARandomMomentThenResumeFromTheLastCheckpoint) {
    stopAndResume(SIGKILL, "checkpoint.vlck", -SIGKILL);
}

TEST_F(Resume, RefusalsSayWhyAndChangeNothing) {
    const QString out = path("refusals");
    ASSERT_EQ(run(arguments(out, 100)).exitCode, 0);
    const QString checkpoint = QDir(out).filePath("checkpoint.vlck");
    QFile file(checkpoint);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();

    auto expectRefusal = [&](const QString &message) {
        const auto before = clirun::folderDigest(out, {".velloran-render.lock"});
        const Result r = run({"--resume", out, "--steps", "200", "--quiet"});
        EXPECT_EQ(r.exitCode, 2) << message.toStdString();
        EXPECT_TRUE(r.err.contains(message)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_EQ(clirun::folderDigest(out, {".velloran-render.lock"}), before)
            << message.toStdString();
    };
    auto replace = [](const QString &name, const QByteArray &bytes) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };

    replace(checkpoint, good.left(good.size() / 2));
    expectRefusal("is truncated");
    QByteArray damaged = good;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 1);
    replace(checkpoint, damaged);
    expectRefusal("checksum does not match");
    QByteArray other = good;
    other[8] = 9;
    replace(checkpoint, other);
    expectRefusal("format version 9");
    replace(checkpoint, good);

    QFile source(path("src.png"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray image = source.readAll();
    source.close();
    replace(path("src.png"), image + "x");
    expectRefusal("has changed since the checkpoint");
    ASSERT_TRUE(QFile::rename(path("src.png"), path("moved.png")));
    expectRefusal("cannot be read");
    ASSERT_TRUE(QFile::remove(path("moved.png")));
    replace(path("src.png"), image);

    const QString metrics = QDir(out).filePath("metrics.csv");
    QFile csv(metrics);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray rows = csv.readAll();
    csv.close();
    replace(metrics, rows.left(rows.size() - 10));
    expectRefusal("metrics.csv");
    replace(metrics, rows);

    ASSERT_TRUE(QFile::remove(checkpoint));
    expectRefusal("no checkpoint");
    const Result missing = run({"--resume", path("nowhere"), "--quiet"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_FALSE(QFileInfo::exists(path("nowhere")));

    // Checkpoint inputs: only a regular file is read (a FIFO would hang the
    // read, a link to a device would never end), and values under a valid
    // checksum are held to the options' bounds.
    ASSERT_EQ(::mkfifo(QFile::encodeName(checkpoint).constData(), 0600), 0);
    expectRefusal("not a regular file");
    ASSERT_TRUE(QFile::remove(checkpoint));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), checkpoint));
    expectRefusal("a symbolic link");
    ASSERT_TRUE(QFile::remove(checkpoint));
    velloran::Checkpoint decoded;
    ASSERT_EQ(velloran::decodeCheckpoint(good, &decoded).status, velloran::CheckpointStatus::Ok);
    velloran::Checkpoint forged = decoded;
    forged.run.job.parameters[velloran::kSigma] = 0.0;
    replace(checkpoint, velloran::encodeCheckpoint(forged));
    expectRefusal("its sigma 0 is not a value the run can take");
    replace(checkpoint, good);
    // A FIFO in the place of the source image or of metrics.csv.
    for (const QString &input : {path("src.png"), metrics}) {
        ASSERT_TRUE(QFile::rename(input, input + ".kept"));
        ASSERT_EQ(::mkfifo(QFile::encodeName(input).constData(), 0600), 0);
        expectRefusal("not a regular file");
        ASSERT_TRUE(QFile::remove(input));
        ASSERT_TRUE(QFile::rename(input + ".kept", input));
    }

    // After all that, the untouched run still resumes.
    EXPECT_EQ(run({"--resume", out, "--steps", "150", "--quiet"}).exitCode, 0);
}

// The sound scheme and a keyframe blended in over the checkpoint's step: the
// resumed run finds the same targets and the same solver.
TEST_F(Resume, KeyframedSoundRunResumedInTheMiddleOfABlend) {
    ASSERT_TRUE(clirun::disc(40, 5).save(path("second.png")));
    auto keyframed = [&](const QString &out, int steps) {
        QStringList arguments = Resume::arguments(out, steps);
        arguments << "--scheme"
                  << "sound"
                  << "--keyframe" << QStringLiteral("20:%1:30").arg(path("second.png"));
        return run(arguments);
    };
    Result r = keyframed(path("blend-straight"), 80);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = keyframed(path("blend-resumed"), 35);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = run({"--resume", path("blend-resumed"), "--steps", "80", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QStringList leaveOut = {"checkpoint.vlck", ".velloran-render.lock", "metrics.csv"};
    EXPECT_EQ(clirun::folderDigest(path("blend-resumed"), leaveOut),
              clirun::folderDigest(path("blend-straight"), leaveOut));
    const QByteArray metrics = clirun::withoutSeconds(contents(path("blend-straight/metrics.csv")));
    EXPECT_EQ(clirun::withoutSeconds(contents(path("blend-resumed/metrics.csv"))), metrics);
    // Rows 1..20 were computed with the first target, the rest with the second;
    // the sound scheme sub-cycles.
    const QList<QByteArray> rows = metrics.trimmed().split('\n'); // the header, then step 0
    ASSERT_EQ(rows.size(), 82);
    EXPECT_EQ(rows[1 + 20].split(',')[5], "0") << rows[1 + 20].toStdString(); // target
    EXPECT_EQ(rows[1 + 21].split(',')[5], "1") << rows[1 + 21].toStdString();
    EXPECT_GE(rows[1 + 50].split(',')[4].toInt(), 3) << rows[1 + 50].toStdString();
}
