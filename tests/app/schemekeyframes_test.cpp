// The scheme choice and keyframed runs in the window: the Control menu's two
// schemes (idle only, saved and loaded with the configuration), runs of a
// configuration with keyframes (the status widget counts the targets), and
// every refusal: a keyframe image that is missing or of another size, a
// keyframe the file itself gets wrong. The obstacle image: saved, loaded and
// cleared with the configuration, drawn over the run, and refused where the
// run cannot have it.

#include "glview.h"
#include "mainwindow.h"
#include "simthread.h"
#include "startup.h"
#include "testsupport.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>

using namespace testsupport;

class SchemeKeyframesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void schemesAreExclusiveAndIdleOnly();
    void schemeIsSavedAndLoaded();
    void keyframedRunCountsItsTargets();
    void keyframesAreWrittenBack();
    void keyframedRunRefusals_data();
    void keyframedRunRefusals();
    void badKeyframeInTheFileIsExplained();
    void obstaclesTravelWithTheConfiguration();
    void obstacleRunsAndRefusals();

private:
    template <typename T> T *child(const char *name) { return m_window->findChild<T *>(name); }
    QString writeFile(const QString &name, const QByteArray &content);
    QString configuration(const QString &name, const QByteArray &extra);
    void load(const QString &path, BoxSeen *seen);
    QByteArray save(const QString &name);
    bool soundChosen() { return child<QAction>("actionSoundScheme")->isChecked(); }

    QTemporaryDir m_dir;
    MainWindow *m_window = nullptr;
};

void SchemeKeyframesTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    QVERIFY(writeDiscAndBar("disc.png", "bar.png"));
    QVERIFY(writeImage("band.png", 16, 16, [](int, int y) { return y >= 6 && y < 10 ? 255 : 0; }));
    QVERIFY(writeImage("small.png", 8, 8, [](int, int) { return 255; }));
    // White is solid: the leftmost two columns, or a wall across the top that
    // cuts the bar's upper end off from the disc.
    const auto grey = [](const char *name, const std::function<bool(int, int)> &solid) {
        QImage image(16, 16, QImage::Format_Grayscale8);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                image.setPixel(x, y, solid(x, y) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
            }
        }
        return image.save(QString::fromLatin1(name));
    };
    QVERIFY(grey("wall.png", [](int x, int) { return x < 2; }));
    QVERIFY(grey("pocket.png", [](int, int y) { return y == 1; }));
}

void SchemeKeyframesTest::init() {
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
}

void SchemeKeyframesTest::cleanup() {
    qDeleteAll(findChildren<QTimer *>());
    delete m_window;
    m_window = nullptr;
}

QString SchemeKeyframesTest::writeFile(const QString &name, const QByteArray &content) {
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(name));
    }
    return file.fileName();
}

// A configuration of a 16 x 16 run from the disc to the bar, with `extra`
// (a <scheme> or <keyframes> element) after the images.
QString SchemeKeyframesTest::configuration(const QString &name, const QByteArray &extra) {
    return writeFile(name, "<?xml version=\"1.0\"?>\n<configuration>\n"
                           "<parameters><vf>1</vf><vd>3</vd><vg>0</vg><sigma>1</sigma>"
                           "<dt>0.001</dt></parameters>\n"
                           "<images><source>disc.png</source><target>bar.png</target></images>\n" +
                               extra + "\n</configuration>\n");
}

void SchemeKeyframesTest::load(const QString &path, BoxSeen *seen) {
    catchBox(this, seen);
    answerFileDialog(this, path);
    child<QAction>("actionLoadConf")->trigger();
}

