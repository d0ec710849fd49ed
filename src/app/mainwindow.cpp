#include "mainwindow.h"

#include "configfile.h"
#include "examples.h"
#include "formparameters.h"
#include "frameexport.h"
#include "keyframes.h"
#include "parameters.h"
#include "recorddialog.h"
#include "runsetup.h"
#include "runstatus.h"
#include "simthread.h"
#include "ui_mainwindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cmath>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , runStatus(nullptr)
    , simThread(nullptr)
    , frameTimer(new QTimer(this)) {
    ui->setupUi(this);
    applyParameterRanges(*ui);
    actions.setupUi(this, *ui);
    runStatus = new QLabel(this);
    runStatus->setObjectName("label_RunStatus");
    statusBar()->addPermanentWidget(runStatus);
    frameTimer->setSingleShot(true);
    connect(frameTimer, &QTimer::timeout, this, &MainWindow::requestFrame);
    setControlsEnabled(true);

    // The image and parameter panels start folded away behind "More >>".
    ui->groupBox_Images->hide();
    ui->groupBox_Params->hide();
    setMoreText();

    setWindowFilePath(tr("Untitled"));

    // Each command action does what its push button does.
    connect(ui->actionLoadConf, &QAction::triggered, this,
            &MainWindow::on_pushButton_LoadConf_clicked);
    connect(ui->actionSaveConf, &QAction::triggered, this,
            &MainWindow::on_pushButton_SaveConf_clicked);
    connect(ui->actionStart, &QAction::triggered, this, &MainWindow::on_pushButton_Start_clicked);
    connect(ui->actionStartRev, &QAction::triggered, this,
            &MainWindow::on_pushButton_StartRev_clicked);
    connect(ui->actionStop, &QAction::triggered, this, &MainWindow::on_pushButton_Stop_clicked);
    connect(ui->actionLoadSrc, &QAction::triggered, this,
            &MainWindow::on_pushButton_LoadSrc_clicked);
    connect(ui->actionLoadTgt, &QAction::triggered, this,
            &MainWindow::on_pushButton_LoadTgt_clicked);
    connect(ui->actionSwap, &QAction::triggered, this, &MainWindow::on_pushButton_Swap_clicked);
    connect(ui->actionQuit, &QAction::triggered, qApp, &QCoreApplication::quit);

    connect(actions.actionPause, &QAction::toggled, this, &MainWindow::pauseToggled);
    connect(actions.menuOpenExample, &QMenu::triggered, this, &MainWindow::openExample);
    connect(actions.actionExportFrame, &QAction::triggered, this,
            &MainWindow::exportFrameTriggered);
    actions.actionExportFrame->setEnabled(false); // until there is a frame
    connect(actions.actionRecord, &QAction::toggled, this, &MainWindow::recordToggled);
    recordSettings.folder = QDir(QDir::currentPath()).filePath(QStringLiteral("render-out"));
    connect(actions.speedGroup, &QActionGroup::triggered, this, &MainWindow::speedChosen);
}

MainWindow::~MainWindow() {
    delete ui;
    ui = nullptr;
    if (simThread) {
        // No slot of the run may run any more; the step under way finishes.
        simThread->disconnect();
        simThread->requestStop();
        simThread->wait();
        delete simThread;
        simThread = nullptr;
    }
    // Whatever is recorded reaches the disk before the window goes.
    if (recorder) {
        recorder->disconnect(this);
        recorder->finish();
    }
    for (const auto &finishing : finishingRecorders) {
        finishing->disconnect(this);
    }
}

void MainWindow::changeEvent(QEvent *event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange && ui) {
        ui->retranslateUi(this);
        actions.retranslateUi();
        offerReverse();
        // The form's own text for the More button does not say which way it goes.
        setMoreText();
    }
}

