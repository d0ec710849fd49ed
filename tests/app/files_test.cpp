// The window's file commands: saving and loading the configuration file with
// every reader rule, the image pickers, starting runs from bad images, and the
// About boxes. Every dialog and message box is answered from the test.

#include "configfile.h"
#include "glview.h"
#include "mainwindow.h"
#include "parameters.h"
#include "runsetup.h"
#include "startup.h"
#include "testsupport.h"

#include <QAction>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>

#include <cmath>
#include <sys/stat.h>

using namespace testsupport;

class FilesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void saveAndLoadRoundTrip();
    void saveAddsSuffixAndReplacesFiles();
    void saveFailureIsReported();
    void loadAppliesReaderRules_data();
    void loadAppliesReaderRules();
    void loadOfOtherRootChangesOnlyTheTitle();
    void loadFailuresAreReported_data();
    void loadFailuresAreReported();
    void loadOfVanishedFileIsReported();
    void colourRunsLoadRunAndSave();
    void targetPreviewShowsWhatTheRunChases();
    void imagePickers();
    void badImagesRefuseTheRun_data();
    void badImagesRefuseTheRun();
    void openExampleFillsAbsolutePaths();
    void aboutBoxes();

private:
    template <typename T> T *child(const char *name) { return m_window->findChild<T *>(name); }
    QDoubleSpinBox *box(int k) {
        return child<QDoubleSpinBox>(qPrintable(QStringLiteral("doubleSpinBox_%1").arg(k + 1)));
    }
    QList<double> values();
    void setValues(const QList<double> &v);
    QString writeFile(const QString &name, const QByteArray &content);
    void load(const QString &path, BoxSeen *seen);

    QTemporaryDir m_dir;
    QString m_image16;
    MainWindow *m_window = nullptr;
};

void FilesTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    // The dialogs start in the working directory.
    QVERIFY(QDir::setCurrent(m_dir.path()));
    m_image16 = m_dir.filePath("square16.png");
    QVERIFY(writeImage(m_image16, 16, 16, [](int x, int) { return x * 16; }));
}

void FilesTest::init() {
    m_window = new MainWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
}

void FilesTest::cleanup() {
    // Catchers armed for boxes that (correctly) never appeared.
    qDeleteAll(findChildren<QTimer *>());
    delete m_window;
    m_window = nullptr;
}

QList<double> FilesTest::values() {
    QList<double> v;
    for (int k = 0; k < 5; ++k) {
        v << box(k)->value();
    }
    return v;
}

void FilesTest::setValues(const QList<double> &v) {
    for (int k = 0; k < 5; ++k) {
        box(k)->setValue(v[k]);
    }
}

QString FilesTest::writeFile(const QString &name, const QByteArray &content) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

void FilesTest::load(const QString &path, BoxSeen *seen) {
    catchBox(this, seen);
    answerFileDialog(this, path);
    child<QAction>("actionLoadConf")->trigger();
}

