// The program as a user meets it: exit codes, messages, files.

#include "clirun.h"
#include "npy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using clirun::disc;
using clirun::filled;
using clirun::Result;
using clirun::run;

class RenderCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(disc(16, 6).save(path("src.png")));
        ASSERT_TRUE(disc(16, 3).save(path("tgt.png")));
        ASSERT_TRUE(filled(16, 12, 200).save(path("wide.png")));
        ASSERT_TRUE(filled(8, 8, 200).save(path("small.png")));
        ASSERT_TRUE(filled(3000, 2, 0).save(path("huge.png")));
        QFile text(path("text.png"));
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("this is no image");
        text.close();
        QFile config(path("bad.xml"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("<configuration><parameters>");
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QStringList basic(const QString &out) const {
        return {"--source", path("src.png"),
                "--target", path("tgt.png"),
                "--sigma",  "1",
                "--dt",     "0.001",
                "--vf",     "1",
                "--vd",     "3",
                "--vg",     "0",
                "--out",    out,
                "--quiet"};
    }

    // Bad input: exit 2, exactly one line on stderr containing `message`, and
    // no output folder.
    void expectBadInput(
        const QStringList &arguments, const QString &message,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) {
        const QString out = path("out-bad");
        clirun::expectRefused(QStringList{"--out", out} + arguments, message, out, environment);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(RenderCli, HelpVersionAndExampleList) {
    Result r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("--example NAME"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith("velloran-render "));
    r = run({"--list-examples"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("blob-to-s"));
    EXPECT_TRUE(r.out.contains("ring-to-star"));
}

TEST_F(RenderCli, ExampleRunWritesFramesFieldsMetricsAndPlot) {
    const QString out = path("o");
    const Result r = run({"--example", "blob-to-s", "--steps", "5", "--every", "2", "--format",
                          "png,npy", "--out", out, "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("output folder: " + out)) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("metrics.csv"));

    for (const char *step : {"000000", "000002", "000004", "000005"}) {
        const QImage frame(QDir(out).filePath(QStringLiteral("frame_%1.png").arg(step)));
        EXPECT_EQ(frame.size(), QSize(128, 128)) << step;
        EXPECT_TRUE(frame.isGrayscale());
        for (const char *field : {"density", "u", "v"}) {
            QFile file(QDir(out).filePath(QStringLiteral("%1_%2.npy").arg(field, step)));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
            const auto grid = velloran::parseNpy(file.readAll());
            ASSERT_TRUE(grid.has_value());
            EXPECT_EQ(grid->NumRows(), 130u);
            EXPECT_EQ(grid->NumCols(), 130u);
        }
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(out).filePath("frame_000001.png")));
    EXPECT_FALSE(QImage(QDir(out).filePath("convergence.png")).isNull());

    QFile metrics(QDir(out).filePath("metrics.csv"));
    ASSERT_TRUE(metrics.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = metrics.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], "step,distance,mass,max_speed,seconds,substeps,target,advected,gathered");
    EXPECT_TRUE(lines[1].startsWith("0,"));
    EXPECT_TRUE(lines[6].startsWith("5,"));

    // Frame 0 shows the source upright: the blob's centre is bright, a corner dark.
    const QImage first(QDir(out).filePath("frame_000000.png"));
    EXPECT_GT(qGray(first.pixel(64, 64)), 100);
    EXPECT_EQ(qGray(first.pixel(0, 0)), 0);
}

TEST_F(RenderCli, EarlierOutputIsReplacedOtherFilesKept) {
    const QString out = path("again");
    ASSERT_TRUE(QDir().mkpath(out));
    QFile stale(QDir(out).filePath("frame_000900.png"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    QFile mine(QDir(out).filePath("notes.txt"));
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.close();
    const Result r = run(QStringList(basic(out)) << "--steps"
                                                 << "2");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(stale.fileName()));
    EXPECT_TRUE(QFileInfo::exists(mine.fileName()));
    EXPECT_TRUE(r.err.contains("removed 1 file(s) of an earlier render"));
}

// Folder links and names. A link put in the place of a file the run owns is
// never written through: the lock and the metrics, which are opened in place,
// are refused; files written whole (frames, plot) replace the link. Frame
// names that are one of the run's own files, or longer than the file system
// takes, are refused before the folder changes.
TEST_F(RenderCli, OwnFilesAreNeverWrittenThroughLinksAndNamesAreCheckedFirst) {
    const QString outside = path("outside.txt");
    QFile mine(outside);
    ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
    mine.write("mine\n");
    mine.close();
    const auto outsideUnchanged = [&] {
        QFile file(outside);
        return file.open(QIODevice::ReadOnly) && file.readAll() == "mine\n";
    };
    const QString out = path("linked");
    const QStringList twoSteps = basic(out) << "--steps"
                                            << "2";
    ASSERT_EQ(run(twoSteps).exitCode, 0);
    const QStringList leaveOut = {".velloran-render.lock"};
    for (const char *own : {".velloran-render.lock", "metrics.csv"}) {
        const QString link = QDir(out).filePath(QLatin1String(own));
        ASSERT_TRUE(QFile::remove(link));
        ASSERT_TRUE(QFile::link(outside, link));
        const QStringList before = clirun::folderDigest(out, leaveOut);
        const Result r = run(twoSteps);
        EXPECT_EQ(r.exitCode, 2) << own;
        EXPECT_TRUE(r.err.contains("is a symbolic link")) << r.err.toStdString();
        EXPECT_TRUE(outsideUnchanged()) << own;
        EXPECT_EQ(clirun::folderDigest(out, leaveOut), before) << own;
        ASSERT_TRUE(QFile::remove(link));
    }
    for (const char *own : {"frame_000000.png", "convergence.png"}) {
        ASSERT_TRUE(QFile::remove(QDir(out).filePath(QLatin1String(own))));
        ASSERT_TRUE(QFile::link(outside, QDir(out).filePath(QLatin1String(own))));
    }
    ASSERT_EQ(run(twoSteps).exitCode, 0);
    EXPECT_TRUE(outsideUnchanged());
    EXPECT_FALSE(QFileInfo(QDir(out).filePath("frame_000000.png")).isSymLink());
    EXPECT_FALSE(QImage(QDir(out).filePath("convergence.png")).isNull());

    expectBadInput(basic(path("out-bad")) << "--name"
                                          << "convergence%.0d",
                   "--name 'convergence%.0d' names a frame 'convergence.png', which is a file "
                   "the run writes itself");
    // 255 bytes is the limit here; a file is written under its name plus 13.
    const QString fits = QString(237, QLatin1Char('a')) + QStringLiteral("%d");
    const QString tooLong = QString(238, QLatin1Char('a')) + QStringLiteral("%d");
    const QStringList before = clirun::folderDigest(out);
    const Result refused = run(QStringList(twoSteps) << "--name" << tooLong);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains("gives file names too long for the file system of"))
        << refused.err.toStdString();
    EXPECT_TRUE(
        refused.err.contains("has 243 bytes, 256 while it is written, and the limit is 255"))
        << refused.err.toStdString();
    EXPECT_EQ(clirun::folderDigest(out), before);
    EXPECT_EQ(run(QStringList(twoSteps) << "--name" << fits).exitCode, 0);
}

TEST_F(RenderCli, BadInputExitsWithTwoAndLeavesNothing) {
    const QString src = path("src.png");
    const QString tgt = path("tgt.png");
    // Every refusal of the option parser takes this path (options_test.cpp
    // has their messages).
    expectBadInput({"--frobnicate"}, "unknown option '--frobnicate' (see --help)");
    expectBadInput({}, "Could not load source image. (no path given)");
    expectBadInput({"--source", path("missing.png"), "--target", tgt},
                   "Could not load source image.");
    expectBadInput({"--source", src, "--target", path("text.png")}, "Could not load target image.");
    expectBadInput({"--source", path("wide.png"), "--target", tgt},
                   "The source image must be square.");
    expectBadInput({"--source", src, "--target", path("small.png")},
                   "The target image is smaller than the source image.");
    expectBadInput({"--source", path("huge.png"), "--target", tgt},
                   "The source image is too large (at most 2048 x 2048 pixels).");
    expectBadInput({path("bad.xml")}, "invalid configuration file");
    expectBadInput({path("nope.xml")}, "could not open configuration file");
    expectBadInput({"--example", "nope"}, "unknown example 'nope'");

    // An output folder that cannot be made: its parent is a file.
    const QString blocked = path("src.png") + "/out";
    const Result r = run({"--source", src, "--target", tgt, "--out", blocked});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("could not create output folder")) << r.err.toStdString();
    const Result file = run({"--source", src, "--target", tgt, "--out", src});
    EXPECT_EQ(file.exitCode, 2);
    EXPECT_TRUE(file.err.contains("is not a folder"));

    // --video without ffmpeg names the package.
    QProcessEnvironment noFfmpeg = QProcessEnvironment::systemEnvironment();
    noFfmpeg.insert("PATH", path("empty-bin"));
    expectBadInput({"--source", src, "--target", tgt, "--video", path("v.mp4")},
                   "Debian package 'ffmpeg'", noFfmpeg);
}

// Inputs that once hung, ran a void run or hid their reason: each is refused
// at once with one line that names the file and says why.
TEST_F(RenderCli, HostileInputsAreRefusedWithTheirReason) {
    const QString src = path("src.png");
    const QString tgt = path("tgt.png");
    ASSERT_TRUE(filled(16, 16, 0).save(path("black.png")));
    const QString fifo = path("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile dtd(path("dtd.xml"));
    ASSERT_TRUE(dtd.open(QIODevice::WriteOnly));
    dtd.write("<?xml version=\"1.0\"?>\n<!DOCTYPE c [<!ENTITY e \"1\">]>\n"
              "<configuration><parameters><vf>&e;</vf></parameters></configuration>");
    dtd.close();

    expectBadInput({"--source", path("black.png"), "--target", tgt},
                   "The source image has no smoke: its blue channel is zero everywhere. ('" +
                       path("black.png") + "')");
    expectBadInput({"--source", src, "--target", path("black.png")},
                   "The target image has no smoke");
    expectBadInput({"--source", fifo, "--target", tgt},
                   "Could not load source image. ('" + fifo + "': not a regular file)");
    expectBadInput({fifo}, "could not open configuration file '" + fifo + "': not a regular file");
    expectBadInput({path("dtd.xml")}, "invalid configuration file '" + path("dtd.xml") +
                                          "': 2:30: a document type declaration (<!DOCTYPE>) is "
                                          "not allowed in a configuration file");

    // A name whose bytes are not UTF-8 cannot be kept as text; said so, not
    // taken for a missing file.
    // (The name goes through a file: a QProcess argument is text itself.)
    QFile name(path("name"));
    ASSERT_TRUE(name.open(QIODevice::WriteOnly));
    name.write(QFile::encodeName(m_dir.path()) + "/caf\xe9.png");
    name.close();
    QProcess shell;
    shell.start("sh", {"-c", "exec \"$0\" --source \"$(cat \"$1\")\" --target x.png",
                       QStringLiteral(VELLORAN_RENDER_EXE), path("name")});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 2);
    EXPECT_TRUE(shell.readAllStandardError().contains(
        "is not valid UTF-8; a file name must be valid UTF-8 to be used"));
}

// A target larger than the source is read in its top-left corner; the
// renderer says which part.
TEST_F(RenderCli, ALargerTargetIsUsedInItsCornerAndSaidSo) {
    ASSERT_TRUE(disc(20, 5).copy(0, 0, 20, 18).save(path("big-target.png")));
    QStringList arguments = basic(path("crop"));
    arguments[3] = path("big-target.png");
    const Result r = run(arguments + QStringList{"--steps", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, "velloran-render: the target image '" + path("big-target.png") +
                         "' is 20 x 18 pixels; the run uses its top-left 16 x 16 pixels\n");
}

TEST_F(RenderCli, ChangedValuesAreReportedOnStderr) {
    const Result r = run(QStringList(basic(path("o2"))) << "--steps"
                                                        << "1"
                                                        << "--vg"
                                                        << "7"
                                                        << "--dt"
                                                        << "0.0010004");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("vg 7 from --vg is outside 0 .. 1; using 1"));
    EXPECT_TRUE(r.err.contains("dt 0.0010004 from --dt rounded to 5 decimal(s): 0.001"));
}

TEST_F(RenderCli, UnstableRunStopsWithThreeAndKeepsOutput) {
    const QString out = path("unstable");
    const Result r = run({"--source", path("src.png"),
                          "--target", path("tgt.png"),
                          "--vf",     "1000",
                          "--vd",     "0",
                          "--vg",     "1",
                          "--sigma",  "0.1",
                          "--dt",     "1",
                          "--steps",  "1000",
                          "--every",  "1",
                          "--out",    out,
                          "--quiet"});
    ASSERT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("unstable")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("at step ")) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(QDir(out).filePath("frame_000000.png")));
    EXPECT_TRUE(QFileInfo::exists(QDir(out).filePath("convergence.png")));
    QFile metrics(QDir(out).filePath("metrics.csv"));
    ASSERT_TRUE(metrics.open(QIODevice::ReadOnly));
    EXPECT_GE(metrics.readAll().count('\n'), 2);
}

// Ctrl-C, SIGTERM and SIGHUP: the step under way is finished, its frame, the
// metrics and the plot are written, and the exit status names the signal.
TEST_F(RenderCli, StopSignalsFinishTheStepAndWriteIt) {
    const struct {
        int signal;
        int exitCode;
        const char *message;
    } cases[] = {
        {SIGINT, 130, "interrupted after step"},
        {SIGTERM, 143, "stopped by SIGTERM after step"},
        {SIGHUP, 129, "stopped by SIGHUP after step"},
    };
    for (const auto &c : cases) {
        const QString out = path(QStringLiteral("stopped-%1").arg(c.signal));
        QProcess process;
        process.setProgram(QStringLiteral(VELLORAN_RENDER_EXE));
        process.setArguments({"--example", "blob-to-s", "--steps", "1000000", "--every", "100000",
                              "--out", out, "--quiet"});
        process.start();
        ASSERT_TRUE(process.waitForStarted());
        // Wait until the run is past step 0: after the header and the row of
        // frame 0, the rows reach the file in batches of many steps.
        const QString rows = QDir(out).filePath("metrics.csv");
        const auto rowsWritten = [&rows] {
            QFile file(rows);
            return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
        };
        while (rowsWritten() < 3 && process.state() == QProcess::Running) {
            QThread::msleep(20);
        }
        ::kill(static_cast<pid_t>(process.processId()), c.signal);
        ASSERT_TRUE(process.waitForFinished(60000));
        const QByteArray err = process.readAllStandardError();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << c.signal;
        EXPECT_EQ(process.exitCode(), c.exitCode) << err.toStdString();
        EXPECT_TRUE(err.contains(c.message)) << err.toStdString();

        QFile metrics(QDir(out).filePath("metrics.csv"));
        ASSERT_TRUE(metrics.open(QIODevice::ReadOnly));
        const QByteArray text = metrics.readAll();
        EXPECT_TRUE(text.endsWith('\n'));
        const QList<QByteArray> lines = text.trimmed().split('\n');
        ASSERT_GE(lines.size(), 2);
        const int lastStep = lines.last().split(',').first().toInt();
        EXPECT_GT(lastStep, 0);
        const QString lastFrame = QDir(out).filePath(
            QStringLiteral("frame_%1.png").arg(lastStep, 6, 10, QLatin1Char('0')));
        EXPECT_TRUE(QFileInfo::exists(lastFrame)) << lastFrame.toStdString();
        EXPECT_TRUE(QFileInfo::exists(QDir(out).filePath("convergence.png")));
    }
}

// A second render into a folder in use is refused before it writes anything.
TEST_F(RenderCli, ASecondRenderIntoABusyFolderTouchesNothing) {
    const QString out = path("busy");
    QProcess first;
    first.setProgram(QStringLiteral(VELLORAN_RENDER_EXE));
    first.setArguments(basic(out) + QStringList{"--steps", "1000000", "--every", "1000000"});
    first.start();
    ASSERT_TRUE(first.waitForStarted());
    // Once frame 0 is in place the folder's names stay as they are until the end.
    const QString frame = QDir(out).filePath("frame_000000.png");
    while (!QFileInfo::exists(frame) && first.state() == QProcess::Running) {
        QThread::msleep(20);
    }
    ASSERT_TRUE(QFileInfo::exists(frame));
    const QStringList before =
        QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);

    const Result second = run(basic(out) + QStringList{"--steps", "3"});
    EXPECT_EQ(second.exitCode, 2) << second.err.toStdString();
    EXPECT_EQ(second.err.trimmed(),
              QStringLiteral("velloran-render: output folder '%1' is in use by another render "
                             "(process %2)")
                  .arg(out)
                  .arg(first.processId()));
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), before);

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(60000));
    EXPECT_EQ(first.exitCode(), 143);
    // Free again once the first render is over.
    EXPECT_EQ(run(basic(out) + QStringList{"--steps", "3"}).exitCode, 0);
}

