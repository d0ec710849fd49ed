// The window's configuration commands: Load, Open Example and Save, and what a
// loaded configuration changes in the window.

#include "mainwindow.h"

#include "configfile.h"
#include "examples.h"
#include "formparameters.h"
#include "parameters.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTimer>

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
    ui->glView->setObstacles(nullptr);
    frameObstacles.reset();
    framePicture.reset();
    ui->glView->setColourPicture(std::nullopt);
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
    // Absent, they mean a plain literal run without obstacles: a file without
    // them runs as it always did.
    chooseScheme(configuration.scheme.value_or(velloran::Scheme::Literal));
    keyframes = configuration.keyframes;
    ui->lineEdit_Obst->setText(configuration.obstacles.value_or(QString()));
    colour = configuration.colour;
    if (colour && !colour->fields.empty()) {
        // Its fields name their own images; nothing else may look like the run's.
        ui->lineEdit_Src->clear();
        ui->lineEdit_Tgt->clear();
    }
    offerReverse();
    offerImages();
    // The colour, the keyframes or the scheme may have changed with the paths unchanged.
    previewTimer->start();
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
    const velloran::SchemeAndKeyframes extras{chosenScheme(), keyframes, ui->lineEdit_Obst->text(),
                                              colour};
    if (!velloran::writeConfigurationFile(name, parameters, ui->lineEdit_Src->text(),
                                          ui->lineEdit_Tgt->text(), nullptr, extras)) {
        warn(tr("Could not save configuration file."));
        return;
    }
    setWindowFilePath(name);
}
