// Watching and steering a run: the status widget, Pause, the Speed submenu,
// the report of an unstable run, and where the added commands sit in the
// menus and the tool bar.

#include "exrframe.h"
#include "glview.h"
#include "mainwindow.h"
#include "metrics.h"
#include "runstatus.h"
#include "simthread.h"
#include "startup.h"
#include "testsupport.h"
#include "vdbframe.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include <cmath>
#include <limits>

using namespace testsupport;

class RunControlTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void statusTextFormats();
    void addedCommandsSitInMenusAndToolBar();
    void statusWidgetFollowsTheFrames();
    void pauseHoldsTheRunUntilResumedOrStopped();
    void speedAppliesAtOnceAndToLaterRuns();
    void unstableRunIsReportedAndKeepsItsLastFiniteFrame();
    void exportFrameWritesTheRenderersFrame();

private:
    template <typename T> T *child(const char *name) { return m_window->findChild<T *>(name); }
    void startRun(double vf, double vd, double vg, double sigma, double dt);
    std::int64_t shownStep();
    std::int64_t holdRun();

    QTemporaryDir m_dir;
    QString m_disc, m_bar;
    MainWindow *m_window = nullptr;
};

void RunControlTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_disc = m_dir.filePath("disc.png");
    m_bar = m_dir.filePath("bar.png");
    QVERIFY(writeDiscAndBar(m_disc, m_bar));
}

void RunControlTest::init() {
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
}

void RunControlTest::cleanup() {
    qDeleteAll(findChildren<QTimer *>());
    delete m_window;
    m_window = nullptr;
}

void RunControlTest::startRun(double vf, double vd, double vg, double sigma, double dt) {
    startRunIn(m_window, m_disc, m_bar, {vf, vd, vg, sigma, dt});
}

// The step the status widget shows, or -1 without one.
std::int64_t RunControlTest::shownStep() {
    const QString text = child<QLabel>("label_RunStatus")->text();
    if (!text.startsWith(QStringLiteral("step "))) {
        return -1;
    }
    return text.section(QLatin1Char(' '), 1, 1).toLongLong();
}

void RunControlTest::statusTextFormats() {
    QCOMPARE(runStatusText(1234, 0.41249, 0, 1), QStringLiteral("step 1234 · distance 0.412"));
    QCOMPARE(runStatusText(0, 1.0, 0, 1), QStringLiteral("step 0 · distance 1.000"));
    QCOMPARE(runStatusText(9, 0.0005, 1, 3),
             QStringLiteral("step 9 · distance 0.001 · target 2/3"));
    QCOMPARE(runStatusText(12, std::numeric_limits<double>::quiet_NaN(), 0, 1), QString());
    // What a run that blew up can leave: a word, or a number that fits.
    QCOMPARE(runStatusText(3, std::numeric_limits<double>::infinity(), 0, 1),
             QStringLiteral("step 3 · distance unstable"));
    QCOMPARE(runStatusText(4, 1.5e63, 0, 1), QStringLiteral("step 4 · distance 1.500e+63"));
    QCOMPARE(runStatusText(5, 9999.9994, 0, 1), QStringLiteral("step 5 · distance 9999.999"));
    QCOMPARE(runStatusText(6, 12345.6, 0, 1), QStringLiteral("step 6 · distance 1.235e+04"));
}

static QStringList entryNames(const QList<QAction *> &actions) {
    QStringList names;
    for (QAction *action : actions) {
        names << (action->isSeparator() ? QStringLiteral("|")
                  : action->menu()      ? action->menu()->objectName()
                                        : action->objectName());
    }
    return names;
}

