#pragma once

// The Record... dialog: the folder to record into, how often a frame is
// written and which of the renderer's other formats (EXR images, OpenVDB
// volumes, raw .npy fields) are written beside the PNG frames.

#include "recorder.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSpinBox;

class RecordDialog : public QDialog {
    Q_OBJECT

public:
    RecordDialog(QWidget *parent, const Recorder::Settings &initial);

    Recorder::Settings settings() const;

private:
    void browse();
    void updateOk();

    QLineEdit *m_folder;
    QSpinBox *m_every;
    QCheckBox *m_exr;
    QCheckBox *m_vdb;
    QCheckBox *m_npy;
    class QPushButton *m_ok;
};