void FilesTest::saveAndLoadRoundTrip() {
    const QList<double> saved = {12.5, 3, 0.0001, 2.2, 0.00001};
    setValues(saved);
    child<QLineEdit>("lineEdit_Src")->setText(QStringLiteral("smoke & <mirrors>.png"));
    child<QLineEdit>("lineEdit_Tgt")->setText(QString());

    DialogSeen dialog;
    answerFileDialog(this, m_dir.filePath("round"), &dialog);
    child<QPushButton>("pushButton_SaveConf")->click();
    QCOMPARE(dialog.caption, QStringLiteral("Save configuration"));
    QCOMPARE(dialog.filters, QStringList{QStringLiteral("Configuration Files (*.xml)")});
    QCOMPARE(dialog.directory, QDir::currentPath());
    QVERIFY(!dialog.confirmOverwrite);
    const QString path = m_dir.filePath("round.xml");
    QCOMPARE(m_window->windowFilePath(), path);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray xml = file.readAll();
    QVERIFY(xml.contains("<dt>1e-05</dt>"));
    QVERIFY(xml.contains("<vf>12.5</vf>"));
    QVERIFY(xml.contains("<source>smoke &amp; &lt;mirrors"));

    setValues({0, 0, 0, 0.1, 0});
    child<QLineEdit>("lineEdit_Src")->setText(QStringLiteral("x"));
    child<QLineEdit>("lineEdit_Tgt")->setText(QStringLiteral("y"));
    m_window->setWindowFilePath(QStringLiteral("Untitled"));
    BoxSeen seen;
    DialogSeen loadDialog;
    catchBox(this, &seen);
    answerFileDialog(this, path, &loadDialog);
    child<QPushButton>("pushButton_LoadConf")->click();
    QCOMPARE(loadDialog.caption, QStringLiteral("Load configuration"));
    QCOMPARE(loadDialog.filters, QStringList{QStringLiteral("Configuration Files (*.xml)")});
    QCOMPARE(seen.count, 0);
    QCOMPARE(values(), saved);
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), QStringLiteral("smoke & <mirrors>.png"));
    QCOMPARE(child<QLineEdit>("lineEdit_Tgt")->text(), QString());
    QCOMPARE(m_window->windowFilePath(), path);
}

void FilesTest::saveAddsSuffixAndReplacesFiles() {
    answerFileDialog(this, m_dir.filePath("Settings.XML"));
    child<QAction>("actionSaveConf")->trigger();
    QVERIFY(QFile::exists(m_dir.filePath("Settings.XML")));
    QVERIFY(!QFile::exists(m_dir.filePath("Settings.XML.xml")));

    answerFileDialog(this, m_dir.filePath("run.xm"));
    child<QAction>("actionSaveConf")->trigger();
    QVERIFY(QFile::exists(m_dir.filePath("run.xm.xml")));

    // An existing file is replaced, without a question.
    const QString old = writeFile("old.xml", QByteArray(5000, 'x'));
    box(0)->setValue(7);
    answerFileDialog(this, old);
    child<QAction>("actionSaveConf")->trigger();
    QFile file(old);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray xml = file.readAll();
    QVERIFY(xml.startsWith("<?xml"));
    QVERIFY(xml.contains("<vf>7</vf>"));
    QVERIFY(!xml.contains('x' + QByteArray(10, 'x')));
    QCOMPARE(m_window->windowFilePath(), old);

    // Cancelling changes nothing.
    answerFileDialog(this, QString());
    child<QAction>("actionSaveConf")->trigger();
    QCOMPARE(m_window->windowFilePath(), old);
}

void FilesTest::saveFailureIsReported() {
    // A file inside a missing directory.
    BoxSeen seen;
    catchBox(this, &seen);
    const QString missing = m_dir.filePath("no/such/dir/conf.xml");
    answerFileDialog(this, missing);
    child<QAction>("actionSaveConf")->trigger();
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.title, QStringLiteral("Velloran"));
    QCOMPARE(seen.text, QStringLiteral("Could not save configuration file."));
    QCOMPARE(m_window->windowFilePath(), QStringLiteral("Untitled"));
    QVERIFY(!QFile::exists(missing));
}

