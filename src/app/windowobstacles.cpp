// The window's obstacle image: chosen, cleared, and made into a run's mask.

#include "mainwindow.h"

#include "obstacleimage.h"
#include "runsetup.h"
#include "ui_mainwindow.h"

#include <QDir>

void MainWindow::on_pushButton_LoadObst_clicked() {
    chooseImage(ui->lineEdit_Obst, tr("Load obstacle image"));
}

void MainWindow::on_pushButton_ClearObst_clicked() {
    ui->lineEdit_Obst->clear();
}

bool MainWindow::loadRunObstacles(const velloran::RunDensities &densities,
                                  std::optional<Grid> *mask) {
    const QString path = ui->lineEdit_Obst->text();
    if (path.isEmpty()) {
        return true;
    }
    const QString where = QDir::toNativeSeparators(path);
    if (chosenScheme() != velloran::Scheme::Sound) {
        warn(tr("Obstacles need the sound scheme: choose Control > Sound scheme, or clear the "
                "obstacle image."),
             where);
        return false;
    }
    Grid loaded(1, 1);
    QString reason;
    if (!velloran::loadObstacles(path, static_cast<int>(densities.srcDensity.NumCols()), &loaded,
                                 &reason)) {
        warn(tr("Could not load obstacle image."), QStringLiteral("%1: %2").arg(where, reason));
        return false;
    }
    const QString refusal = velloran::obstacleRefusal(
        velloran::Scheme::Sound, {{&densities.srcDensity, &densities.tgtDensity}}, loaded);
    if (!refusal.isEmpty()) {
        warn(tr("The obstacle image cannot be used: %1.").arg(refusal), where);
        return false;
    }
    *mask = std::move(loaded);
    return true;
}