// Idle (true): every command but Stop and Pause. Running (false): only Stop
// and Pause among the commands that change images, parameters or the
// configuration. The view mode, the speed, More/Less, the About boxes and Quit
// stay available in both states.
void MainWindow::setControlsEnabled(bool enabled) {
    ui->actionLoadConf->setEnabled(enabled);
    ui->actionSaveConf->setEnabled(enabled);
    ui->actionStart->setEnabled(enabled);
    ui->actionStartRev->setEnabled(enabled);
    ui->actionStop->setEnabled(!enabled);
    ui->actionLoadSrc->setEnabled(enabled);
    ui->actionLoadTgt->setEnabled(enabled);
    ui->actionSwap->setEnabled(enabled);
    ui->pushButton_LoadConf->setEnabled(enabled);
    ui->pushButton_SaveConf->setEnabled(enabled);
    ui->pushButton_Start->setEnabled(enabled);
    ui->pushButton_StartRev->setEnabled(enabled);
    ui->pushButton_Stop->setEnabled(!enabled);
    ui->lineEdit_Src->setEnabled(enabled);
    ui->lineEdit_Tgt->setEnabled(enabled);
    ui->pushButton_LoadSrc->setEnabled(enabled);
    ui->pushButton_LoadTgt->setEnabled(enabled);
    ui->pushButton_Swap->setEnabled(enabled);
    ui->doubleSpinBox_1->setEnabled(enabled);
    ui->doubleSpinBox_2->setEnabled(enabled);
    ui->doubleSpinBox_3->setEnabled(enabled);
    ui->doubleSpinBox_4->setEnabled(enabled);
    ui->doubleSpinBox_5->setEnabled(enabled);
    actions.actionPause->setEnabled(!enabled);
    actions.schemeGroup->setEnabled(enabled);
    actions.menuOpenExample->setEnabled(enabled && !actions.examplesFolder.isEmpty());
    offerReverse();
}

// Keyframes give a run a sequence of targets, which has no reverse: while the
// configuration has them, "Start in reverse" is not offered, and its tool tip
// says why. Without them it has its own enabled state and tool tip.
void MainWindow::offerReverse() {
    const bool idle = ui->actionStart->isEnabled(); // as setControlsEnabled left it
    const bool offered = idle && keyframes.empty();
    const QString tip = keyframes.empty() ? tr("Start simulation in reverse")
                                          : velloran::keyframesInReverseMessage();
    ui->actionStartRev->setEnabled(offered);
    ui->pushButton_StartRev->setEnabled(offered);
    ui->actionStartRev->setToolTip(tip);
    ui->pushButton_StartRev->setToolTip(tip);
}

void MainWindow::warn(const QString &text, const QString &details) {
    QMessageBox box(QMessageBox::Warning, tr("Velloran"), text, QMessageBox::Ok, this);
    box.setInformativeText(details);
    box.exec();
}

velloran::Scheme MainWindow::chosenScheme() const {
    return actions.actionSoundScheme->isChecked() ? velloran::Scheme::Sound
                                                  : velloran::Scheme::Literal;
}

void MainWindow::chooseScheme(velloran::Scheme scheme) {
    (scheme == velloran::Scheme::Sound ? actions.actionSoundScheme : actions.actionLiteralScheme)
        ->setChecked(true);
}

// ---------------------------------------------------------------- configuration

void MainWindow::on_pushButton_LoadConf_clicked() {
    const QString name = QFileDialog::getOpenFileName(
        this, tr("Load configuration"), QDir::currentPath(), tr("Configuration Files (*.xml)"));
    if (name.isEmpty()) {
        return;
    }
    applyConfigurationFile(name, velloran::readConfigurationFile(name));
}

// The example's file as Load would read it, with absolute image paths, so a
// run starts whatever the working folder.
void MainWindow::openExample(QAction *action) {
    const velloran::Example *example = velloran::findExample(action->data().toString());
    if (!example || actions.examplesFolder.isEmpty()) {
        return;
    }
    applyConfigurationFile(
        QDir(actions.examplesFolder).filePath(example->name + QStringLiteral(".xml")),
        velloran::readExampleConfiguration(*example, actions.examplesFolder));
}