void RunControlTest::addedCommandsSitInMenusAndToolBar() {
    QCOMPARE(entryNames(child<QMenu>("menuConfiguration")->actions()),
             QStringList({"actionLoadConf", "menuOpenExample", "actionSaveConf", "|",
                          "actionExportFrame", "actionRecord", "|", "actionQuit"}));
    QCOMPARE(entryNames(child<QMenu>("menuControl")->actions()),
             QStringList({"actionStart", "actionPause", "actionStop", "actionStartRev", "|",
                          "actionLiteralScheme", "actionSoundScheme"}));
    QCOMPARE(entryNames(child<QMenu>("menuView")->actions()),
             QStringList({"actionDensity", "actionVelocity", "|", "menuSpeed"}));
    QCOMPARE(entryNames(child<QToolBar>("mainToolBar")->actions()),
             QStringList({"actionLoadConf", "actionSaveConf", "|", "actionStart", "actionPause",
                          "actionStop", "actionStartRev", "|", "actionDensity", "actionVelocity"}));

    auto *pause = child<QAction>("actionPause");
    QCOMPARE(pause->text(), QStringLiteral("Pause"));
    QCOMPARE(pause->shortcut().toString(), QStringLiteral("Ctrl+P"));
    QVERIFY(pause->isCheckable());
    QVERIFY(!pause->icon().isNull());
    QVERIFY(QFile::exists(QStringLiteral(":/res/pause.png")));
    QCOMPARE(QImage(QStringLiteral(":/res/pause.png")).size(), QSize(16, 16));
    QCOMPARE(child<QAction>("actionExportFrame")->text(), QStringLiteral("Export frame..."));
    QCOMPARE(child<QAction>("actionExportFrame")->shortcut().toString(), QStringLiteral("Ctrl+E"));
    QCOMPARE(child<QAction>("actionRecord")->text(), QStringLiteral("Record..."));
    QVERIFY(child<QAction>("actionRecord")->isCheckable());

    auto *speed = child<QMenu>("menuSpeed");
    QCOMPARE(speed->title(), QStringLiteral("Speed"));
    QStringList texts;
    for (QAction *action : speed->actions()) {
        texts << action->text();
        QVERIFY(action->isCheckable());
        QCOMPARE(action->isChecked(), texts.size() == 1);
    }
    QCOMPARE(texts, QStringList({"Full speed", "1000 steps/s", "300 steps/s", "100 steps/s",
                                 "30 steps/s"}));
    QVERIFY(speed->actions().first()->actionGroup()->isExclusive());

    // Idle: nothing to pause; the speed can be chosen any time.
    QVERIFY(!pause->isEnabled());
    QVERIFY(speed->actions().last()->isEnabled());

    // A language change gives the added commands their texts back.
    pause->setText(QStringLiteral("x"));
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(m_window, &change);
    QCOMPARE(pause->text(), QStringLiteral("Pause"));
}

void RunControlTest::statusWidgetFollowsTheFrames() {
    auto *status = child<QLabel>("label_RunStatus");
    QVERIFY(status->text().isEmpty());
    startRun(1, 3, 0, 1, 0.001);
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);
    QVERIFY2(status->text().contains(
                 QRegularExpression(QStringLiteral("^step \\d+ · distance \\d+\\.\\d{3}$"))),
             qPrintable(status->text()));
    // The run's messages stay in the status bar next to it (the step rate
    // follows two seconds in, which a busy machine may already have reached).
    const QString message = m_window->statusBar()->currentMessage();
    QVERIFY2(message == QStringLiteral("Simulation in progress...") ||
                 message.startsWith(QStringLiteral("FPS: ")),
             qPrintable(message));
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    // The picture and its step stay after the run.
    QVERIFY(shownStep() >= 1);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation stopped."));
}

void RunControlTest::pauseHoldsTheRunUntilResumedOrStopped() {
    auto *pause = child<QAction>("actionPause");
    startRun(1, 3, 0, 1, 0.001);
    QVERIFY(pause->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window, 60000));
    QTest::keyClick(m_window, Qt::Key_P, Qt::ControlModifier);
    QVERIFY(pause->isChecked());
    QVERIFY(m_window->simulation()->isPaused());
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation paused."));
    // The frame of the step it holds at arrives, then the picture stands still.
    QTRY_VERIFY_WITH_TIMEOUT(m_window->simulation()->isHolding(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation()->notificationPending(), 60000);
    const std::int64_t held = shownStep();
    QTest::qWait(200);
    QCOMPARE(shownStep(), held);
    QVERIFY(m_window->simulation()->isRunning());

    pause->trigger();
    QVERIFY(!m_window->simulation()->isPaused());
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation in progress..."));
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() > held, 60000);

    // Stop while paused ends the run as Stop does.
    pause->trigger();
    QVERIFY(m_window->simulation()->isPaused());
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation stopped."));
    QVERIFY(!pause->isChecked());
    QVERIFY(!pause->isEnabled());
    pause->trigger(); // disabled: nothing happens
    QVERIFY(!pause->isChecked());
}