// A write that fails part-way through a run (here: a file size limit, which
// fails writes as a full disk does) stops the run at once with exit 1 and the
// file's name and the system's reason; what was written before is whole.
TEST_F(RenderCli, AFailedWriteStopsTheRunAndLeavesOnlyWholeFiles) {
    const QString out = path("limited");
    QProcess process;
    process.setProgram(QStringLiteral(VELLORAN_RENDER_EXE));
    process.setArguments(basic(out) +
                         QStringList{"--steps", "400", "--every", "1", "--format", "png,npy"});
    process.setChildProcessModifier([] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 8000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start();
    ASSERT_TRUE(process.waitForFinished(120000));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.startsWith("velloran-render: could not write '" + out + "/"))
        << err.toStdString();
    EXPECT_TRUE(err.trimmed().endsWith("': File too large")) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();

    const QDir dir(out);
    QFile metrics(dir.filePath("metrics.csv"));
    ASSERT_TRUE(metrics.open(QIODevice::ReadOnly));
    const QByteArray text = metrics.readAll();
    ASSERT_TRUE(text.endsWith('\n'));
    const QList<QByteArray> rows = text.trimmed().split('\n');
    for (const QByteArray &line : rows) {
        EXPECT_EQ(line.count(','), rows.first().count(',')) << line.toStdString();
    }
    // Every frame named in the folder is complete, and no temporary is left.
    int frames = 0;
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files | QDir::Hidden)) {
        EXPECT_FALSE(file.fileName().endsWith(".part")) << file.fileName().toStdString();
        if (file.suffix() == "png") {
            EXPECT_FALSE(QImage(file.filePath()).isNull()) << file.fileName().toStdString();
            ++frames;
        }
        if (file.suffix() == "npy") {
            QFile npy(file.filePath());
            ASSERT_TRUE(npy.open(QIODevice::ReadOnly));
            EXPECT_TRUE(velloran::parseNpy(npy.readAll()).has_value())
                << file.fileName().toStdString();
        }
    }
    EXPECT_GT(frames, 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("convergence.png")));
}

