// The window's Record command: the recorder of the run under way and those
// still writing their last files.

#include "mainwindow.h"

#include "recorddialog.h"
#include "simthread.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QStatusBar>

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
        startRecording(recordingTitle());
    }
}

// The plot's title: the target's name, or the first field's of a colour run
// that names its images field by field.
QString MainWindow::recordingTitle() const {
    QString target = ui->lineEdit_Tgt->text();
    if (target.isEmpty() && colour && !colour->fields.empty()) {
        target = colour->fields.front().targetPath;
    }
    return QFileInfo(target).fileName();
}

void MainWindow::startRecording(const QString &title) {
    // A recorder still writing into the folder must be done before the next
    // one clears it.
    finishingRecorders.clear();
    QString error;
    recorder = Recorder::start(recordSettings, title, &error, simThread->obstacles(), framePicture);
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