// Pauses the run and returns the step it holds at, once that frame is shown.
std::int64_t RunControlTest::holdRun() {
    SimThread *run = m_window->simulation();
    child<QAction>("actionPause")->setChecked(true);
    if (!QTest::qWaitFor([run] { return run->isHolding() && !run->notificationPending(); },
                         60000)) {
        return -1;
    }
    return shownStep();
}

void RunControlTest::speedAppliesAtOnceAndToLaterRuns() {
    // Step counts are bounded from above by the time that passed (a busy
    // machine can only lower them); the held step of a paused run is exact.
    auto *speed = child<QMenu>("menuSpeed");
    QAction *full = speed->actions().first();
    QAction *slowest = speed->actions().last();
    QCOMPARE(slowest->data().toDouble(), 30.0);
    auto *pause = child<QAction>("actionPause");

    startRun(1, 3, 0, 1, 0.001);
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);
    slowest->trigger();
    QVERIFY(slowest->isChecked() && !full->isChecked());
    const std::int64_t before = holdRun();
    QElapsedTimer clock;
    clock.start();
    pause->setChecked(false);
    QTest::qWait(500);
    // Read once the pause is asked for: the steps counted are those started
    // before it, however long this thread was kept from running meanwhile.
    child<QAction>("actionPause")->setChecked(true);
    const qint64 elapsed = clock.elapsed();
    const std::int64_t after = holdRun();
    QVERIFY2(after - before <= 2 + 30 * elapsed / 1000,
             qPrintable(QStringLiteral("%1 steps in %2 ms").arg(after - before).arg(elapsed)));

    // Full speed again, at once.
    full->trigger();
    pause->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() - after > 200, 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);

    // A later run starts at the chosen speed.
    slowest->trigger();
    clock.restart();
    child<QAction>("actionStart")->trigger();
    QTest::qWait(500);
    const std::int64_t held = holdRun();
    const qint64 sinceStart = clock.elapsed();
    QVERIFY(held >= 1);
    QVERIFY2(held <= 2 + 30 * sinceStart / 1000,
             qPrintable(QStringLiteral("%1 steps in %2 ms").arg(held).arg(sinceStart)));
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
}

void RunControlTest::unstableRunIsReportedAndKeepsItsLastFiniteFrame() {
    // Full gathering with the largest time step blows up within a few steps.
    BoxSeen box;
    catchBox(this, &box);
    startRun(1000, 0, 1, 1, 1);
    QVERIFY(m_window->simulation());
    QTRY_VERIFY_WITH_TIMEOUT(box.count == 1, 60000);
    QCOMPARE(box.title, QStringLiteral("Velloran"));
    const QRegularExpression expected(
        QStringLiteral("^The simulation became unstable at step (\\d+)\\. Try a smaller time "
                       "step or a weaker driving force\\.$"));
    const QRegularExpressionMatch match = expected.match(box.text);
    QVERIFY2(match.hasMatch(), qPrintable(box.text));
    const std::int64_t unstableAt = match.captured(1).toLongLong();
    QVERIFY(unstableAt >= 1);

    // The run ended as if stopped; the view keeps the last finite step.
    QVERIFY(!m_window->simulation());
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation stopped."));
    QVERIFY(child<QAction>("actionStart")->isEnabled());
    QCOMPARE(shownStep(), unstableAt - 1);
    const Grid &shown = child<GLView>("glView")->densityGrid();
    QCOMPARE(shown.NumRows(), 18u);
    for (std::uint32_t j = 0; j < 18; ++j) {
        for (std::uint32_t i = 0; i < 18; ++i) {
            QVERIFY(std::isfinite(shown(i, j)));
        }
    }
}