void FilesTest::loadAppliesReaderRules_data() {
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QList<double>>("expected"); // starting from 5, 6, 0.5, 2, 0.01
    QTest::addColumn<QString>("source");         // starting from "src"

    const QList<double> start = {5, 6, 0.5, 2, 0.01};
    QTest::newRow("only dt") << QByteArray("<configuration><parameters><dt>0.002</dt>"
                                           "</parameters></configuration>")
                             << QList<double>{5, 6, 0.5, 2, 0.002} << "src";
    QTest::newRow("not numbers") << QByteArray("<configuration><parameters><vf>abc</vf>"
                                               "<sigma>abc</sigma></parameters></configuration>")
                                 << QList<double>{0, 6, 0.5, 0.1, 0.01} << "src";
    QTest::newRow("clamped and rounded")
        << QByteArray("<configuration><parameters><vf>5000</vf><vd>-3</vd><vg>0.12345678</vg>"
                      "<sigma>2.25</sigma><dt>0.000012</dt></parameters></configuration>")
        << QList<double>{1000, 0, 0.1235, 2.3, 0.00001} << "src";
    QTest::newRow("non-finite")
        << QByteArray("<configuration><parameters><vf>nan</vf><vd>-inf</vd><vg>inf</vg>"
                      "<sigma>NaN</sigma><dt>1e400</dt></parameters></configuration>")
        << QList<double>{0, 0, 1, 0.1, 1} << "src";
    QTest::newRow("last occurrence wins")
        << QByteArray("<configuration><images><source>first</source><source>second</source>"
                      "</images><parameters><vf>1</vf></parameters><parameters><vf>2</vf>"
                      "<vf>3</vf></parameters></configuration>")
        << QList<double>{3, 6, 0.5, 2, 0.01} << "second";
    QTest::newRow("images first, unknown elements, white space")
        << QByteArray("<?xml version=\"1.0\"?>\n<configuration>\n <images>\n  <source> a b "
                      "</source>\n  <extra>1</extra>\n </images>\n <junk><vf>9</vf></junk>\n"
                      " <parameters>\n  <VF>9</VF>\n  <vd> 4.5 </vd>\n </parameters>\n"
                      "</configuration>\n")
        << QList<double>{5, 4.5, 0.5, 2, 0.01} << " a b ";
    QTest::newRow("nested text") << QByteArray(
                                        "<configuration><parameters><vf>1<b>2</b></vf></parameters>"
                                        "</configuration>")
                                 << QList<double>{12, 6, 0.5, 2, 0.01} << "src";
    Q_UNUSED(start);
}

void FilesTest::loadAppliesReaderRules() {
    QFETCH(QByteArray, xml);
    QFETCH(QList<double>, expected);
    QFETCH(QString, source);
    setValues({5, 6, 0.5, 2, 0.01});
    child<QLineEdit>("lineEdit_Src")->setText(QStringLiteral("src"));
    child<QLineEdit>("lineEdit_Tgt")->setText(QStringLiteral("tgt"));

    const QString path = writeFile("rules.xml", xml);
    BoxSeen seen;
    load(path, &seen);
    QCOMPARE(seen.count, 0);
    QCOMPARE(values(), expected);
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), source);
    QCOMPARE(child<QLineEdit>("lineEdit_Tgt")->text(), QStringLiteral("tgt"));
    QCOMPARE(m_window->windowFilePath(), path);
}

void FilesTest::loadOfOtherRootChangesOnlyTheTitle() {
    setValues({5, 6, 0.5, 2, 0.01});
    const QString path = writeFile("other.xml", "<settings><parameters><vf>1</vf></parameters>"
                                                "</settings>");
    BoxSeen seen;
    load(path, &seen);
    QCOMPARE(seen.count, 0);
    QCOMPARE(values(), (QList<double>{5, 6, 0.5, 2, 0.01}));
    QCOMPARE(m_window->windowFilePath(), path);
}

void FilesTest::loadFailuresAreReported_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not xml") << QByteArray("vf = 1\nvd = 2\n");
    QTest::newRow("mismatched tags")
        << QByteArray("<configuration>\n  <parameters></configuration>");
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 12);
    // Entity expansion to 10^10 characters: refused, not expanded into memory.
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE configuration [<!ENTITY l0 \"lol\">";
    for (int k = 1; k <= 10; ++k) {
        laughs += "<!ENTITY l" + QByteArray::number(k) + " \"";
        for (int r = 0; r < 10; ++r) {
            laughs += "&l" + QByteArray::number(k - 1) + ";";
        }
        laughs += "\">";
    }
    laughs += "]><configuration><images><source>&l10;</source></images></configuration>";
    QTest::newRow("entity expansion") << laughs;
    QByteArray deep;
    for (int k = 0; k < 100000; ++k) {
        deep += "<a>";
    }
    QTest::newRow("deep nesting, unclosed") << deep;
}

