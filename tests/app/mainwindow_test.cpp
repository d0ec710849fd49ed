// The window controller: start-up state, enabling rules, view-mode
// synchronisation, the More/Less panel, Swap, the status texts, and real runs
// on small generated images (start, snapshots, stop, close and quit mid-run).

#include "glview.h"
#include "mainwindow.h"
#include "simthread.h"
#include "startup.h"
#include "stepobserver.h"
#include "testsupport.h"

#include <QAction>
#include <QAtomicInt>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

using namespace testsupport;

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsIdleWithoutWarnings();
    void viewModeFollowsActionsAndRadioButtons();
    void moreLessShowsAndHidesPanels();
    void swapExchangesPaths();
    void rateAndStatusTexts();
    void languageChangeKeepsPanelText();
    void runStartsShowsSnapshotsAndStops();
    void reverseRunExchangesRoles();
    void closingDuringRunStopsQuietly();
    void quitDuringRunEndsLoopWithZero();
    void frameIntervalFollowsFrameCost();
    void liveViewIsPacedAndEndsOnLastStep();

private:
    template <typename T> T *child(const char *name) { return m_window->findChild<T *>(name); }
    void setPaths(const QString &source, const QString &target);
    void setParameters(double vf, double vd, double vg, double sigma, double dt);
    void verifyControls(QWidget *window, bool idle);
    bool waitForSnapshot();

    QTemporaryDir m_dir;
    QString m_disc, m_bar, m_topHalf;
    MainWindow *m_window = nullptr;
};

void MainWindowTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_disc = m_dir.filePath("disc.png");
    m_bar = m_dir.filePath("bar.png");
    m_topHalf = m_dir.filePath("top.png");
    QVERIFY(writeDiscAndBar(m_disc, m_bar));
    QVERIFY(writeImage(m_topHalf, 16, 16, [](int, int y) { return y < 8 ? 255 : 0; }));
}

void MainWindowTest::init() {
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
}

void MainWindowTest::cleanup() {
    delete m_window;
    m_window = nullptr;
}

void MainWindowTest::setPaths(const QString &source, const QString &target) {
    child<QLineEdit>("lineEdit_Src")->setText(source);
    child<QLineEdit>("lineEdit_Tgt")->setText(target);
}

void MainWindowTest::setParameters(double vf, double vd, double vg, double sigma, double dt) {
    child<QDoubleSpinBox>("doubleSpinBox_1")->setValue(vf);
    child<QDoubleSpinBox>("doubleSpinBox_2")->setValue(vd);
    child<QDoubleSpinBox>("doubleSpinBox_3")->setValue(vg);
    child<QDoubleSpinBox>("doubleSpinBox_4")->setValue(sigma);
    child<QDoubleSpinBox>("doubleSpinBox_5")->setValue(dt);
}

// Idle: everything but Stop. Running: Stop, and the controls that never change.
void MainWindowTest::verifyControls(QWidget *window, bool idle) {
    const char *editing[] = {"actionLoadConf",   "actionSaveConf",      "actionStart",
                             "actionStartRev",   "actionLoadSrc",       "actionLoadTgt",
                             "actionSwap",       "pushButton_LoadConf", "pushButton_SaveConf",
                             "pushButton_Start", "pushButton_StartRev", "lineEdit_Src",
                             "lineEdit_Tgt",     "pushButton_LoadSrc",  "pushButton_LoadTgt",
                             "pushButton_Swap",  "doubleSpinBox_1",     "doubleSpinBox_2",
                             "doubleSpinBox_3",  "doubleSpinBox_4",     "doubleSpinBox_5"};
    for (const char *name : editing) {
        QObject *object = window->findChild<QObject *>(name);
        QVERIFY2(object, name);
        QCOMPARE(object->property("enabled").toBool(), idle);
    }
    QCOMPARE(window->findChild<QAction *>("actionStop")->isEnabled(), !idle);
    QCOMPARE(window->findChild<QPushButton *>("pushButton_Stop")->isEnabled(), !idle);
    const char *always[] = {
        "radioButton_Density", "radioButton_Velocity", "actionDensity", "actionVelocity",
        "pushButton_More",     "actionAbout",          "actionAboutQt", "actionQuit"};
    for (const char *name : always) {
        QVERIFY2(window->findChild<QObject *>(name)->property("enabled").toBool(), name);
    }
}

bool MainWindowTest::waitForSnapshot() {
    auto *view = child<GLView>("glView");
    return QTest::qWaitFor([view] { return view->densityGrid().NumRows() == 18; }, 60000);
}

