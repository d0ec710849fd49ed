// The window's runs: starting one from the images, its frames shown as they
// come, pause, speed, stop and its end; exporting the frame shown.

#include "mainwindow.h"

#include "frameexport.h"
#include "keyframes.h"
#include "runsetup.h"
#include "runstatus.h"
#include "simthread.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

void MainWindow::on_pushButton_Start_clicked() {
    startSimulation(false);
}

void MainWindow::on_pushButton_StartRev_clicked() {
    startSimulation(true);
}

// Both images and the keyframes' targets, checked before anything changes; a
// warning says what stops the run.
bool MainWindow::loadRunInputs(bool reverse, velloran::RunDensities *densities,
                               std::unique_ptr<velloran::TargetSchedule> *schedule) {
    QString reason;
    const velloran::RunSetupError error = velloran::prepareRun(
        ui->lineEdit_Src->text(), ui->lineEdit_Tgt->text(), reverse, densities, &reason);
    if (error != velloran::RunSetupError::None) {
        // Below the message: which file, and why when the message does not say.
        const QString path =
            velloran::isSourceProblem(error) ? ui->lineEdit_Src->text() : ui->lineEdit_Tgt->text();
        warn(velloran::runSetupMessage(error),
             path.isEmpty() ? reason
             : reason.isEmpty()
                 ? QDir::toNativeSeparators(path)
                 : QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason));
        return false;
    }
    if (keyframes.empty()) {
        return true;
    }
    if (reverse) {
        warn(velloran::keyframesInReverseMessage());
        return false;
    }
    const int n = static_cast<int>(densities->srcDensity.NumCols());
    std::vector<velloran::Keyframe> targets;
    QString keyframeError;
    if (!velloran::loadKeyframeTargets(keyframes, QImageReader(ui->lineEdit_Tgt->text()).size(), n,
                                       &targets, &keyframeError)) {
        warn(keyframeError);
        return false;
    }
    *schedule =
        std::make_unique<velloran::TargetSchedule>(densities->tgtDensity, std::move(targets));
    return true;
}

void MainWindow::startSimulation(bool reverse) {
    if (simThread) {
        return;
    }
    velloran::RunDensities densities;
    std::vector<velloran::RunDensities> fields; // a colour run's, in the picture's order
    std::optional<velloran::ColourPicture> picture;
    std::unique_ptr<velloran::TargetSchedule> schedule;
    std::vector<std::unique_ptr<velloran::TargetSchedule>> fieldSchedules;
    std::optional<Grid> obstacles;
    if (colour) {
        picture.emplace();
        if (!loadColourInputs(reverse, &fields, &*picture, &fieldSchedules)) {
            return;
        }
        if (!fieldSchedules.empty()) {
            schedule = std::move(fieldSchedules.front());
            fieldSchedules.erase(fieldSchedules.begin());
        }
    } else if (!loadRunInputs(reverse, &densities, &schedule)) {
        return;
    }
    if (!loadRunObstacles(picture ? fields.front() : densities, &obstacles)) {
        return;
    }
    statusBar()->showMessage(tr("Simulation in progress..."));
    runStatus->clear();
    setControlsEnabled(false);

    const double vf = ui->doubleSpinBox_1->value();
    const double vd = ui->doubleSpinBox_2->value();
    const double vg = ui->doubleSpinBox_3->value();
    const double sigma = ui->doubleSpinBox_4->value();
    const double dt = ui->doubleSpinBox_5->value();
    if (picture) {
        std::vector<SmokeInput> inputs;
        inputs.reserve(fields.size());
        for (const velloran::RunDensities &field : fields) {
            inputs.push_back(SmokeInput{&field.srcDensity, &field.tgtDensity});
        }
        simThread = new SimThread(this, inputs, vf, vd, vg, sigma, dt);
    } else {
        simThread =
            new SimThread(this, densities.srcDensity, densities.tgtDensity, vf, vd, vg, sigma, dt);
    }
    framePicture = picture;
    ui->glView->setColourPicture(picture);
    simThread->setStepRateLimit(stepRateLimit);
    simThread->setScheme(chosenScheme());
    if (obstacles) {
        simThread->setObstacles(*obstacles);
    }
    ui->glView->setObstacles(simThread->obstacles());
    frameObstacles.reset();
    if (simThread->obstacles()) {
        frameObstacles = *simThread->obstacles();
    }
    simThread->setTargetSchedule(std::move(schedule));
    simThread->setFieldSchedules(std::move(fieldSchedules));
    if (actions.actionRecord->isChecked()) {
        startRecording(recordingTitle() + (reverse ? tr(" (reverse)") : QString()));
    }

    // Connected before the start, so no signal of the run can be missed.
    connect(simThread, &QThread::finished, this, &MainWindow::simThreadFinished);
    connect(simThread, &SimThread::stepCompleted, this, &MainWindow::simThreadStepCompleted);
    connect(simThread, &SimThread::fpsUpdated, this, &MainWindow::simThreadFpsUpdated);
    simThread->start(QThread::IdlePriority);
}

void MainWindow::on_pushButton_Stop_clicked() {
    if (simThread) {
        simThread->requestStop();
    }
}