QByteArray SchemeKeyframesTest::save(const QString &name) {
    answerFileDialog(this, m_dir.filePath(name));
    child<QAction>("actionSaveConf")->trigger();
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SchemeKeyframesTest::schemesAreExclusiveAndIdleOnly() {
    auto *literal = child<QAction>("actionLiteralScheme");
    auto *sound = child<QAction>("actionSoundScheme");
    QCOMPARE(literal->text(), QStringLiteral("Literal scheme"));
    QCOMPARE(sound->text(), QStringLiteral("Sound scheme"));
    QVERIFY(literal->isChecked() && !sound->isChecked());
    QStringList control;
    for (QAction *action : child<QMenu>("menuControl")->actions()) {
        control << (action->isSeparator() ? QStringLiteral("|") : action->objectName());
    }
    QCOMPARE(control, QStringList({"actionStart", "actionPause", "actionStop", "actionStartRev",
                                   "|", "actionLiteralScheme", "actionSoundScheme"}));
    sound->trigger();
    QVERIFY(sound->isChecked() && !literal->isChecked());
    sound->trigger(); // exclusive: stays chosen
    QVERIFY(sound->isChecked());

    BoxSeen seen;
    load(configuration("plain.xml", ""), &seen);
    QCOMPARE(seen.count, 0);
    QVERIFY(literal->isChecked()); // a file without <scheme> is a literal run
    sound->trigger();
    child<QAction>("actionStart")->trigger();
    QVERIFY(m_window->simulation());
    QVERIFY(!literal->isEnabled() && !sound->isEnabled());
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QVERIFY(literal->isEnabled() && sound->isEnabled());
    QVERIFY(sound->isChecked());
}

void SchemeKeyframesTest::schemeIsSavedAndLoaded() {
    // Literal: no <scheme> element, the file as it always was.
    BoxSeen seen;
    load(configuration("start.xml", ""), &seen);
    QVERIFY(!save("literal.xml").contains("<scheme>"));
    child<QAction>("actionSoundScheme")->trigger();
    QVERIFY(save("sound.xml").contains("<scheme>sound</scheme>"));

    child<QAction>("actionLiteralScheme")->trigger();
    load(m_dir.filePath("sound.xml"), &seen);
    QCOMPARE(seen.count, 0);
    QVERIFY(soundChosen());
    load(configuration("explicit.xml", "<scheme>literal</scheme>"), &seen);
    QVERIFY(!soundChosen());

    // An unknown word is refused, with the reason, and changes nothing.
    child<QAction>("actionSoundScheme")->trigger();
    load(configuration("unknown.xml", "<scheme>loud</scheme>"), &seen);
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.text, QStringLiteral("Invalid configuration file."));
    QVERIFY2(seen.details.contains(QStringLiteral("loud")), qPrintable(seen.details));
    QVERIFY(soundChosen());
}

void SchemeKeyframesTest::keyframedRunCountsItsTargets() {
    BoxSeen seen;
    load(configuration("keyed.xml", "<scheme>sound</scheme><keyframes>"
                                    "<target step=\"3\">band.png</target></keyframes>"),
         &seen);
    QCOMPARE(seen.count, 0);
    auto *status = child<QLabel>("label_RunStatus");
    child<QAction>("actionStart")->trigger();
    QVERIFY(m_window->simulation());
    QTRY_VERIFY_WITH_TIMEOUT(status->text().endsWith(QStringLiteral(" · target 2/2")), 60000);
    QVERIFY2(status->text().startsWith(QStringLiteral("step ")), qPrintable(status->text()));
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);

    // A configuration without keyframes ends them: one target, no count.
    load(configuration("plain.xml", ""), &seen);
    child<QAction>("actionStart")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("step ")), 60000);
    QVERIFY2(!status->text().contains(QStringLiteral("target")), qPrintable(status->text()));
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
}

void SchemeKeyframesTest::keyframesAreWrittenBack() {
    const QByteArray keyframes = "<keyframes>\n"
                                 "        <target step=\"40\">band.png</target>\n"
                                 "        <target step=\"90\" blend=\"20\">bar.png</target>\n"
                                 "    </keyframes>";
    BoxSeen seen;
    load(configuration("keyed.xml", keyframes), &seen);
    const QByteArray saved = save("again.xml");
    QVERIFY2(saved.contains(keyframes), saved.constData());
    load(configuration("plain.xml", ""), &seen);
    QVERIFY(!save("plain-again.xml").contains("<keyframes>"));
}

void SchemeKeyframesTest::keyframedRunRefusals_data() {
    QTest::addColumn<QByteArray>("keyframes");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing image")
        << QByteArray("<target step=\"5\">band.png</target><target step=\"9\">gone.png</target>")
        << "Could not load the keyframe image gone.png (step 9).";
    QTest::newRow("other size")
        << QByteArray("<target step=\"5\">small.png</target>")
        << "The keyframe image small.png (step 5) is 8 x 8 pixels; the target image is 16 x 16.";
}