void MainWindow::applyConfigurationFile(const QString &name,
                                        const velloran::ConfigReadResult &result) {
    switch (result.status) {
    case velloran::ConfigStatus::OpenFailed:
        warn(tr("Could not open configuration file."),
             QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(name), result.detail));
        return;
    case velloran::ConfigStatus::NotWellFormed:
        // The detail says what is wrong: a parser message, or the scheme or
        // keyframe that cannot be used.
        warn(tr("Invalid configuration file."),
             QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(name), result.detail));
        return;
    case velloran::ConfigStatus::Parsed:
        break;
    }
    // A well-formed file with another root element changes nothing but the
    // window's file path.
    if (result.rootRecognised) {
        applyConfiguration(result.configuration);
        clearLastRun();
    }
    setWindowFilePath(name);
}

// The picture and the step, distance and target of the last run belong to
// the configuration it was run with, not to one loaded since.
void MainWindow::clearLastRun() {
    frame = SimFrame();
    ui->glView->setGrids(frame.density, frame.u, frame.v);
    runStatus->clear();
    actions.actionExportFrame->setEnabled(false);
}

// Values pass through the parameter table's clamping, which gives exactly
// what the spin box would hold but also defines NaN and infinities, so no
// value outside a box's range and nothing non-finite ever reaches a run.
void MainWindow::applyConfiguration(const velloran::Configuration &configuration) {
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        if (configuration.values[k]) {
            parameterBox(*ui, k)->setValue(velloran::clampParameter(k, *configuration.values[k]));
        }
    }
    if (configuration.source) {
        ui->lineEdit_Src->setText(*configuration.source);
    }
    if (configuration.target) {
        ui->lineEdit_Tgt->setText(*configuration.target);
    }
    // Absent, they mean a plain literal run: a file without them runs as it
    // always did.
    chooseScheme(configuration.scheme.value_or(velloran::Scheme::Literal));
    keyframes = configuration.keyframes;
    offerReverse();
}

void MainWindow::on_pushButton_SaveConf_clicked() {
    QString name = QFileDialog::getSaveFileName(this, tr("Save configuration"), QDir::currentPath(),
                                                tr("Configuration Files (*.xml)"), nullptr,
                                                QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty()) {
        return;
    }
    name = velloran::withXmlSuffix(name);

    velloran::SimParameters parameters;
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        parameters[k] = parameterBox(*ui, k)->value();
    }
    // The file is replaced only once the new one is complete; a failure at
    // any point, writing included, leaves the old file and the title alone.
    const velloran::SchemeAndKeyframes extras{chosenScheme(), keyframes};
    if (!velloran::writeConfigurationFile(name, parameters, ui->lineEdit_Src->text(),
                                          ui->lineEdit_Tgt->text(), nullptr, extras)) {
        warn(tr("Could not save configuration file."));
        return;
    }
    setWindowFilePath(name);
}

// ---------------------------------------------------------------- runs

void MainWindow::on_pushButton_Start_clicked() {
    startSimulation(false);
}

void MainWindow::on_pushButton_StartRev_clicked() {
    startSimulation(true);
}