void MainWindowTest::startsIdleWithoutWarnings() {
    // A fresh window, built while any warning fails the test (the by-name
    // connection warns about slots without a matching child).
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 60000));

    QCOMPARE(window.windowFilePath(), QStringLiteral("Untitled"));
    QCOMPARE(window.windowHandle()->title(), QStringLiteral("Untitled"));
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Velloran"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Velloran"));
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
    QVERIFY(!window.simulation());

    verifyControls(&window, true);
    QVERIFY(!window.findChild<QGroupBox *>("groupBox_Images")->isVisible());
    QVERIFY(!window.findChild<QGroupBox *>("groupBox_Params")->isVisible());
    QCOMPARE(window.findChild<QPushButton *>("pushButton_More")->text(), QStringLiteral("More >>"));
    QCOMPARE(window.findChild<GLView *>("glView")->viewMode(), Density);
}

void MainWindowTest::viewModeFollowsActionsAndRadioButtons() {
    auto *density = child<QAction>("actionDensity");
    auto *velocity = child<QAction>("actionVelocity");
    auto *radioDensity = child<QRadioButton>("radioButton_Density");
    auto *radioVelocity = child<QRadioButton>("radioButton_Velocity");
    auto *view = child<GLView>("glView");
    auto expect = [&](ViewMode mode) {
        const bool isDensity = mode == Density;
        QCOMPARE(view->viewMode(), mode);
        QCOMPARE(radioDensity->isChecked(), isDensity);
        QCOMPARE(radioVelocity->isChecked(), !isDensity);
        QCOMPARE(density->isChecked(), isDensity);
        QCOMPARE(velocity->isChecked(), !isDensity);
    };

    velocity->trigger();
    expect(Velocity);
    velocity->trigger(); // already checked: stays so
    expect(Velocity);
    QTest::mouseClick(radioDensity, Qt::LeftButton);
    expect(Density);
    density->trigger();
    expect(Density);
    QTest::mouseClick(radioVelocity, Qt::LeftButton);
    expect(Velocity);

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window, 60000));
    QTest::keyClick(m_window, Qt::Key_D, Qt::ControlModifier);
    expect(Density);
    QTest::keyClick(m_window, Qt::Key_V, Qt::ControlModifier);
    expect(Velocity);
}

void MainWindowTest::moreLessShowsAndHidesPanels() {
    auto *more = child<QPushButton>("pushButton_More");
    QTest::mouseClick(more, Qt::LeftButton);
    QVERIFY(more->isChecked());
    QVERIFY(child<QGroupBox>("groupBox_Images")->isVisible());
    QVERIFY(child<QGroupBox>("groupBox_Params")->isVisible());
    QCOMPARE(more->text(), QStringLiteral("Less <<"));
    QTest::mouseClick(more, Qt::LeftButton);
    QVERIFY(!child<QGroupBox>("groupBox_Images")->isVisible());
    QVERIFY(!child<QGroupBox>("groupBox_Params")->isVisible());
    QCOMPARE(more->text(), QStringLiteral("More >>"));
}

void MainWindowTest::swapExchangesPaths() {
    setPaths(QStringLiteral("a.png"), QStringLiteral("b.png"));
    child<QAction>("actionSwap")->trigger();
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), QStringLiteral("b.png"));
    QCOMPARE(child<QLineEdit>("lineEdit_Tgt")->text(), QStringLiteral("a.png"));

    setPaths(QStringLiteral("only source"), QString());
    child<QPushButton>("pushButton_More")->click();
    QTest::mouseClick(child<QPushButton>("pushButton_Swap"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), QString());
    QCOMPARE(child<QLineEdit>("lineEdit_Tgt")->text(), QStringLiteral("only source"));
}

void MainWindowTest::rateAndStatusTexts() {
    auto rateText = [this](float fps) {
        QMetaObject::invokeMethod(m_window, "simThreadFpsUpdated", Q_ARG(float, fps));
        return m_window->statusBar()->currentMessage();
    };
    QCOMPARE(rateText(61.0119f), QStringLiteral("FPS: 61.01"));
    QCOMPARE(rateText(60.0f), QStringLiteral("FPS: 60"));
    QCOMPARE(rateText(12345.6f), QStringLiteral("FPS: 1.235e+04"));
    QCOMPARE(rateText(0.5f), QStringLiteral("FPS: 0.5"));
    QCOMPARE(rateText(0.0001f), QStringLiteral("FPS: 0.0001"));
    QCOMPARE(rateText(0.00001f), QStringLiteral("FPS: 1e-05"));

    // Without a run the three run slots change nothing.
    QMetaObject::invokeMethod(m_window, "simThreadStepCompleted");
    QMetaObject::invokeMethod(m_window, "simThreadFinished");
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("FPS: 1e-05"));
    child<QAction>("actionStop")->setEnabled(true);
    child<QAction>("actionStop")->trigger();
    QVERIFY(!m_window->simulation());
}

