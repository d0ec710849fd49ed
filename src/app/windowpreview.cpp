// The Images panel's target preview, redrawn whenever what the run would
// chase can change: the image paths (typed, chosen or swapped), the obstacle
// image, the scheme (only a sound run has obstacles) and a loaded
// configuration (its colour mode, palette or fields, its keyframes). Changes
// that come together (a configuration sets several fields) are drawn once,
// from the event loop. The images are read on a thread of the pool, one
// preview at a time: splitting a large colour target takes about a second,
// and the window stays responsive meanwhile; a change made during a reading
// is read again when it ends.

#include "mainwindow.h"

#include "targetpreview.h"
#include "ui_mainwindow.h"

#include <QActionGroup>
#include <QLabel>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <set>

void MainWindow::watchTargetPreview() {
    previewTimer->setSingleShot(true);
    connect(previewTimer, &QTimer::timeout, this, &MainWindow::readTargetPreview);
    connect(previewWatcher, &QFutureWatcherBase::finished, this, &MainWindow::showTargetPreview);
    for (QLineEdit *field : {ui->lineEdit_Src, ui->lineEdit_Tgt, ui->lineEdit_Obst}) {
        connect(field, &QLineEdit::textChanged, previewTimer, qOverload<>(&QTimer::start));
    }
    connect(actions.schemeGroup, &QActionGroup::triggered, previewTimer,
            qOverload<>(&QTimer::start));
    previewTimer->start();
}

void MainWindow::readTargetPreview() {
    if (previewWatcher->isRunning()) {
        previewStale = true;
        return;
    }
    previewStale = false;
    const QString obstacles =
        chosenScheme() == velloran::Scheme::Sound ? ui->lineEdit_Obst->text() : QString();
    previewWatcher->setFuture(QtConcurrent::run(previewTarget, ui->lineEdit_Src->text(),
                                                ui->lineEdit_Tgt->text(), obstacles, colour));
}

void MainWindow::showTargetPreview() {
    if (previewStale) {
        readTargetPreview();
        return;
    }
    const TargetPreview preview = previewWatcher->result();
    QLabel *shown = ui->label_TgtPreview;
    QLabel *note = ui->label_TgtPreviewNote;
    if (preview.picture.isNull()) {
        shown->clear();
        note->setText(preview.problem);
        note->setToolTip(preview.details);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap picture = QPixmap::fromImage(preview.picture.scaled(
        shown->contentsRect().size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture.setDevicePixelRatio(ratio);
    shown->setPixmap(picture);
    // Every keyframe step brings the next target; the preview shows the first.
    std::set<qint64> steps;
    for (const velloran::KeyframeEntry &entry : keyframes) {
        steps.insert(entry.step);
    }
    note->setText(steps.empty() ? tr("Target")
                                : tr("Target 1/%1").arg(static_cast<int>(steps.size()) + 1));
    note->setToolTip(QString());
}