void MainWindow::startSimulation(bool reverse) {
    if (simThread) {
        return;
    }
    velloran::RunDensities densities;
    QString reason;
    const velloran::RunSetupError error = velloran::prepareRun(
        ui->lineEdit_Src->text(), ui->lineEdit_Tgt->text(), reverse, &densities, &reason);
    if (error != velloran::RunSetupError::None) {
        // Below the message: which file, and why when the message does not say.
        const QString path =
            velloran::isSourceProblem(error) ? ui->lineEdit_Src->text() : ui->lineEdit_Tgt->text();
        warn(velloran::runSetupMessage(error),
             path.isEmpty() ? reason
             : reason.isEmpty()
                 ? QDir::toNativeSeparators(path)
                 : QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    std::unique_ptr<velloran::TargetSchedule> schedule;
    if (!keyframes.empty()) {
        if (reverse) {
            warn(velloran::keyframesInReverseMessage());
            return;
        }
        const int n = static_cast<int>(densities.srcDensity.NumCols());
        std::vector<velloran::Keyframe> targets;
        QString keyframeError;
        if (!velloran::loadKeyframeTargets(keyframes, QImageReader(ui->lineEdit_Tgt->text()).size(),
                                           n, &targets, &keyframeError)) {
            warn(keyframeError);
            return;
        }
        schedule =
            std::make_unique<velloran::TargetSchedule>(densities.tgtDensity, std::move(targets));
    }

    statusBar()->showMessage(tr("Simulation in progress..."));
    runStatus->clear();
    setControlsEnabled(false);

    const double vf = ui->doubleSpinBox_1->value();
    const double vd = ui->doubleSpinBox_2->value();
    const double vg = ui->doubleSpinBox_3->value();
    const double sigma = ui->doubleSpinBox_4->value();
    const double dt = ui->doubleSpinBox_5->value();
    simThread =
        new SimThread(this, densities.srcDensity, densities.tgtDensity, vf, vd, vg, sigma, dt);
    simThread->setStepRateLimit(stepRateLimit);
    simThread->setScheme(chosenScheme());
    simThread->setTargetSchedule(std::move(schedule));
    if (actions.actionRecord->isChecked()) {
        const QString title = QFileInfo(ui->lineEdit_Tgt->text()).fileName() +
                              (reverse ? tr(" (reverse)") : QString());
        startRecording(title);
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
    if (ui->glView->copyGrids(frame.density, frame.u, frame.v)) {
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
    QString filter = png;
    QString name = QFileDialog::getSaveFileName(
        this, tr("Export frame"), QDir(QDir::currentPath()).filePath(exportFileName(shown, false)),
        QStringList({png, exr, vdb}).join(QStringLiteral(";;")), &filter);
    if (name.isEmpty()) {
        return;
    }
    const QString suffix = filter == exr   ? QStringLiteral(".exr")
                           : filter == vdb ? QStringLiteral(".vdb")
                                           : QStringLiteral(".png");
    const QStringList known = {QStringLiteral(".png"), QStringLiteral(".exr"),
                               QStringLiteral(".vdb")};
    if (std::none_of(known.begin(), known.end(),
                     [&](const QString &s) { return name.endsWith(s, Qt::CaseInsensitive); })) {
        name += suffix;
    }
    QString error;
    if (!exportFrame(name, shown, &error)) {
        warn(tr("Could not export the frame."), error);
    }
}

// ---------------------------------------------------------------- recording

// Checked: asks where and how often, then records the run under way (from
// its next step) and every run started while it stays checked. Unchecked:
// the recording of the run under way stops.
void MainWindow::recordToggled(bool checked) {
    if (!checked) {
        stopRecording();
        return;
    }
    RecordDialog dialog(this, recordSettings);
    if (dialog.exec() != QDialog::Accepted) {
        setRecordChecked(false);
        return;
    }
    recordSettings = dialog.settings();
    // A recording still writing its last files holds its folder's lock.
    finishingRecorders.clear();
    QString error;
    if (!Recorder::canRecordInto(recordSettings.folder, &error)) {
        warn(tr("Cannot record into %1.").arg(recordSettings.folder), error);
        setRecordChecked(false);
        return;
    }
    if (simThread) {
        startRecording(QFileInfo(ui->lineEdit_Tgt->text()).fileName());
    }
}

void MainWindow::startRecording(const QString &title) {
    // A recorder still writing into the folder must be done before the next
    // one clears it.
    finishingRecorders.clear();
    QString error;
    recorder = Recorder::start(recordSettings, title, &error);
    if (!recorder) {
        warn(tr("Cannot record into %1.").arg(recordSettings.folder), error);
        setRecordChecked(false);
        return;
    }
    connect(recorder.get(), &Recorder::finished, this, &MainWindow::recordingFinished);
    connect(recorder.get(), &Recorder::failed, this, &MainWindow::recordingFailed);
    simThread->setStepObserver(recorder);
}

void MainWindow::stopRecording() {
    if (!recorder) {
        return;
    }
    if (simThread) {
        simThread->setStepObserver(nullptr);
    }
    recorder->finish();
    finishingRecorders.push_back(std::move(recorder));
}

void MainWindow::recordingFinished() {
    auto *done = qobject_cast<Recorder *>(sender());
    if (!done) {
        return;
    }
    QString text = tr("Recording stopped: %1 frames written to %2, %3 skipped.")
                       .arg(done->framesWritten())
                       .arg(QDir::toNativeSeparators(done->settings().folder))
                       .arg(done->framesSkipped());
    if (done->linesDropped() > 0) {
        text += tr(" %1 metrics lines dropped.").arg(done->linesDropped());
    }
    statusBar()->showMessage(text);
    for (auto it = finishingRecorders.begin(); it != finishingRecorders.end(); ++it) {
        if (it->get() == done) {
            finishingRecorders.erase(it);
            break;
        }
    }
}

// A file could not be written (a full disk, a folder taken away): the
// recording ends, the run goes on.
void MainWindow::recordingFailed(const QString &error) {
    if (recorder && recorder.get() == sender()) {
        stopRecording();
        setRecordChecked(false);
    }
    warn(tr("Recording stopped: a file could not be written."), error);
}

void MainWindow::setRecordChecked(bool checked) {
    const QSignalBlocker blocker(actions.actionRecord);
    actions.actionRecord->setChecked(checked);
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

// ---------------------------------------------------------------- view mode

void MainWindow::on_actionDensity_triggered() {
    ui->radioButton_Density->click();
}

void MainWindow::on_actionVelocity_triggered() {
    ui->radioButton_Velocity->click();
}

// The actions are not an exclusive group: re-triggering a checked action
// unchecks it first, and the click on the already-checked radio button then
// checks it again.
void MainWindow::on_radioButton_Density_clicked() {
    ui->actionDensity->setChecked(true);
    ui->actionVelocity->setChecked(false);
}

void MainWindow::on_radioButton_Velocity_clicked() {
    ui->actionVelocity->setChecked(true);
    ui->actionDensity->setChecked(false);
}

// The radio buttons are exclusive, so watching one of them covers both.
void MainWindow::on_radioButton_Density_toggled(bool checked) {
    ui->glView->setViewMode(checked ? Density : Velocity);
}

// ---------------------------------------------------------------- panels, images, about

void MainWindow::on_pushButton_More_clicked(bool checked) {
    ui->groupBox_Images->setVisible(checked);
    ui->groupBox_Params->setVisible(checked);
    setMoreText();
}

void MainWindow::setMoreText() {
    ui->pushButton_More->setText(ui->pushButton_More->isChecked() ? tr("Less <<") : tr("More >>"));
}

void MainWindow::on_pushButton_LoadSrc_clicked() {
    const QString name = QFileDialog::getOpenFileName(
        this, tr("Load source image"), QDir::currentPath(), tr("PNG Image Files (*.png)"));
    if (!name.isEmpty()) {
        ui->lineEdit_Src->setText(name);
        ui->lineEdit_Src->setFocus();
    }
}

void MainWindow::on_pushButton_LoadTgt_clicked() {
    const QString name = QFileDialog::getOpenFileName(
        this, tr("Load target image"), QDir::currentPath(), tr("PNG Image Files (*.png)"));
    if (!name.isEmpty()) {
        ui->lineEdit_Tgt->setText(name);
        ui->lineEdit_Tgt->setFocus();
    }
}

void MainWindow::on_pushButton_Swap_clicked() {
    const QString source = ui->lineEdit_Src->text();
    const QString target = ui->lineEdit_Tgt->text();
    ui->lineEdit_Src->setText(target);
    ui->lineEdit_Tgt->setText(source);
}

void MainWindow::on_actionAbout_triggered() {
    QMessageBox::about(
        this, tr("About Velloran"),
        tr("<p>Velloran is based on the method published as <i>Target-Driven Smoke "
           "Animation</i> by Raanan Fattal and Dani Lischinski (SIGGRAPH 2004).</p><br><br>"
           "<p>Version %2. Written by the Velloran developers. Visit the project's web site: "
           "<a href=\"%1\">%1</a></p>")
            .arg(QStringLiteral("https://velloran.example.org/"),
                 QApplication::applicationVersion()));
}

void MainWindow::on_actionAboutQt_triggered() {
    QMessageBox::aboutQt(this, tr("About Qt"));
}