void RunControlTest::exportFrameWritesTheRenderersFrame() {
    auto *exportAction = child<QAction>("actionExportFrame");
    QVERIFY(!exportAction->isEnabled()); // nothing shown yet
    startRun(1, 3, 0, 1, 0.001);
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);
    QVERIFY(exportAction->isEnabled());
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QVERIFY(exportAction->isEnabled()); // the last frame stays
    const std::int64_t step = shownStep();
    auto *view = child<GLView>("glView");

    // PNG: the renderer's 8-bit grey frame of the density shown; the dialog
    // offers the renderer's name for the step, and a name without a suffix
    // gets the filter's.
    DialogSeen dialog;
    answerFileDialog(this, m_dir.filePath("shot"), &dialog);
    exportAction->trigger();
    QCOMPARE(dialog.caption, QStringLiteral("Export frame"));
    QCOMPARE(QFileInfo(dialog.offered).fileName(),
             QStringLiteral("frame_%1.png").arg(step, 6, 10, QLatin1Char('0')));
    QCOMPARE(dialog.filters, QStringList({"PNG Image Files (*.png)", "OpenEXR Images (*.exr)",
                                          "OpenVDB Volumes (*.vdb)", "Raw Fields (*.npy)"}));
    const QImage written(m_dir.filePath("shot.png"));
    QCOMPARE(written.size(), QSize(16, 16));
    QCOMPARE(written.convertToFormat(QImage::Format_Grayscale8),
             velloran::densityImage(view->densityGrid()));

    // EXR: the renderer's compositing frame, byte for byte.
    answerFileDialog(this, m_dir.filePath("shot.exr"));
    exportAction->trigger();
    QFile exr(m_dir.filePath("shot.exr"));
    QVERIFY(exr.open(QIODevice::ReadOnly));
    QString error;
    QCOMPARE(exr.readAll(), velloran::exrBytes({view->densityGrid(), view->uGrid(), view->vGrid()},
                                               velloran::SmokeColour{}, &error));
    // OpenVDB: the renderer's volume frame, byte for byte.
    answerFileDialog(this, m_dir.filePath("shot.vdb"));
    exportAction->trigger();
    QFile vdb(m_dir.filePath("shot.vdb"));
    QVERIFY(vdb.open(QIODevice::ReadOnly));
    QCOMPARE(vdb.readAll(), velloran::vdbBytes({view->densityGrid(), view->uGrid(), view->vGrid()},
                                               velloran::VdbSettings{}, &error));
    // Raw fields: the renderer's files of the step, whatever the name chosen.
    answerFileDialog(this, m_dir.filePath("raw/shot.npy"));
    QVERIFY(QDir().mkpath(m_dir.filePath("raw")));
    exportAction->trigger();
    const QString number = QString::number(step).rightJustified(6, QLatin1Char('0'));
    QCOMPARE(QDir(m_dir.filePath("raw")).entryList(QDir::Files, QDir::Name),
             QStringList(
                 {"density_" + number + ".npy", "u_" + number + ".npy", "v_" + number + ".npy"}));
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Exported density_%1.npy, u_%1.npy, v_%1.npy to %2.")
                 .arg(number, QDir::toNativeSeparators(m_dir.filePath("raw"))));

    // A folder that does not exist: the box says so, nothing is written.
    BoxSeen box;
    catchBox(this, &box);
    answerFileDialog(this, m_dir.filePath("missing/shot.png"));
    exportAction->trigger();
    QCOMPARE(box.count, 1);
    QCOMPARE(box.title, QStringLiteral("Velloran"));
    QCOMPARE(box.text, QStringLiteral("Could not export the frame."));
    QVERIFY(!box.details.isEmpty());
}

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    RunControlTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "runcontrol_test.moc"