// The encoder's plumbing with a stand-in for ffmpeg that stores what it is fed.
TEST_F(RenderCli, VideoFramesArePipedToFfmpeg) {
    const QString bin = path("bin");
    const QProcessEnvironment environment = clirun::recordingFfmpeg(bin);

    // The video may go into the output folder the run creates.
    const QString video = path("ov/nested/movie.mp4");
    const QStringList options = {"--steps", "4",   "--every",  "2",
                                 "--video", video, "--format", "none"};
    const Result r = run(basic(path("ov/nested")) + options, QString(), environment);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(video).size(), 3 * 16 * 16); // frames 0, 2, 4 as raw grey
    EXPECT_FALSE(QFileInfo::exists(video + ".part"));
    QFile args(bin + "/args");
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    const QByteArray line = args.readAll();
    EXPECT_TRUE(line.contains("-pix_fmt gray -s 16x16")) << line.toStdString();
    EXPECT_TRUE(line.contains("libx264"));
    EXPECT_TRUE(r.out.contains("video:   " + video));

    // A video folder that does not exist: refused, and the output folders
    // made for the run are gone again.
    const Result noFolder =
        run(basic(path("deep/er/out")) + QStringList{"--video", path("nowhere/movie.mp4")},
            QString(), environment);
    EXPECT_EQ(noFolder.exitCode, 2);
    EXPECT_TRUE(noFolder.err.contains("the folder of the video file"))
        << noFolder.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("deep")));

    // A failing encoder is reported, not taken for success, and leaves no file.
    QFile broken(bin + "/ffmpeg");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("#!/bin/sh\ncat > /dev/null\necho 'Unknown encoder' >&2\nexit 1\n");
    broken.close();
    const QString video2 = path("movie2.mp4");
    const Result failed = run(QStringList(basic(path("ov2"))) << "--steps"
                                                              << "2"
                                                              << "--video" << video2,
                              QString(), environment);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.contains("ffmpeg failed: Unknown encoder")) << failed.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(video2));
    EXPECT_FALSE(QFileInfo::exists(video2 + ".part"));

    // An encoder that dies at once costs only the video: every frame is still
    // written, and the exit status says something failed.
    QFile dying(bin + "/ffmpeg");
    ASSERT_TRUE(dying.open(QIODevice::WriteOnly | QIODevice::Truncate));
    dying.write("#!/bin/sh\necho 'Unrecognized option' >&2\nexit 1\n");
    dying.close();
    const QString video3 = path("movie3.mp4");
    const Result died =
        run(basic(path("ov3")) + QStringList{"--steps", "6", "--every", "1", "--video", video3},
            QString(), environment);
    EXPECT_EQ(died.exitCode, 1);
    // Whether the first write or the end of the video notices it depends on timing.
    EXPECT_TRUE(died.err.contains("Unrecognized option")) << died.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("ov3/frame_000006.png")));
    EXPECT_TRUE(QFileInfo::exists(path("ov3/convergence.png")));
    EXPECT_FALSE(QFileInfo::exists(video3));
    EXPECT_FALSE(QFileInfo::exists(video3 + ".part"));
}

