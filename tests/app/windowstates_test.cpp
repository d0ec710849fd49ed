// The window's states around a run: Export frame... during a run saves the
// frame whose step its name carries, loading another configuration clears the
// last run's picture and status, "Start in reverse" is not offered for a
// keyframed configuration, and a recording leaves no lock file behind.

#include "glview.h"
#include "keyframes.h"
#include "mainwindow.h"
#include "metrics.h"
#include "recorddialog.h"
#include "runsetup.h"
#include "startup.h"
#include "testsupport.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>

using namespace testsupport;

class WindowStatesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void exportDuringARunSavesTheStepItsNameCarries();
    void anotherConfigurationClearsTheLastRun();
    void reverseIsNotOfferedForKeyframes();
    void recordingLeavesNoLockBehind();

private:
    template <typename T> T *child(const char *name) { return m_window->findChild<T *>(name); }
    std::int64_t shownStep();
    void runAndStop();
    QString configuration(const QString &name, const QByteArray &body);
    void load(const QString &path);

    QTemporaryDir m_dir;
    QString m_disc, m_bar;
    MainWindow *m_window = nullptr;
};

void WindowStatesTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_disc = m_dir.filePath("disc.png");
    m_bar = m_dir.filePath("bar.png");
    QVERIFY(writeDiscAndBar(m_disc, m_bar));
}

void WindowStatesTest::init() {
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
}

void WindowStatesTest::cleanup() {
    qDeleteAll(findChildren<QTimer *>());
    delete m_window;
    m_window = nullptr;
}

std::int64_t WindowStatesTest::shownStep() {
    const QString text = child<QLabel>("label_RunStatus")->text();
    return text.startsWith(QStringLiteral("step ")) ? text.section(' ', 1, 1).toLongLong() : -1;
}

void WindowStatesTest::runAndStop() {
    startRunIn(m_window, m_disc, m_bar, {1, 3, 0, 1, 0.001});
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
}

QString WindowStatesTest::configuration(const QString &name, const QByteArray &body) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

void WindowStatesTest::load(const QString &path) {
    answerFileDialog(this, path);
    child<QAction>("actionLoadConf")->trigger();
}

void WindowStatesTest::exportDuringARunSavesTheStepItsNameCarries() {
    startRunIn(m_window, m_disc, m_bar, {1, 3, 0, 1, 0.001});
    QTRY_VERIFY_WITH_TIMEOUT(shownStep() >= 1, 60000);
    // The dialog stays open until the window shows a later step.
    QString offered;
    const QString saved = m_dir.filePath("during.png");
    whenModal<QFileDialog>(this, [&](QFileDialog *dialog) {
        offered = QFileInfo(dialog->selectedFiles().value(0)).fileName();
        const std::int64_t named = offered.mid(6, 6).toLongLong();
        [[maybe_unused]] const bool later =
            QTest::qWaitFor([&] { return shownStep() > named; }, 60000);
        acceptFileName(dialog, saved);
    });
    child<QAction>("actionExportFrame")->trigger();
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QVERIFY2(offered.startsWith(QStringLiteral("frame_")), qPrintable(offered));
    const int step = offered.mid(6, 6).toInt();
    QVERIFY(shownStep() > step);

    velloran::RunDensities densities;
    QCOMPARE(velloran::prepareRun(m_disc, m_bar, false, &densities), velloran::RunSetupError::None);
    velloran::SimParameters parameters;
    parameters.values = {1, 3, 0, 1, 0.001};
    auto solver = velloran::makeSolver(densities.srcDensity, densities.tgtDensity, parameters);
    for (int k = 0; k < step; ++k) {
        solver->step();
    }
    QCOMPARE(QImage(saved).convertToFormat(QImage::Format_Grayscale8),
             velloran::densityImage(*solver->m_density));
}

void WindowStatesTest::anotherConfigurationClearsTheLastRun() {
    runAndStop();
    auto *status = child<QLabel>("label_RunStatus");
    auto *view = child<GLView>("glView");
    auto *exportFrame = child<QAction>("actionExportFrame");
    QVERIFY(!status->text().isEmpty());
    QCOMPARE(view->densityGrid().NumRows(), 18u);

    // Another root element changes nothing but the title, the picture included.
    load(configuration("other.xml", "<settings/>"));
    QCOMPARE(m_window->windowFilePath(), m_dir.filePath("other.xml"));
    QVERIFY(!status->text().isEmpty());
    QCOMPARE(view->densityGrid().NumRows(), 18u);

    load(configuration("next.xml", "<configuration><parameters><dt>0.002</dt></parameters>"
                                   "</configuration>"));
    QCOMPARE(m_window->windowFilePath(), m_dir.filePath("next.xml"));
    QVERIFY(status->text().isEmpty());
    QCOMPARE(view->densityGrid().NumRows(), 1u); // a black view
    QVERIFY(!exportFrame->isEnabled());
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Simulation stopped."));
}

void WindowStatesTest::reverseIsNotOfferedForKeyframes() {
    auto *action = child<QAction>("actionStartRev");
    auto *button = child<QPushButton>("pushButton_StartRev");
    const QString why = velloran::keyframesInReverseMessage();
    const QString keyed = configuration(
        "keyed.xml", "<configuration><images><source>" + m_disc.toUtf8() + "</source><target>" +
                         m_bar.toUtf8() + "</target></images><keyframes><target step=\"3\">" +
                         m_disc.toUtf8() + "</target></keyframes></configuration>");
    load(keyed);
    QVERIFY(!action->isEnabled() && !button->isEnabled());
    QCOMPARE(action->toolTip(), why);
    QCOMPARE(button->toolTip(), why);
    QEvent change(QEvent::LanguageChange); // the form's texts come back, the reason stays
    QCoreApplication::sendEvent(m_window, &change);
    QCOMPARE(button->toolTip(), why);
    QVERIFY(!button->isEnabled());

    // Through a run and back, still not offered.
    runAndStop();
    QVERIFY(!action->isEnabled());
    QVERIFY(child<QAction>("actionStart")->isEnabled());

    load(configuration("plain.xml", "<configuration/>"));
    QVERIFY(action->isEnabled() && button->isEnabled());
    QCOMPARE(action->toolTip(), QStringLiteral("Start simulation in reverse"));
    QCOMPARE(button->toolTip(), QStringLiteral("Start simulation in reverse"));
}

void WindowStatesTest::recordingLeavesNoLockBehind() {
    const QString folder = m_dir.filePath("recorded");
    QVERIFY(QDir().mkpath(folder));
    auto *record = child<QAction>("actionRecord");
    whenModal<RecordDialog>(this, [folder](RecordDialog *dialog) {
        dialog->findChild<QLineEdit *>("lineEdit_RecordFolder")->setText(folder);
        dialog->findChild<QSpinBox *>("spinBox_RecordEvery")->setValue(5);
        dialog->accept();
    });
    record->trigger();
    QVERIFY(record->isChecked());
    const auto entries = [&folder] {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    };
    QCOMPARE(entries(), QStringList()); // the probe left nothing

    QStringList messages;
    connect(m_window->statusBar(), &QStatusBar::messageChanged, this,
            [&messages](const QString &text) { messages << text; });
    runAndStop();
    QTRY_VERIFY_WITH_TIMEOUT(!messages.filter(QStringLiteral("Recording stopped: ")).isEmpty(),
                             60000);
    QVERIFY(!entries().isEmpty());
    QVERIFY2(!entries().contains(QStringLiteral(".velloran-render.lock")),
             qPrintable(entries().join(' ')));
}

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    WindowStatesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "windowstates_test.moc"