// (Reverse is not offered for keyframes at all: see the window-state tests.)
void SchemeKeyframesTest::keyframedRunRefusals() {
    QFETCH(QByteArray, keyframes);
    QFETCH(QString, message);
    BoxSeen seen;
    load(configuration("refused.xml", "<keyframes>" + keyframes + "</keyframes>"), &seen);
    QCOMPARE(seen.count, 0);
    catchBox(this, &seen);
    child<QAction>("actionStart")->trigger();
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.title, QStringLiteral("Velloran"));
    QCOMPARE(seen.text, message);
    QVERIFY(!m_window->simulation());
    QVERIFY(child<QAction>("actionStart")->isEnabled());
}

void SchemeKeyframesTest::badKeyframeInTheFileIsExplained() {
    child<QLineEdit>("lineEdit_Src")->setText(QStringLiteral("kept.png"));
    BoxSeen seen;
    load(configuration("bad.xml", "<keyframes><target step=\"9\">band.png</target>"
                                  "<target step=\"4\">bar.png</target></keyframes>"),
         &seen);
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.text, QStringLiteral("Invalid configuration file."));
    QVERIFY2(seen.details.contains(QStringLiteral("step 4")), qPrintable(seen.details));
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), QStringLiteral("kept.png"));
}

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    SchemeKeyframesTest test;
    return QTest::qExec(&test, argc, argv);
}

void SchemeKeyframesTest::obstaclesTravelWithTheConfiguration() {
    auto *field = child<QLineEdit>("lineEdit_Obst");
    QCOMPARE(child<QLabel>("label_Obst")->text(), QStringLiteral("Obstacles"));
    BoxSeen seen;
    load(configuration("walled.xml", "<scheme>sound</scheme><obstacles>wall.png</obstacles>"),
         &seen);
    QCOMPARE(seen.count, 0);
    QCOMPARE(field->text(), QStringLiteral("wall.png"));
    QVERIFY(save("walled-again.xml").contains("    <obstacles>wall.png</obstacles>\n"));
    child<QPushButton>("pushButton_ClearObst")->click();
    QVERIFY(field->text().isEmpty());
    QVERIFY(!save("open.xml").contains("obstacles"));
    // A file without <obstacles> is a run without them.
    field->setText(QStringLiteral("wall.png"));
    load(configuration("plain.xml", ""), &seen);
    QVERIFY(field->text().isEmpty());
}

void SchemeKeyframesTest::obstacleRunsAndRefusals() {
    BoxSeen seen;
    load(configuration("walled.xml", "<scheme>sound</scheme><obstacles>wall.png</obstacles>"),
         &seen);
    auto *view = child<GLView>("glView");
    child<QAction>("actionStart")->trigger();
    QVERIFY(m_window->simulation());
    QCOMPARE(view->obstacleCellCount(), std::size_t{32});
    QVERIFY(!child<QLineEdit>("lineEdit_Obst")->isEnabled());
    QVERIFY(!child<QPushButton>("pushButton_ClearObst")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(child<QAction>("actionExportFrame")->isEnabled(), 60000); // a frame
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QCOMPARE(view->obstacleCellCount(), std::size_t{32}); // the last picture keeps its walls
    // An exported EXR frame carries them as the renderer's does.
    answerFileDialog(this, m_dir.filePath("walled.exr"));
    child<QAction>("actionExportFrame")->trigger();
    QFile exr(m_dir.filePath("walled.exr"));
    QVERIFY(exr.open(QIODevice::ReadOnly));
    QVERIFY(exr.readAll().contains(QByteArray("solid\0", 6)));

    const std::pair<QByteArray, QString> refusals[] = {
        {"<obstacles>wall.png</obstacles>", "Obstacles need the sound scheme"},
        {"<scheme>sound</scheme><obstacles>gone.png</obstacles>", "Could not load obstacle image."},
        {"<scheme>sound</scheme><obstacles>pocket.png</obstacles>",
         "the target has smoke in a region the source cannot reach"},
    };
    for (const auto &[extra, message] : refusals) {
        load(configuration("refused.xml", extra), &seen);
        QCOMPARE(view->obstacleCellCount(), std::size_t{0}); // a loaded file clears the picture
        const int before = seen.count;
        catchBox(this, &seen);
        child<QAction>("actionStart")->trigger();
        QCOMPARE(seen.count, before + 1);
        QVERIFY2(seen.text.contains(message), qPrintable(seen.text));
        QVERIFY(!m_window->simulation());
    }
}

#include "schemekeyframes_test.moc"