// A colour configuration of two fields at rest (no force, no time step): the
// view shows each field in its colour where its smoke is, in the shader path
// and its fallback alike; the single-image commands are held back while it is
// loaded; Save writes its <colour> back as read; a grey file ends it.
void FilesTest::colourRunsLoadRunAndSave() {
    const QString left = m_dir.filePath("left.png");
    const QString right = m_dir.filePath("right.png");
    QVERIFY(writeImage(left, 16, 16, [](int x, int) { return x < 8 ? 255 : 0; }));
    QVERIFY(writeImage(right, 16, 16, [](int x, int) { return x >= 8 ? 255 : 0; }));
    const QString fields =
        QStringLiteral(
            "<configuration><parameters><vf>0</vf><vd>0</vd><vg>0</vg><sigma>1</sigma><dt>0</dt>"
            "</parameters><colour mode=\"light\"><field colour=\"#ff0000\"><source>%1</source>"
            "<target>%1</target></field><field colour=\"#0000ff\"><source>%2</source>"
            "<target>%2</target></field></colour></configuration>")
            .arg(left, right);
    BoxSeen seen;
    load(writeFile("colour.xml", fields.toUtf8()), &seen);
    QCOMPARE(seen.count, 0);
    for (const char *name :
         {"lineEdit_Src", "lineEdit_Tgt", "pushButton_Swap", "actionSwap", "actionLoadSrc"}) {
        QVERIFY2(!child<QObject>(name)->property("enabled").toBool(), name);
    }
    QVERIFY(m_window->findChild<QAction *>("actionExample_emblem"));

    auto *view = child<GLView>("glView");
    child<QAction>("actionStart")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!view->colourImage().isNull(), 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QVERIFY(child<QAction>("actionExportFrame")->isEnabled());
    // Cells three in from either side, in the middle row.
    QCOMPARE(view->colourImage().pixel(3, 8), qRgb(255, 0, 0));
    QCOMPARE(view->colourImage().pixel(12, 8), qRgb(0, 0, 255));
    for (const bool shader : {true, false}) {
        view->setShaderAllowed(shader);
        const QImage shown = view->grabFramebuffer();
        const int y = shown.height() / 2;
        QCOMPARE(shown.pixel(shown.width() * 3 / 16, y), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(shown.width() * 13 / 16, y), qRgb(0, 0, 255));
    }

    answerFileDialog(this, m_dir.filePath("colour-saved.xml"));
    child<QPushButton>("pushButton_SaveConf")->click();
    const velloran::ConfigReadResult saved =
        velloran::readConfigurationFile(m_dir.filePath("colour-saved.xml"));
    QCOMPARE(saved.status, velloran::ConfigStatus::Parsed);
    QCOMPARE(saved.configuration.colour,
             velloran::readConfigurationData(fields.toUtf8()).configuration.colour);
    QVERIFY(!saved.configuration.source);

    // Keyframes: each field's own target schedule. At rest, the two fields
    // swap targets at step 5 and the distance over all fields goes from 0 to 2.
    load(writeFile("colour-keyframes.xml",
                   QString(fields)
                       .replace("</colour>",
                                QStringLiteral("</colour><keyframes>"
                                               "<target step=\"5\" field=\"#ff0000\">%2</target>"
                                               "<target step=\"5\" field=\"#0000ff\">%1</target>"
                                               "</keyframes>")
                                    .arg(left, right))
                       .toUtf8()),
         &seen);
    QCOMPARE(seen.count, 0);
    auto *status = child<QLabel>("label_RunStatus");
    child<QAction>("actionStart")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(" · target 2/2"), 60000);
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->simulation(), 60000);
    QVERIFY2(status->text().contains(QStringLiteral("distance 2.000")), qPrintable(status->text()));
    QCOMPARE(view->colourImage().pixel(3, 8), qRgb(255, 0, 0)); // the smoke stays put

    load(writeFile("grey.xml", "<configuration><images><source>a.png</source></images>"
                               "</configuration>"),
         &seen);
    QVERIFY(child<QLineEdit>("lineEdit_Src")->isEnabled());
    QVERIFY(view->colourImage().isNull());
}