void MainWindowTest::languageChangeKeepsPanelText() {
    child<QPushButton>("pushButton_More")->click();
    child<QAction>("actionStart")->setText(QStringLiteral("changed"));
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(m_window, &change);
    QCOMPARE(child<QAction>("actionStart")->text(), QStringLiteral("Start"));
    QCOMPARE(child<QPushButton>("pushButton_More")->text(), QStringLiteral("Less <<"));
}

void MainWindowTest::runStartsShowsSnapshotsAndStops() {
    setPaths(m_disc, m_bar);
    setParameters(1, 3, 0, 1, 0.001);
    QStringList messages;
    connect(m_window->statusBar(), &QStatusBar::messageChanged, this,
            [&messages](const QString &text) { messages << text; });

    QTest::mouseClick(child<QPushButton>("pushButton_Start"), Qt::LeftButton);
    QVERIFY(m_window->simulation());
    QCOMPARE(messages.value(0), QStringLiteral("Simulation in progress..."));
    verifyControls(m_window, false);
    QCOMPARE(m_window->simulation()->parent(), m_window);
    QCOMPARE(m_window->simulation()->priority(), QThread::IdlePriority);

    QVERIFY(waitForSnapshot());
    const double mass = [this] {
        const Grid &d = child<GLView>("glView")->densityGrid();
        double sum = 0;
        for (std::uint32_t j = 1; j <= 16; ++j) {
            for (std::uint32_t i = 1; i <= 16; ++i) {
                sum += d(i, j);
            }
        }
        return sum;
    }();
    QVERIFY(mass > 10 && mass < 100); // smoke, and finite

    // The view mode can change during a run; Stop twice is harmless.
    child<QAction>("actionVelocity")->trigger();
    const QString before = m_window->statusBar()->currentMessage();
    child<QAction>("actionStop")->trigger();
    // Stopping: nothing changes until the worker's loop has ended.
    QVERIFY(m_window->simulation());
    QVERIFY(m_window->simulation()->stopRequested());
    QCOMPARE(m_window->statusBar()->currentMessage(), before);
    verifyControls(m_window, false);
    QTest::mouseClick(child<QPushButton>("pushButton_Stop"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation stopped."));
    QCOMPARE(messages.count(QStringLiteral("Simulation stopped.")), 1);
    verifyControls(m_window, true);
    // The last picture stays and can still be switched.
    QCOMPARE(child<GLView>("glView")->densityGrid().NumRows(), 18u);
    child<QAction>("actionDensity")->trigger();
    QCOMPARE(child<GLView>("glView")->viewMode(), Density);

    // A second run from the same window.
    child<QAction>("actionStart")->trigger();
    QVERIFY(m_window->simulation());
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
}

void MainWindowTest::reverseRunExchangesRoles() {
    // With every parameter at rest the density stays what the run started
    // from, so the snapshot shows which image became the source density.
    setPaths(m_topHalf, m_bar);
    setParameters(0, 0, 0, 1, 0);
    auto *view = child<GLView>("glView");

    child<QAction>("actionStart")->trigger();
    QVERIFY(waitForSnapshot());
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    // The image's top rows are the grid's top rows. (Transport leaves the
    // outermost ring of interior cells empty, so look one cell further in.)
    QVERIFY(view->densityGrid()(2, 15) > 0.1);
    QCOMPARE(view->densityGrid()(2, 2), 0.0);

    view->setGrids(Grid(1, 1), Grid(1, 1), Grid(1, 1));
    child<QAction>("actionStartRev")->trigger();
    QVERIFY(waitForSnapshot());
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    // The bar fills the source density now: nothing left of it at the top left.
    QCOMPARE(view->densityGrid()(2, 15), 0.0);
    QVERIFY(view->densityGrid()(8, 2) > 0.1);
    QVERIFY(view->densityGrid()(8, 15) > 0.1);
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), m_topHalf);
    QCOMPARE(child<QLineEdit>("lineEdit_Tgt")->text(), m_bar);
}

