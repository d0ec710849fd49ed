// Recording: the buffers that let frames be skipped instead of holding the
// run back, the recorder writing the renderer's files from a run, and the
// window's Record... command (dialog, folder rules, runs recorded while it is
// checked, a write that fails).

#include "framequeue.h"
#include "glview.h"
#include "mainwindow.h"
#include "metrics.h"
#include "outputfolder.h"
#include "recorddialog.h"
#include "recorder.h"
#include "renderer.h"
#include "run.h"
#include "runsetup.h"
#include "simthread.h"
#include "startup.h"
#include "testsupport.h"
#include "vdbframe.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>

#include <algorithm>
#include <sys/stat.h>

using namespace testsupport;

namespace {

const std::array<double, 5> kParameters = {1, 3, 0, 1, 0.001};

velloran::SimParameters parameters() {
    velloran::SimParameters p;
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        p[k] = kParameters[k];
    }
    return p;
}

// The steps of the lines of a metrics.csv, after checking its header.
// One column of a metrics.csv, row by row; -1 or -2 when the file is missing
// or has another header.
QList<double> metricColumn(const QString &path, int column) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {-1};
    }
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    if (lines.value(0) != velloran::metricsCsvHeader().toUtf8()) {
        return {-2};
    }
    QList<double> values;
    for (qsizetype k = 1; k < lines.size(); ++k) {
        values << lines[k].split(',').value(column).toDouble();
    }
    return values;
}

QList<int> metricSteps(const QString &path) {
    QList<int> steps;
    for (const double step : metricColumn(path, 0)) {
        steps << static_cast<int>(step);
    }
    return steps;
}

QStringList framesIn(const QString &folder) {
    return QDir(folder).entryList({QStringLiteral("frame_*.png")}, QDir::Files, QDir::Name);
}

} // namespace

class RecordTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void frameQueueSkipsWhenEveryBufferWaits();
    void recorderWritesTheRenderersFiles();
    void windowRecordsEveryRunWhileChecked();
    void recordingStartedMidRunAndStoppedMidRun();
    void cancelledOrUnusableFolderRecordsNothing();
    void failedWriteEndsTheRecordingNotTheRun();
    void colourRunRecordsWhatTheRendererWrites();

private:
    template <typename T> T *child(const char *name) { return m_window->findChild<T *>(name); }
    void answerRecordDialog(const QString &folder, int every);
    void startRun();
    std::int64_t shownStep();
    QString waitForRecordingStopped();

    QTemporaryDir m_dir;
    QString m_disc, m_bar;
    MainWindow *m_window = nullptr;
    QStringList m_messages; // every status-bar message of the window, in order
};

void RecordTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_disc = m_dir.filePath("disc.png");
    m_bar = m_dir.filePath("bar.png");
    QVERIFY(writeDiscAndBar(m_disc, m_bar));
}

void RecordTest::init() {
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
    m_messages.clear();
    connect(m_window->statusBar(), &QStatusBar::messageChanged, this,
            [this](const QString &text) { m_messages << text; });
}

void RecordTest::cleanup() {
    qDeleteAll(findChildren<QTimer *>());
    delete m_window;
    m_window = nullptr;
}