void FilesTest::loadFailuresAreReported() {
    QFETCH(QByteArray, content);
    setValues({5, 6, 0.5, 2, 0.01});
    child<QLineEdit>("lineEdit_Src")->setText(QStringLiteral("src"));
    const QString path = writeFile("bad.xml", content);
    BoxSeen seen;
    load(path, &seen);
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.title, QStringLiteral("Velloran"));
    QCOMPARE(seen.text, QStringLiteral("Invalid configuration file."));
    // Below it: the file and the parser's reason.
    QVERIFY2(seen.details.startsWith(path + QStringLiteral(": ")), qPrintable(seen.details));
    QVERIFY2(seen.details.size() > path.size() + 2, qPrintable(seen.details));
    QCOMPARE(values(), (QList<double>{5, 6, 0.5, 2, 0.01}));
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), QStringLiteral("src"));
    QCOMPARE(m_window->windowFilePath(), QStringLiteral("Untitled"));
}

void FilesTest::loadOfVanishedFileIsReported() {
    // The file exists when chosen and is gone when it is read.
    const QString path = writeFile("gone.xml", "<configuration/>");
    BoxSeen seen;
    catchBox(this, &seen);
    whenModal<QFileDialog>(this, [path](QFileDialog *dialog) {
        acceptFileName(dialog, path);
        QFile::remove(path);
    });
    child<QAction>("actionLoadConf")->trigger();
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.title, QStringLiteral("Velloran"));
    QCOMPARE(seen.text, QStringLiteral("Could not open configuration file."));
    QCOMPARE(seen.details, path + QStringLiteral(": No such file or directory"));
    QCOMPARE(m_window->windowFilePath(), QStringLiteral("Untitled"));
}

// The preview's pixel at the middle of grid column `column` (of `cells`), in
// the middle row; a null image gives 0.
static QRgb previewAt(const QLabel *preview, double column, int cells = 16) {
    const QImage shown = preview->pixmap().toImage();
    if (shown.isNull()) {
        return 0;
    }
    return shown.pixel(static_cast<int>((column + 0.5) * shown.width() / cells),
                       shown.height() / 2);
}