void MainWindow::simThreadFinished() {
    if (!simThread) {
        return;
    }
    simThread->wait();
    // The worker published its last finite step as it ended: show it.
    frameTimer->stop();
    if (simThread->notificationPending()) {
        showNewestFrame();
    }
    const std::int64_t unstableAt = simThread->unstableStep();
    delete simThread;
    simThread = nullptr;
    // The worker told the recorder that the run ended; it finishes by itself.
    if (recorder) {
        finishingRecorders.push_back(std::move(recorder));
    }
    statusBar()->showMessage(tr("Simulation stopped."));
    actions.actionPause->setChecked(false);
    setControlsEnabled(true);
    if (unstableAt > 0) {
        reportInstability(unstableAt);
    }
}

void MainWindow::reportInstability(std::int64_t step) {
    warn(tr("The simulation became unstable at step %1. Try a smaller time step or a weaker "
            "driving force.")
             .arg(step));
}

// Frames come when asked for, and unasked when the run pauses or ends.
void MainWindow::simThreadStepCompleted() {
    showNewestFrame();
}

int MainWindow::frameInterval(double lastFrameMs) {
    const double share = kFrameShare * lastFrameMs;
    // A frame that took seconds (a stalled display) must not stop the view.
    constexpr double kLongest = 1000.0;
    if (!(share > kFrameIntervalMs)) {
        return kFrameIntervalMs;
    }
    return static_cast<int>(std::ceil(std::min(share, kLongest)));
}

// A busy frame lock means the worker is publishing a newer frame right now;
// its notification follows, so nothing is lost by giving up here. The view
// copies the frame and paints later; the next frame is asked for once the
// interval is over.
void MainWindow::showNewestFrame() {
    if (!simThread || !simThread->takeNewestFrame(&frame)) {
        return;
    }
    if (ui->glView->copyGrids(frame.density, frame.u, frame.v, frame.fields)) {
        ui->glView->update();
    }
    runStatus->setText(runStatusText(frame.step, frame.distance, frame.target, frame.targets));
    actions.actionExportFrame->setEnabled(frame.density.NumCols() >= 3);
    frameTimer->start(frameInterval(ui->glView->lastFrameMs()));
}

void MainWindow::requestFrame() {
    if (simThread) {
        simThread->requestFrame();
    }
}

void MainWindow::pauseToggled(bool checked) {
    if (!simThread) {
        return;
    }
    simThread->setPaused(checked);
    statusBar()->showMessage(checked ? tr("Simulation paused.") : tr("Simulation in progress..."));
}

// The frame shown when the command is given, during a run or after it: the
// copy is taken before the dialog opens, so the file holds the step its name
// carries however many frames arrive while the dialog is open.
void MainWindow::exportFrameTriggered() {
    if (frame.density.NumCols() < 3) {
        return;
    }
    const SimFrame shown = frame;
    const QString png = tr("PNG Image Files (*.png)");
    const QString exr = tr("OpenEXR Images (*.exr)");
    const QString vdb = tr("OpenVDB Volumes (*.vdb)");
    const QString npy = tr("Raw Fields (*.npy)");
    const QStringList filters = {png, exr, vdb, npy};
    QString filter = png;
    QString name = QFileDialog::getSaveFileName(
        this, tr("Export frame"), QDir(QDir::currentPath()).filePath(exportFileName(shown, false)),
        filters.join(QStringLiteral(";;")), &filter);
    if (name.isEmpty()) {
        return;
    }
    const QString suffix = filter == exr   ? QStringLiteral(".exr")
                           : filter == vdb ? QStringLiteral(".vdb")
                           : filter == npy ? QStringLiteral(".npy")
                                           : QStringLiteral(".png");
    const QStringList known = {QStringLiteral(".png"), QStringLiteral(".exr"),
                               QStringLiteral(".vdb"), QStringLiteral(".npy")};
    if (std::none_of(known.begin(), known.end(),
                     [&](const QString &s) { return name.endsWith(s, Qt::CaseInsensitive); })) {
        name += suffix;
    }
    QString error;
    QStringList written;
    if (!exportFrame(name, shown, &error, frameObstacles ? &*frameObstacles : nullptr,
                     framePicture ? &*framePicture : nullptr, &written)) {
        warn(tr("Could not export the frame."), error);
        return;
    }
    QStringList names;
    for (const QString &path : written) {
        names << QFileInfo(path).fileName();
    }
    statusBar()->showMessage(tr("Exported %1 to %2.")
                                 .arg(names.join(QStringLiteral(", ")),
                                      QDir::toNativeSeparators(QFileInfo(name).absolutePath())));
}

// Applies at once to a run under way, and to every later run; not saved.
void MainWindow::speedChosen(QAction *action) {
    stepRateLimit = action->data().toDouble();
    if (simThread) {
        simThread->setStepRateLimit(stepRateLimit);
    }
}

void MainWindow::simThreadFpsUpdated(float fps) {
    statusBar()->showMessage(tr("FPS: %1").arg(static_cast<double>(fps), 0, 'g', 4));
}