void MainWindowTest::closingDuringRunStopsQuietly() {
    setPaths(m_disc, m_bar);
    setParameters(1, 3, 0, 1, 0.001);
    child<QAction>("actionStart")->trigger();
    QPointer<SimThread> run = m_window->simulation();
    QVERIFY(run);
    QVERIFY(waitForSnapshot());
    QStringList messages;
    connect(m_window->statusBar(), &QStatusBar::messageChanged, this,
            [&messages](const QString &text) { messages << text; });

    m_window->close();
    delete m_window;
    m_window = nullptr;
    QVERIFY(run.isNull()); // stopped, waited for and destroyed
    QCoreApplication::processEvents();
    QVERIFY(!messages.contains(QStringLiteral("Simulation stopped.")));
}

void MainWindowTest::quitDuringRunEndsLoopWithZero() {
    setPaths(m_disc, m_bar);
    setParameters(1, 3, 0, 1, 0.001);
    child<QAction>("actionStart")->trigger();
    QVERIFY(waitForSnapshot());
    QTimer::singleShot(20, child<QAction>("actionQuit"), &QAction::trigger);
    QCOMPARE(QCoreApplication::exec(), 0);
    QPointer<SimThread> run = m_window->simulation();
    QVERIFY(run);
    delete m_window;
    m_window = nullptr;
    QVERIFY(run.isNull());
}

void MainWindowTest::frameIntervalFollowsFrameCost() {
    // About 60 frames a second while frames are cheap; an expensive frame
    // keeps the GUI thread's share of the time at a sixteenth, up to a second.
    QCOMPARE(MainWindow::frameInterval(0.0), 16);
    QCOMPARE(MainWindow::frameInterval(1.0), 16);
    QCOMPARE(MainWindow::frameInterval(1.6), 26);
    QCOMPARE(MainWindow::frameInterval(2.0), 32);
    QCOMPARE(MainWindow::frameInterval(4.25), 68);
    QCOMPARE(MainWindow::frameInterval(250.0), 1000);
    QCOMPARE(MainWindow::frameInterval(std::numeric_limits<double>::infinity()), 1000);
    QCOMPARE(MainWindow::frameInterval(std::numeric_limits<double>::quiet_NaN()), 16);
    QCOMPARE(MainWindow::frameInterval(-3.0), 16);
}

void MainWindowTest::liveViewIsPacedAndEndsOnLastStep() {
    // A small run steps far faster than frames are shown. Step notifications
    // never pile up in the GUI's queue, frames are no more frequent than the
    // interval allows, and after Stop the view holds the last published step.
    setPaths(m_disc, m_bar);
    setParameters(1, 3, 0, 1, 0.001);
    auto *view = child<GLView>("glView");
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    view->installEventFilter(&counter);

    child<QAction>("actionStart")->trigger();
    SimThread *run = m_window->simulation();
    QVERIFY(run);
    // Counted in the worker as posted, and here as handled (queued after the
    // window's own slot). The final frame is read once the run has ended.
    QAtomicInt posted = 0;
    connect(
        run, &SimThread::stepCompleted, this, [&posted] { posted.fetchAndAddRelaxed(1); },
        Qt::DirectConnection);
    int handled = 0, backlog = 0;
    connect(run, &SimThread::stepCompleted, this, [&] {
        ++handled;
        backlog = std::max(backlog, posted.loadRelaxed() - handled);
    });
    // The final frame as the worker hands it over when the run ends (taking it
    // from the thread here would take the window's notification with it).
    struct LastFrame : velloran::StepObserver {
        Grid density{1, 1};
        bool stepFinished(const Solver &, const velloran::StepReport &, std::string *) override {
            return true;
        }
        void runEnded(const SimFrame &lastFinite) override { density = lastFinite.density; }
    };
    const auto last = std::make_shared<LastFrame>();
    run->setStepObserver(last);

    QVERIFY(waitForSnapshot());
    const int paintsBefore = counter.paints;
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1500);
    const qint64 elapsed = clock.elapsed();
    const int paints = counter.paints - paintsBefore;
    QVERIFY2(paints <= elapsed / MainWindow::kFrameIntervalMs + 3,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paints).arg(elapsed)));

    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    view->removeEventFilter(&counter);
    QVERIFY(handled > 0);
    QVERIFY2(backlog <= 1, qPrintable(QString::number(backlog)));
    const Grid &shown = view->densityGrid();
    QCOMPARE(shown.NumRows(), 18u);
    QCOMPARE(last->density.NumRows(), 18u);
    QVERIFY(std::memcmp(shown.data(), last->density.data(), sizeof(double) * 18 * 18) == 0);
}

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "mainwindow_test.moc"