void FilesTest::targetPreviewShowsWhatTheRunChases() {
    auto *preview = child<QLabel>("label_TgtPreview");
    auto *note = child<QLabel>("label_TgtPreviewNote");
    BoxSeen seen;
    catchBox(this, &seen);

    // Grey: a target of twice the source's smoke, a wall over its two left
    // columns, a keyframe. Cleared there it holds 1.5 times the smoke, so it
    // is chased at 2/3 of its brightness.
    const QString band = m_dir.filePath("band4.png");
    const QString wide = m_dir.filePath("band8.png");
    const QString wall = m_dir.filePath("wall2.png");
    QVERIFY(writeImage(band, 16, 16, [](int x, int) { return x < 4 ? 255 : 0; }));
    QVERIFY(writeImage(wide, 16, 16, [](int x, int) { return x < 8 ? 255 : 0; }));
    QImage walls(16, 16, QImage::Format_RGB32);
    walls.fill(Qt::black);
    for (int y = 0; y < 16; ++y) {
        walls.setPixel(0, y, qRgb(255, 255, 255));
        walls.setPixel(1, y, qRgb(255, 255, 255));
    }
    QVERIFY(walls.save(wall));
    const QString grey =
        QStringLiteral("<configuration><images><source>%1</source><target>%2</target></images>"
                       "<scheme>sound</scheme><obstacles>%3</obstacles><keyframes>"
                       "<target step=\"10\">%1</target></keyframes></configuration>")
            .arg(band, wide, wall);
    load(writeFile("preview-grey.xml", grey.toUtf8()), &seen);
    QTRY_COMPARE(previewAt(preview, 5), qRgb(170, 170, 170));
    QCOMPARE(previewAt(preview, 1), qRgb(0, 0, 0));
    QCOMPARE(previewAt(preview, 12), qRgb(0, 0, 0));
    QCOMPARE(note->text(), QStringLiteral("Target 1/2"));
    // A literal run has no walls: the whole band, at half its brightness.
    child<QAction>("actionLiteralScheme")->trigger();
    QTRY_COMPARE(previewAt(preview, 1), qRgb(128, 128, 128));

    // An unreadable target: no picture, a few words, no box.
    child<QLineEdit>("lineEdit_Tgt")->setText(writeFile("not-an-image.png", "text"));
    QTRY_VERIFY(preview->pixmap().isNull());
    QCOMPARE(note->text(), QStringLiteral("Cannot preview the target"));
    QVERIFY(note->toolTip().contains(QStringLiteral("not-an-image.png")));

    // Fields, dark: each field's target (not its source) in its own colour
    // over the white plate, which shows between them.
    const QString left = m_dir.filePath("left6.png");
    const QString right = m_dir.filePath("right6.png");
    QVERIFY(writeImage(left, 16, 16, [](int x, int) { return x < 6 ? 255 : 0; }));
    QVERIFY(writeImage(right, 16, 16, [](int x, int) { return x >= 10 ? 255 : 0; }));
    const QString fields =
        QStringLiteral(
            "<configuration><colour mode=\"dark\"><field colour=\"#ff0000\"><source>%2</source>"
            "<target>%1</target></field><field colour=\"#0000ff\"><source>%1</source>"
            "<target>%2</target></field></colour></configuration>")
            .arg(left, right);
    load(writeFile("preview-fields.xml", fields.toUtf8()), &seen);
    QTRY_VERIFY(!preview->pixmap().isNull());
    const QRgb red = previewAt(preview, 2);
    const QRgb blue = previewAt(preview, 13);
    QVERIFY2(qRed(red) == 255 && qGreen(red) < 30 && qBlue(red) < 30,
             qPrintable(QString::number(red, 16)));
    QVERIFY2(qBlue(blue) == 255 && qRed(blue) < 30 && qGreen(blue) < 30,
             qPrintable(QString::number(blue, 16)));
    QCOMPARE(previewAt(preview, 8), qRgb(255, 255, 255));
    QCOMPARE(note->text(), QStringLiteral("Target"));
    // The same fields in light mode (no path in the panel changes): black between them.
    load(writeFile(
             "preview-light.xml",
             QString(fields).replace(QStringLiteral("dark"), QStringLiteral("light")).toUtf8()),
         &seen);
    QTRY_COMPARE(previewAt(preview, 8), qRgb(0, 0, 0));
    QCOMPARE(previewAt(preview, 2), qRgb(255, 0, 0));

    // A palette found in the bundled ink picture: the crimson star in the
    // middle of a navy ring, on white.
    child<QAction>("actionExample_ink")->trigger();
    QTRY_VERIFY(previewAt(preview, 0) == qRgb(255, 255, 255));
    const QRgb star = previewAt(preview, 8);
    QVERIFY2(qRed(star) > 2 * qBlue(star) && qRed(star) > 2 * qGreen(star),
             qPrintable(QString::number(star, 16)));
    QCOMPARE(seen.count, 0);
}

void FilesTest::imagePickers() {
    child<QPushButton>("pushButton_More")->click();
    auto *src = child<QLineEdit>("lineEdit_Src");
    auto *tgt = child<QLineEdit>("lineEdit_Tgt");
    src->setText(QStringLiteral("kept"));
    auto *more = child<QPushButton>("pushButton_More");
    more->setFocus();

    // Cancelling leaves the field and the focus alone.
    DialogSeen dialog;
    answerFileDialog(this, QString(), &dialog);
    child<QAction>("actionLoadSrc")->trigger();
    QCOMPARE(dialog.caption, QStringLiteral("Load source image"));
    QCOMPARE(dialog.filters, QStringList{QStringLiteral("PNG Image Files (*.png)")});
    QCOMPARE(dialog.directory, QDir::currentPath());
    QCOMPARE(src->text(), QStringLiteral("kept"));
    QCOMPARE(m_window->focusWidget(), more);

    answerFileDialog(this, m_image16);
    child<QPushButton>("pushButton_LoadSrc")->click();
    QCOMPARE(src->text(), m_image16);
    QCOMPARE(m_window->focusWidget(), src);

    DialogSeen target;
    answerFileDialog(this, m_image16, &target);
    child<QAction>("actionLoadTgt")->trigger();
    QCOMPARE(target.caption, QStringLiteral("Load target image"));
    QCOMPARE(tgt->text(), m_image16);
    QCOMPARE(m_window->focusWidget(), tgt);
}