void RecordTest::answerRecordDialog(const QString &folder, int every) {
    whenModal<RecordDialog>(this, [folder, every](RecordDialog *dialog) {
        if (folder.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->findChild<QLineEdit *>("lineEdit_RecordFolder")->setText(folder);
        dialog->findChild<QSpinBox *>("spinBox_RecordEvery")->setValue(every);
        dialog->accept();
    });
}

void RecordTest::startRun() {
    startRunIn(m_window, m_disc, m_bar, kParameters);
}

std::int64_t RecordTest::shownStep() {
    const QString text = child<QLabel>("label_RunStatus")->text();
    return text.startsWith(QStringLiteral("step ")) ? text.section(' ', 1, 1).toLongLong() : -1;
}

// The status bar's "Recording stopped: ..." message, once it has been shown.
// Every message is collected as it comes: a run still going replaces it with
// its step rate, possibly before a busy event loop gets round to looking.
QString RecordTest::waitForRecordingStopped() {
    const auto stopped = [this] {
        for (qsizetype k = 0; k < m_messages.size(); ++k) {
            if (m_messages[k].startsWith(QStringLiteral("Recording stopped: "))) {
                const QString message = m_messages[k];
                m_messages.remove(0, k + 1);
                return message;
            }
        }
        return QString();
    };
    QString message;
    [[maybe_unused]] const bool seen =
        QTest::qWaitFor([&] { return !(message = stopped()).isEmpty(); }, 60000);
    return message;
}

void RecordTest::frameQueueSkipsWhenEveryBufferWaits() {
    FrameQueue queue(2);
    PendingFrame a, b, c, taken;
    QVERIFY(!queue.next(&taken));
    QVERIFY(queue.claim(5, &a));
    QVERIFY(queue.claim(10, &b));
    QVERIFY(!queue.claim(15, &c)); // both buffers are out: skipped
    QCOMPARE(queue.skipped(), 1);
    a.density = Grid(3, 3);
    queue.fill(std::move(a));
    queue.fill(std::move(b));
    QVERIFY(queue.next(&taken));
    QCOMPARE(taken.step, std::int64_t(5)); // oldest first
    QCOMPARE(taken.density.NumRows(), 3u);
    QVERIFY(!queue.claim(20, &c)); // still out: one waits, one is being written
    queue.giveBack(std::move(taken));
    QVERIFY(queue.claim(25, &c));
    QCOMPARE(c.step, std::int64_t(25));
    QCOMPARE(queue.skipped(), 2);
    queue.dropQueued(); // the one of step 10
    QVERIFY(queue.empty());
    QVERIFY(queue.claim(30, &a));
}

void RecordTest::recorderWritesTheRenderersFiles() {
    // An earlier render left its files, and a note that is not one of them.
    const QString folder = m_dir.filePath("direct");
    QVERIFY(QDir().mkpath(folder));
    for (const char *name : {"frame_000999.png", "frame_000998.vdb", "metrics.csv",
                             "density_000004.npy", "notes.txt", "frame_12.png"}) {
        QFile file(QDir(folder).filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    velloran::RunDensities densities;
    QCOMPARE(velloran::prepareRun(m_disc, m_bar, false, &densities), velloran::RunSetupError::None);
    velloran::Run run(
        velloran::makeSolver(densities.srcDensity, densities.tgtDensity, parameters()));
    const Solver &solver = run.solver();
    QString error;
    std::shared_ptr<Recorder> recorder =
        Recorder::start({folder, 5, true}, QStringLiteral("t"), &error);
    QVERIFY2(recorder, qPrintable(error));
    // Counted here, queued (a spy would record in the writer's thread).
    int finished = 0, failed = 0;
    connect(
        recorder.get(), &Recorder::finished, this, [&finished] { ++finished; },
        Qt::QueuedConnection);
    connect(
        recorder.get(), &Recorder::failed, this, [&failed] { ++failed; }, Qt::QueuedConnection);
    run.addObserver(recorder.get());
    QImage atFive;
    for (int step = 0; step <= 12; ++step) {
        QVERIFY(step == 0 ? run.begin().finite : run.step().finite);
        if (step == 5) {
            atFive = velloran::densityImage(*solver.m_density);
        }
        // The writer keeps up (nothing to skip here): each frame is on disk
        // before the next step is handed over, however busy the machine.
        if (step % 5 == 0) {
            QTRY_COMPARE_WITH_TIMEOUT(recorder->framesWritten(), step / 5 + 1, 60000);
        }
    }
    // The run's end hands over its last frame, velocity and all.
    SimFrame last;
    last.density = *solver.m_density;
    last.u = *solver.m_uCentre;
    last.v = *solver.m_vCentre;
    last.step = 12;
    recorder->runEnded(last);
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 30000);
    QCOMPARE(failed, 0);

    // Step 0, every fifth step and the last one; lines for every step; the
    // plot. As for a render of PNG frames: its frames and metrics replaced,
    // the note, the raw field and a name of no render kept.
    QCOMPARE(framesIn(folder),
             QStringList({"frame_000000.png", "frame_000005.png", "frame_000010.png",
                          "frame_000012.png", "frame_12.png"}));
    QCOMPARE(metricSteps(QDir(folder).filePath("metrics.csv")),
             (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // The smoke each step moved, as in the renderer's rows (none at step 0).
    const QList<double> advected = metricColumn(QDir(folder).filePath("metrics.csv"), 7);
    QCOMPARE(advected.value(0), 0.0);
    QVERIFY(std::all_of(advected.begin() + 1, advected.end(), [](double v) { return v > 0.0; }));
    QVERIFY(!QImage(QDir(folder).filePath("convergence.png")).isNull());
    QVERIFY(QFile::exists(QDir(folder).filePath("notes.txt")));
    QVERIFY(QFile::exists(QDir(folder).filePath("density_000004.npy")));
    QCOMPARE(QImage(QDir(folder).filePath("frame_000005.png"))
                 .convertToFormat(QImage::Format_Grayscale8),
             atFive);
    // With volumes asked for, each frame also as the renderer's .vdb.
    QCOMPARE(QDir(folder).entryList({QStringLiteral("frame_*.vdb")}, QDir::Files, QDir::Name),
             QStringList(
                 {"frame_000000.vdb", "frame_000005.vdb", "frame_000010.vdb", "frame_000012.vdb"}));
    QFile volume(QDir(folder).filePath("frame_000012.vdb"));
    QVERIFY(volume.open(QIODevice::ReadOnly));
    QCOMPARE(volume.readAll(),
             velloran::vdbBytes({last.density, last.u, last.v}, velloran::VdbSettings{}, &error));
    QCOMPARE(recorder->framesWritten(), 4);
    QCOMPARE(recorder->framesSkipped(), 0);

    // After the end nothing more is taken.
    run.step();
    QTest::qWait(50);
    QCOMPARE(metricSteps(QDir(folder).filePath("metrics.csv")).size(), 13);
}

void RecordTest::windowRecordsEveryRunWhileChecked() {
    const QString folder = m_dir.filePath("window");
    auto *record = child<QAction>("actionRecord");
    answerRecordDialog(folder, 3);
    record->trigger();
    QVERIFY(record->isChecked());
    QVERIFY(!QDir(folder).exists()); // probed, and left as it was until a run records

    startRun();
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 10, 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    const QString message = waitForRecordingStopped();
    const QList<int> steps = metricSteps(QDir(folder).filePath("metrics.csv"));
    QVERIFY(steps.size() >= 11);
    for (int k = 0; k < steps.size(); ++k) {
        QCOMPARE(steps[k], k);
    }
    const int last = steps.last();
    const QStringList frames = framesIn(folder);
    QCOMPARE(frames.first(), QStringLiteral("frame_000000.png"));
    QCOMPARE(frames.last(), QStringLiteral("frame_%1.png").arg(last, 6, 10, QLatin1Char('0')));
    for (const QString &name : frames) {
        const int step = name.mid(6, 6).toInt();
        QVERIFY2(step % 3 == 0 || step == last, qPrintable(name));
    }
    QVERIFY2(message.startsWith(
                 QStringLiteral("Recording stopped: %1 frames written to ").arg(frames.size())),
             qPrintable(message));
    QVERIFY(message.endsWith(QStringLiteral(", 0 skipped.")) ||
            message.contains(QStringLiteral("skipped")));

    // The frame of step 3 is the run's density at step 3, from the copy.
    velloran::RunDensities densities;
    velloran::prepareRun(m_disc, m_bar, false, &densities);
    auto solver = velloran::makeSolver(densities.srcDensity, densities.tgtDensity, parameters());
    for (int k = 0; k < 3; ++k) {
        solver->step();
    }
    QCOMPARE(QImage(QDir(folder).filePath("frame_000003.png"))
                 .convertToFormat(QImage::Format_Grayscale8),
             velloran::densityImage(*solver->m_density));

    // Still checked: the next run is recorded too and replaces the first's files.
    QVERIFY(record->isChecked());
    startRun();
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QVERIFY(!waitForRecordingStopped().isEmpty());
    const QList<int> second = metricSteps(QDir(folder).filePath("metrics.csv"));
    QCOMPARE(second.first(), 0);
    QCOMPARE(framesIn(folder).last(),
             QStringLiteral("frame_%1.png").arg(second.last(), 6, 10, QLatin1Char('0')));
}

void RecordTest::recordingStartedMidRunAndStoppedMidRun() {
    const QString folder = m_dir.filePath("midrun");
    auto *record = child<QAction>("actionRecord");
    child<QAction>("actionSpeed100")->trigger(); // slow enough to be mid-run
    startRun();
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 2, 60000);
    answerRecordDialog(folder, 1000);
    record->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(QDir(folder).filePath("metrics.csv")) && !framesIn(folder).isEmpty(), 60000);
    record->trigger(); // unchecked: the recording stops, the run goes on
    QVERIFY(!record->isChecked());
    QVERIFY(!waitForRecordingStopped().isEmpty());
    QVERIFY(m_window->simulation());
    const QList<int> steps = metricSteps(QDir(folder).filePath("metrics.csv"));
    QVERIFY(!steps.isEmpty());
    QVERIFY(steps.first() > 0); // from the step it began at, not from 0
    // The first step recorded has its frame.
    QCOMPARE(framesIn(folder).first(),
             QStringLiteral("frame_%1.png").arg(steps.first(), 6, 10, QLatin1Char('0')));
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QTest::qWait(100);
    QCOMPARE(metricSteps(QDir(folder).filePath("metrics.csv")), steps); // nothing after
}

void RecordTest::cancelledOrUnusableFolderRecordsNothing() {
    auto *record = child<QAction>("actionRecord");
    answerRecordDialog(QString(), 1); // cancel
    record->trigger();
    QVERIFY(!record->isChecked());

    // A file where the folder should be.
    const QString file = m_dir.filePath("not-a-folder");
    QFile plain(file);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    BoxSeen box;
    catchBox(this, &box);
    answerRecordDialog(file, 1);
    record->trigger();
    QCOMPARE(box.count, 1);
    QCOMPARE(box.title, QStringLiteral("Velloran"));
    QCOMPARE(box.text, QStringLiteral("Cannot record into %1.").arg(file));
    QVERIFY(!box.details.isEmpty());
    QVERIFY(!record->isChecked());

    // A folder a render (or another recording) is writing into.
    const QString busy = m_dir.filePath("busy");
    velloran::OutputFolder render(busy);
    QString error;
    QCOMPARE(render.prepare(&error), velloran::OutputFolder::Result::Ready);
    catchBox(this, &box);
    answerRecordDialog(busy, 1);
    record->trigger();
    QCOMPARE(box.count, 2);
    QCOMPARE(box.text, QStringLiteral("Cannot record into %1.").arg(busy));
    QVERIFY(!record->isChecked());

    // A FIFO under a frame's name is no earlier recording's frame to clear
    // away: refused before anything is written, and left as it is.
    const QString blocked = m_dir.filePath("blocked");
    QVERIFY(QDir().mkpath(blocked));
    const QString fifo = QDir(blocked).filePath("frame_000000.png");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!Recorder::start({blocked, 1, false}, QStringLiteral("t"), &error));
    QCOMPARE(error, QStringLiteral("could not write '%1': not a regular file").arg(fifo));
    QCOMPARE(QDir(blocked).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot),
             QStringList{"frame_000000.png"});
    struct stat status {};
    QVERIFY(::lstat(QFile::encodeName(fifo).constData(), &status) == 0 && S_ISFIFO(status.st_mode));

    startRun();
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation stopped."));
}

