// Colour runs in the window: their images come from the configuration (a
// palette over the two images, or fields named one by one), and the commands
// that would change a single image are held back while one is loaded.

#include "mainwindow.h"

#include "colourfields.h"
#include "colourkeyframes.h"
#include "fieldinputs.h"
#include "keyframes.h"
#include "ui_mainwindow.h"

void MainWindow::offerImages() {
    const bool idle = ui->actionStart->isEnabled(); // as setControlsEnabled left it
    const bool single = idle && !colour;
    for (QWidget *widget :
         {static_cast<QWidget *>(ui->lineEdit_Src), static_cast<QWidget *>(ui->lineEdit_Tgt),
          static_cast<QWidget *>(ui->pushButton_LoadSrc),
          static_cast<QWidget *>(ui->pushButton_LoadTgt),
          static_cast<QWidget *>(ui->pushButton_Swap)}) {
        widget->setEnabled(single);
    }
    ui->actionLoadSrc->setEnabled(single);
    ui->actionLoadTgt->setEnabled(single);
    ui->actionSwap->setEnabled(single);
    ui->groupBox_Images->setToolTip(
        colour ? tr("A colour run takes its images from its configuration; load another "
                    "configuration to change them.")
               : QString());
}

bool MainWindow::loadColourInputs(
    bool reverse, std::vector<velloran::RunDensities> *fields, velloran::ColourPicture *picture,
    std::vector<std::unique_ptr<velloran::TargetSchedule>> *schedules) {
    if (!keyframes.empty() && reverse) {
        warn(velloran::keyframesInReverseMessage());
        return false;
    }
    picture->mode = colour->mode;
    picture->colours.clear();
    std::optional<velloran::Palette> palette; // a palette run's, for its keyframe images
    if (colour->fields.empty()) {
        velloran::ColourFields found;
        QString error;
        if (!velloran::readColourFields(ui->lineEdit_Src->text(), ui->lineEdit_Tgt->text(), reverse,
                                        colour->palette.value_or(velloran::PaletteRequest{}),
                                        &found, &error)) {
            warn(tr("Could not read the colour run's images."), error);
            return false;
        }
        *fields = std::move(found.fields);
        picture->colours = found.palette.colours;
        palette = std::move(found.palette);
    } else if (!loadFieldInputs(reverse, fields, picture)) {
        return false;
    }
    QString error;
    if (!keyframes.empty() &&
        !velloran::loadColourSchedules(keyframes, *fields, palette ? &*palette : nullptr,
                                       picture->colours, schedules, &error)) {
        warn(error);
        return false;
    }
    return true;
}

// A run of fields named one by one: each field's pair of images, all of one
// size.
bool MainWindow::loadFieldInputs(bool reverse, std::vector<velloran::RunDensities> *fields,
                                 velloran::ColourPicture *picture) {
    FieldInputsProblem problem;
    if (!readFieldInputs(colour->fields, reverse, fields, &picture->colours, &problem)) {
        warn(problem.text, problem.details);
        return false;
    }
    return true;
}
