#include "mainwindow.h"

#include "formparameters.h"
#include "keyframes.h"
#include "simthread.h"
#include "ui_mainwindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

// The window itself: its making, its states and the commands that only
// change the window (view mode, panels, images, About). Configuration, runs
// and recording are windowconfiguration.cpp, windowrun.cpp and
// windowrecording.cpp.

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , runStatus(nullptr)
    , simThread(nullptr)
    , frameTimer(new QTimer(this))
    , previewTimer(new QTimer(this))
    , previewWatcher(new QFutureWatcher<TargetPreview>(this)) {
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
    watchTargetPreview();
}

MainWindow::~MainWindow() {
    // A preview still being read ends unseen (the pool finishes it).
    previewWatcher->disconnect(this);
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
        offerImages();
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
    ui->lineEdit_Obst->setEnabled(enabled);
    ui->pushButton_LoadObst->setEnabled(enabled);
    ui->pushButton_ClearObst->setEnabled(enabled);
    ui->doubleSpinBox_1->setEnabled(enabled);
    ui->doubleSpinBox_2->setEnabled(enabled);
    ui->doubleSpinBox_3->setEnabled(enabled);
    ui->doubleSpinBox_4->setEnabled(enabled);
    ui->doubleSpinBox_5->setEnabled(enabled);
    actions.actionPause->setEnabled(!enabled);
    actions.schemeGroup->setEnabled(enabled);
    actions.menuOpenExample->setEnabled(enabled && !actions.examplesFolder.isEmpty());
    offerReverse();
    offerImages();
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

void MainWindow::chooseImage(QLineEdit *field, const QString &caption) {
    const QString name = QFileDialog::getOpenFileName(this, caption, QDir::currentPath(),
                                                      tr("PNG Image Files (*.png)"));
    if (!name.isEmpty()) {
        field->setText(name);
        field->setFocus();
    }
}

void MainWindow::on_pushButton_LoadSrc_clicked() {
    chooseImage(ui->lineEdit_Src, tr("Load source image"));
}

void MainWindow::on_pushButton_LoadTgt_clicked() {
    chooseImage(ui->lineEdit_Tgt, tr("Load target image"));
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