void RecordTest::failedWriteEndsTheRecordingNotTheRun() {
    // The folder disappears under the recording: the next frame cannot be
    // written. The box says so, Record is unchecked, the run goes on.
    const QString folder = m_dir.filePath("vanishing");
    auto *record = child<QAction>("actionRecord");
    child<QAction>("actionSpeed100")->trigger();
    answerRecordDialog(folder, 2);
    record->trigger();
    startRun();
    QTRY_VERIFY_WITH_TIMEOUT(framesIn(folder).size() >= 2, 60000);
    BoxSeen box;
    catchBox(this, &box);
    // (A file the writer creates meanwhile can make one attempt fail.)
    QTRY_VERIFY_WITH_TIMEOUT(QDir(folder).removeRecursively(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(box.count == 1, 60000);
    QCOMPARE(box.text, QStringLiteral("Recording stopped: a file could not be written."));
    QVERIFY2(box.details.contains(QStringLiteral("frame_")), qPrintable(box.details));
    QVERIFY(!record->isChecked());
    QVERIFY(m_window->simulation());
    const std::int64_t step = shownStep();
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() > step, 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
}

// A two-field colour run recorded from the window in every format: the
// files of each step it has in common with a render of the same
// configuration are the renderer's, byte for byte, and so are its rows but
// for the seconds.
void RecordTest::colourRunRecordsWhatTheRendererWrites() {
    const QString configuration = m_dir.filePath("colour.xml");
    QFile file(configuration);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        QStringLiteral("<configuration><parameters><vf>1</vf><vd>3</vd><vg>0</vg><sigma>1</sigma>"
                       "<dt>0.001</dt></parameters><scheme>sound</scheme><colour mode=\"dark\">"
                       "<field colour=\"#e03020\"><source>%1</source><target>%2</target></field>"
                       "<field colour=\"#2040c0\"><source>%2</source><target>%1</target></field>"
                       "</colour></configuration>")
            .arg(m_disc, m_bar)
            .toUtf8());
    file.close();
    answerFileDialog(this, configuration);
    child<QAction>("actionLoadConf")->trigger();

    const QString folder = m_dir.filePath("colour-window");
    whenModal<RecordDialog>(this, [folder](RecordDialog *dialog) {
        dialog->findChild<QLineEdit *>("lineEdit_RecordFolder")->setText(folder);
        dialog->findChild<QSpinBox *>("spinBox_RecordEvery")->setValue(4);
        for (const char *name :
             {"checkBox_RecordExr", "checkBox_RecordVdb", "checkBox_RecordNpy"}) {
            dialog->findChild<QCheckBox *>(name)->setChecked(true);
        }
        dialog->accept();
    });
    child<QAction>("actionRecord")->trigger();

    child<QAction>("actionSpeed100")->trigger(); // the writer keeps up on a busy machine
    child<QAction>("actionStart")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 13, 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QVERIFY(!waitForRecordingStopped().isEmpty());

    const QString rendered = m_dir.filePath("colour-render");
    QCOMPARE(velloran::renderMain({configuration, "--steps", "12", "--every", "4", "--format",
                                   "png,exr,vdb,npy", "--quiet", "--out", rendered}),
             0);

    const auto bytes = [](const QString &path) {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    QStringList common;
    for (const QString &name : QDir(rendered).entryList(
             {"frame_*.png", "frame_*.exr", "frame_*.vdb", "density.*.npy", "u_*.npy", "v_*.npy"},
             QDir::Files)) {
        const QString recorded = QDir(folder).filePath(name);
        if (QFile::exists(recorded)) {
            QVERIFY2(bytes(recorded) == bytes(QDir(rendered).filePath(name)), qPrintable(name));
            common << name;
        }
    }
    // Step 0 is always recorded: its picture and each field by colour.
    for (const char *name :
         {"frame_000000.png", "frame_000000.exr", "frame_000000.vdb", "density.e03020_000000.npy",
          "density.2040c0_000000.npy", "u_000000.npy"}) {
        QVERIFY2(common.contains(QLatin1String(name)), name);
    }
    QVERIFY(QImage(QDir(folder).filePath("frame_000000.png")).pixel(0, 0) == qRgb(255, 255, 255));

    const auto rows = [&bytes](const QString &dir) {
        QList<QByteArray> lines = bytes(QDir(dir).filePath("metrics.csv")).split('\n');
        for (QByteArray &line : lines) {
            QList<QByteArray> columns = line.split(',');
            if (columns.size() > 4) {
                columns.removeAt(4); // seconds
            }
            line = columns.join(',');
        }
        return lines.mid(0, 14); // the header and steps 0 to 12
    };
    QCOMPARE(rows(folder), rows(rendered));
    QVERIFY(rows(folder).first().endsWith(",distance.e03020,distance.2040c0,colour_error"));

    // Export frame... of the last step shown writes what the recording wrote
    // for it: the picture, the layers, a file per field.
    const QString last = QString::number(shownStep()).rightJustified(6, QLatin1Char('0'));
    const QString exported = m_dir.filePath("colour-export");
    QVERIFY(QDir().mkpath(exported));
    for (const QString &name : {"frame_" + last + ".png", "frame_" + last + ".exr",
                                "frame_" + last + ".vdb", QStringLiteral("any.npy")}) {
        answerFileDialog(this, QDir(exported).filePath(name));
        child<QAction>("actionExportFrame")->trigger();
    }
    const QStringList files = QDir(exported).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files,
             QStringList({"density.2040c0_" + last + ".npy", "density.e03020_" + last + ".npy",
                          "frame_" + last + ".exr", "frame_" + last + ".png",
                          "frame_" + last + ".vdb", "u_" + last + ".npy", "v_" + last + ".npy"}));
    for (const QString &name : files) {
        QVERIFY2(bytes(QDir(exported).filePath(name)) == bytes(QDir(folder).filePath(name)),
                 qPrintable(name));
    }
}

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    RecordTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "record_test.moc"
