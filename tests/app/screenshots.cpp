// Pictures of the window for the documentation: a paused run of the bundled
// blob-to-s with the status widget, the Control menu, the View menu's Speed
// submenu and the File menu's Open Example submenu; the through-the-gap
// example paused mid-run with its obstacles, in both view modes; the emblem
// colour example at a few steps and the dark ink one, the view drawn by the
// shader and by its fallback. Run by hand from the repository root under an X server,
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/app/desktop_screenshots docs [colour]
// (pictures taken with QWidget::grab, written as desktop-*.png into the folder;
// with "colour", the colour pictures alone). With "record" instead: the emblem
// recorded into FOLDER/colour-recording (a frame every 100 steps, every other
// format too), the Record dialog, the window and its File menu at step 1000,
// and that frame exported as desktop-colour-export.png; "record CONFIG.xml"
// records that configuration instead. With "preview": the window, its Images
// panel open, with a few grey and colour examples loaded (desktop-preview-*.png),
// and their panels beside one with a target that cannot be read
// (desktop-preview-panels.png).

#include "glview.h"
#include "mainwindow.h"
#include "recorddialog.h"
#include "simthread.h"
#include "startup.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>

#include <array>

namespace {

void waitFor(const std::function<bool()> &done, int timeoutMs = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

void pause(int ms) {
    waitFor([] { return false; }, ms);
}

bool save(QWidget *widget, const QDir &folder, const char *name) {
    const QString path = folder.filePath(QLatin1String(name));
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs"));

    MainWindow window;
    window.show();
    auto child = [&window](const char *name) { return window.findChild<QObject *>(name); };
    // The two images and the five parameters of a run.
    auto fill = [&child](const char *source, const char *target, std::array<double, 5> values) {
        qobject_cast<QLineEdit *>(child("lineEdit_Src"))->setText(QLatin1String(source));
        qobject_cast<QLineEdit *>(child("lineEdit_Tgt"))->setText(QLatin1String(target));
        for (int k = 0; k < 5; ++k) {
            qobject_cast<QDoubleSpinBox *>(
                child(qPrintable(QStringLiteral("doubleSpinBox_%1").arg(k + 1))))
                ->setValue(values[static_cast<std::size_t>(k)]);
        }
    };
    fill("examples/blob.png", "examples/letter-s.png", {0.5, 5, 0, 2.2, 0.001});
    qobject_cast<QAction *>(child("actionSpeed300"))->trigger();
    // Starts a run and pauses it once the picture shown is at `step` or beyond.
    auto *status = qobject_cast<QLabel *>(child("label_RunStatus"));
    auto runTo = [&](int step) {
        qobject_cast<QAction *>(child("actionPause"))->setChecked(false);
        qobject_cast<QAction *>(child("actionStart"))->trigger();
        waitFor([status,
                 step] { return status->text().section(QLatin1Char(' '), 1, 1).toInt() >= step; },
                300000);
        qobject_cast<QAction *>(child("actionPause"))->setChecked(true);
        waitFor([&window] {
            return window.simulation()->isHolding() && !window.simulation()->notificationPending();
        });
        pause(300);
    };
    // A colour example paused at each step in turn, the view drawn both ways.
    auto colourPictures = [&](const char *example, std::initializer_list<int> steps) {
        qobject_cast<QAction *>(child(qPrintable(QStringLiteral("actionExample_") + example)))
            ->trigger();
        qobject_cast<QAction *>(child("actionSpeedFull"))->trigger();
        auto *glView = window.findChild<GLView *>("glView");
        bool written = true;
        runTo(0);
        for (const int step : steps) {
            qobject_cast<QAction *>(child("actionPause"))->setChecked(false);
            waitFor(
                [status, step] {
                    return !status->text().isEmpty() &&
                           status->text().section(QLatin1Char(' '), 1, 1).toInt() >= step;
                },
                600000);
            qobject_cast<QAction *>(child("actionPause"))->setChecked(true);
            waitFor([&window] {
                return window.simulation()->isHolding() &&
                       !window.simulation()->notificationPending();
            });
            pause(300);
            std::printf("%s held at: %s\n", example, qPrintable(status->text()));
            for (const bool shader : {true, false}) {
                glView->setShaderAllowed(shader);
                pause(200);
                const QByteArray name = QStringLiteral("desktop-%1-%2-%3.png")
                                            .arg(QLatin1String(example))
                                            .arg(step)
                                            .arg(shader ? "shader" : "fallback")
                                            .toLatin1();
                written = save(glView, folder, name.constData()) && written;
            }
            if (step == 1000 && QLatin1String(example) == QLatin1String("emblem")) {
                written = save(&window, folder, "desktop-colour-window.png") && written;
            }
        }
        qobject_cast<QAction *>(child("actionStop"))->trigger();
        waitFor([&window] { return !window.simulation(); });
        return written;
    };
    // The emblem recorded as it runs, and the frame of step 1000 exported.
    auto recordedColour = [&](const QString &configuration) {
        QObject owner; // of the dialogs' answers
        const QString recording = folder.filePath(QStringLiteral("colour-recording"));
        if (configuration.isEmpty()) {
            qobject_cast<QAction *>(child("actionExample_emblem"))->trigger();
        } else {
            testsupport::answerFileDialog(&owner, configuration);
            qobject_cast<QAction *>(child("actionLoadConf"))->trigger();
        }
        qobject_cast<QAction *>(child("actionSpeedFull"))->trigger();
        testsupport::whenModal<RecordDialog>(&owner, [recording, &folder](RecordDialog *dialog) {
            dialog->findChild<QLineEdit *>("lineEdit_RecordFolder")->setText(recording);
            dialog->findChild<QSpinBox *>("spinBox_RecordEvery")->setValue(100);
            for (const char *name :
                 {"checkBox_RecordExr", "checkBox_RecordVdb", "checkBox_RecordNpy"}) {
                dialog->findChild<QCheckBox *>(name)->setChecked(true);
            }
            save(dialog, folder, "desktop-record-dialog.png");
            dialog->accept();
        });
        qobject_cast<QAction *>(child("actionRecord"))->trigger();
        runTo(1000);
        std::printf("recorded, held at: %s\n", qPrintable(status->text()));
        bool written = save(&window, folder, "desktop-colour-recording.png");
        auto *file = qobject_cast<QMenu *>(child("menuConfiguration"));
        file->popup(window.mapToGlobal(QPoint(10, 30)));
        pause(300);
        written = save(file, folder, "desktop-colour-recording-menu.png") && written;
        file->hide();
        testsupport::answerFileDialog(&owner, folder.filePath("desktop-colour-export.png"));
        qobject_cast<QAction *>(child("actionExportFrame"))->trigger();
        std::printf("%s\n", qPrintable(window.statusBar()->currentMessage()));
        qobject_cast<QAction *>(child("actionStop"))->trigger();
        waitFor([&window] { return !window.simulation(); });
        waitFor([&window] {
            return window.statusBar()->currentMessage().startsWith(
                QStringLiteral("Recording stopped"));
        });
        std::printf("%s\n", qPrintable(window.statusBar()->currentMessage()));
        return written;
    };
    if (argc > 2 && QLatin1String(argv[2]) == QLatin1String("record")) {
        return recordedColour(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString()) ? 0 : 1;
    }
    // The Images panel's target preview of grey and colour examples.
    auto previews = [&] {
        qobject_cast<QPushButton *>(child("pushButton_More"))->click();
        bool written = true;
        auto *images = qobject_cast<QWidget *>(child("groupBox_Images"));
        std::vector<QPixmap> panels;
        for (const char *example :
             {"blob-to-s", "through-the-gap", "word-to-word", "yin-yang", "ink", "emblem"}) {
            qobject_cast<QAction *>(child(qPrintable(QStringLiteral("actionExample_") + example)))
                ->trigger();
            pause(300);
            const QByteArray name =
                QStringLiteral("desktop-preview-%1.png").arg(QLatin1String(example)).toLatin1();
            written = save(&window, folder, name.constData()) && written;
            panels.push_back(images->grab());
        }
        // And a target that cannot be read.
        qobject_cast<QAction *>(child("actionExample_blob-to-s"))->trigger();
        qobject_cast<QLineEdit *>(child("lineEdit_Tgt"))->setText(QStringLiteral("missing.png"));
        pause(300);
        panels.push_back(images->grab());
        // The panels side by side, in one picture.
        QImage strip(static_cast<int>(panels.size()) * panels.front().width(),
                     panels.front().height(), QImage::Format_RGB32);
        QPainter painter(&strip);
        for (std::size_t k = 0; k < panels.size(); ++k) {
            painter.drawPixmap(static_cast<int>(k) * panels.front().width(), 0, panels[k]);
        }
        painter.end();
        const QString path = folder.filePath(QStringLiteral("desktop-preview-panels.png"));
        std::printf("wrote %s\n", qPrintable(path));
        return strip.save(path) && written;
    };
    if (argc > 2 && QLatin1String(argv[2]) == QLatin1String("preview")) {
        return previews() ? 0 : 1;
    }
    if (argc > 2 && QLatin1String(argv[2]) == QLatin1String("colour")) {
        return colourPictures("emblem", {0, 250, 1000, 3000}) && colourPictures("ink", {1000}) ? 0
                                                                                               : 1;
    }

    runTo(400);

    bool ok = save(&window, folder, "desktop-window.png");
    ok = save(window.statusBar(), folder, "desktop-status.png") && ok;

    auto *control = qobject_cast<QMenu *>(child("menuControl"));
    control->popup(window.mapToGlobal(QPoint(60, 30)));
    pause(300);
    ok = save(control, folder, "desktop-control-menu.png") && ok;
    control->hide();
    auto *view = qobject_cast<QMenu *>(child("menuView"));
    view->popup(window.mapToGlobal(QPoint(120, 30)));
    pause(200);
    auto *speed = qobject_cast<QMenu *>(child("menuSpeed"));
    view->setActiveAction(speed->menuAction());
    speed->popup(view->geometry().topRight() +
                 QPoint(0, view->actionGeometry(speed->menuAction()).top()));
    pause(300);
    ok = save(speed, folder, "desktop-speed-menu.png") && ok;
    ok = save(view, folder, "desktop-view-menu.png") && ok;
    speed->hide();
    view->hide();

    // Open Example is enabled while idle only.
    qobject_cast<QAction *>(child("actionStop"))->trigger();
    waitFor([&window] { return !window.simulation(); });
    auto *file = qobject_cast<QMenu *>(child("menuConfiguration"));
    file->popup(window.mapToGlobal(QPoint(10, 30)));
    pause(200);
    auto *examples = qobject_cast<QMenu *>(child("menuOpenExample"));
    file->setActiveAction(examples->menuAction());
    examples->popup(file->geometry().topRight() +
                    QPoint(0, file->actionGeometry(examples->menuAction()).top()));
    pause(300);
    ok = save(examples, folder, "desktop-example-menu.png") && ok;
    ok = save(file, folder, "desktop-file-menu.png") && ok;
    examples->hide();
    file->hide();

    // Obstacles: the wall drawn over the density, then over the velocity.
    qobject_cast<QPushButton *>(child("pushButton_More"))->click();
    fill("examples/puff-left.png", "examples/disc-right.png", {2, 30, 0.15, 1, 0.001});
    qobject_cast<QLineEdit *>(child("lineEdit_Obst"))->setText("examples/wall-gap.png");
    qobject_cast<QAction *>(child("actionSoundScheme"))->trigger();
    runTo(150);
    ok = save(&window, folder, "desktop-obstacles-density.png") && ok;
    qobject_cast<QAction *>(child("actionVelocity"))->trigger();
    pause(300);
    ok = save(&window, folder, "desktop-obstacles-velocity.png") && ok;
    qobject_cast<QAction *>(child("actionStop"))->trigger();
    waitFor([&window] { return !window.simulation(); });
    ok = colourPictures("emblem", {0, 250, 1000, 3000}) && colourPictures("ink", {1000}) && ok;

    return ok ? 0 : 1;
}