void FilesTest::badImagesRefuseTheRun_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("details"); // below the message, for Start

    const QString good = m_image16;
    const QString missing = m_dir.filePath("missing.png");
    const QString text = writeFile("text.png", "not an image at all");
    const QString wide = m_dir.filePath("wide.png");
    writeImage(wide, 16, 8, [](int, int) { return 255; });
    const QString small = m_dir.filePath("small.png");
    writeImage(small, 8, 8, [](int, int) { return 255; });
    const QString huge = m_dir.filePath("huge.png");
    const int side = velloran::kMaxImageSide + 1;
    QImage big(side, side, QImage::Format_Grayscale8);
    big.fill(0);
    big.save(huge, "PNG");
    // Red and green, but no blue: no smoke.
    const QString black = m_dir.filePath("black.png");
    writeImage(black, 16, 16, [](int, int) { return 0; });
    const QString fifo = m_dir.filePath("fifo.png");
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);

    using velloran::RunSetupError;
    const QString sep = QStringLiteral(": ");
    QTest::newRow("both empty") << QString() << QString() << "Could not load source image."
                                << "no path given";
    QTest::newRow("source missing") << missing << good << "Could not load source image."
                                    << missing + sep + "No such file or directory";
    QTest::newRow("source not an image")
        << text << good << "Could not load source image." << text + sep;
    QTest::newRow("source a FIFO")
        << fifo << good << "Could not load source image." << fifo + sep + "not a regular file";
    QTest::newRow("target missing") << good << missing << "Could not load target image."
                                    << missing + sep + "No such file or directory";
    QTest::newRow("source not square")
        << wide << good << velloran::runSetupMessage(RunSetupError::SourceNotSquare)
        << wide + sep + "16 x 8 pixels";
    QTest::newRow("target smaller")
        << good << small << velloran::runSetupMessage(RunSetupError::TargetTooSmall) << small;
    QTest::newRow("source too large")
        << huge << huge << velloran::runSetupMessage(RunSetupError::SourceTooLarge) << huge;
    QTest::newRow("source without smoke")
        << black << good << velloran::runSetupMessage(RunSetupError::SourceEmpty) << black;
    QTest::newRow("target without smoke")
        << good << black << velloran::runSetupMessage(RunSetupError::TargetEmpty) << black;
}

void FilesTest::badImagesRefuseTheRun() {
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(QString, message);
    QFETCH(QString, details);
    child<QLineEdit>("lineEdit_Src")->setText(source);
    child<QLineEdit>("lineEdit_Tgt")->setText(target);
    m_window->statusBar()->showMessage(QStringLiteral("before"));
    for (QAction *start : {child<QAction>("actionStart"), child<QAction>("actionStartRev")}) {
        BoxSeen seen;
        catchBox(this, &seen);
        start->trigger();
        QCOMPARE(seen.count, 1);
        QCOMPARE(seen.title, QStringLiteral("Velloran"));
        if (start == child<QAction>("actionStart")) {
            QCOMPARE(seen.text, message);
            QVERIFY2(seen.details.startsWith(details), qPrintable(seen.details));
        }
        QVERIFY(!m_window->simulation());
        QVERIFY(child<QAction>("actionStart")->isEnabled());
        QVERIFY(!child<QAction>("actionStop")->isEnabled());
        QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("before"));
        QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), source);
        QCOMPARE(child<QLineEdit>("lineEdit_Tgt")->text(), target);
    }
}