// The volume and compositing frames' writers are loaded when the first frame
// of their kind is due; a program that cannot find one (here a copy of the
// renderer away from its build tree and any installation) says where it
// looked and stops as a failed write.
TEST_F(RenderCli, AWriterModuleThatCannotBeFoundFailsTheRunAndSaysWhere) {
    if (QFileInfo::exists(QStringLiteral(VELLORAN_VDB_INSTALLED)) ||
        QFileInfo::exists(QStringLiteral(VELLORAN_EXR_INSTALLED))) {
        GTEST_SKIP() << "an installed writer would be found";
    }
    const QString program = path("velloran-render");
    ASSERT_TRUE(QFile::copy(QStringLiteral(VELLORAN_RENDER_EXE), program));
    for (const auto &[format, writer] : {std::pair<QString, QString>{"vdb", "OpenVDB writer"},
                                         std::pair<QString, QString>{"exr", "OpenEXR writer"}}) {
        const QString out = path("no-writer-" + format);
        QProcess process;
        process.start(program,
                      basic(out) + QStringList{"--steps", "2", "--format", "png," + format});
        ASSERT_TRUE(process.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
        const QString frame = out + "/frame_000000." + format;
        EXPECT_TRUE(err.startsWith("velloran-render: could not encode '" + frame + "'"))
            << err.toStdString();
        EXPECT_TRUE(err.contains("the " + writer + " is not installed (looked for "))
            << err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(frame));
    }
}