// From a folder without examples: the repository's files (this program lies in
// the build tree), with absolute paths that start a run from here.
void FilesTest::openExampleFillsAbsolutePaths() {
    const QString examples = QStringLiteral(VELLORAN_SOURCE_DIR "/examples");
    auto *menu = child<QMenu>("menuOpenExample");
    QCOMPARE(menu->title(), QStringLiteral("Open Example"));
    QVERIFY(menu->isEnabled());
    QCOMPARE(menu->actions().size(), 11); // the colour examples included
    BoxSeen seen;
    catchBox(this, &seen);
    child<QAction>("actionExample_word-to-word")->trigger();
    QCOMPARE(seen.count, 0);
    QCOMPARE(m_window->windowFilePath(), examples + QStringLiteral("/word-to-word.xml"));
    QCOMPARE(child<QLineEdit>("lineEdit_Src")->text(), examples + QStringLiteral("/blob.png"));
    QCOMPARE(child<QLineEdit>("lineEdit_Tgt")->text(),
             examples + QStringLiteral("/word-smoke.png"));
    QCOMPARE(values(), QList<double>({2, 30, 0.15, 1, 0.001}));
    QVERIFY(child<QAction>("actionSoundScheme")->isChecked());
    // The keyframes' images too, as Save writes them back.
    answerFileDialog(this, m_dir.filePath("example-copy.xml"));
    child<QAction>("actionSaveConf")->trigger();
    const velloran::ConfigReadResult copy =
        velloran::readConfigurationFile(m_dir.filePath("example-copy.xml"));
    QCOMPARE(copy.configuration.keyframes.size(), std::size_t(2));
    QCOMPARE(copy.configuration.keyframes[1].image, examples + QStringLiteral("/star.png"));

    child<QAction>("actionStart")->trigger();
    QVERIFY(m_window->simulation());
    QVERIFY(!menu->isEnabled());
    child<QAction>("actionStop")->trigger();
    QTRY_VERIFY(!m_window->simulation());
    QVERIFY(menu->isEnabled());
    QCOMPARE(seen.count, 0);

    // The obstacle image is made absolute like the others.
    child<QAction>("actionExample_through-the-gap")->trigger();
    QCOMPARE(child<QLineEdit>("lineEdit_Obst")->text(), examples + QStringLiteral("/wall-gap.png"));
    QCOMPARE(seen.count, 0);
    // And a colour run's field images: saved back, they name the bundled files.
    child<QAction>("actionExample_yin-yang")->trigger();
    answerFileDialog(this, m_dir.filePath("yin-yang-copy.xml"));
    child<QAction>("actionSaveConf")->trigger();
    const velloran::ConfigReadResult yinYang =
        velloran::readConfigurationFile(m_dir.filePath("yin-yang-copy.xml"));
    QVERIFY(yinYang.configuration.colour);
    QCOMPARE(yinYang.configuration.colour->fields.at(1).sourcePath,
             examples + QStringLiteral("/yang.png"));
    QCOMPARE(seen.count, 0);
}

void FilesTest::aboutBoxes() {
    BoxSeen seen;
    catchBox(this, &seen);
    child<QAction>("actionAbout")->trigger();
    QCOMPARE(seen.count, 1);
    QCOMPARE(seen.title, QStringLiteral("About Velloran"));
    QVERIFY(seen.text.contains(QStringLiteral("Target-Driven Smoke Animation")));
    QVERIFY(seen.text.contains(QStringLiteral("SIGGRAPH 2004")));
    QVERIFY(seen.text.contains(QStringLiteral("<a href=")));
    QVERIFY(seen.text.contains(QStringLiteral("Version " VELLORAN_VERSION ".")));

    BoxSeen qt;
    catchBox(this, &qt);
    child<QAction>("actionAboutQt")->trigger();
    QCOMPARE(qt.count, 1);
    QCOMPARE(qt.title, QStringLiteral("About Qt"));
}

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    FilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "files_test.moc"
