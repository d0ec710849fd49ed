#pragma once

// The Record... dialog: the folder to record into, how often a frame is
// written and whether OpenVDB volumes are written beside the PNG frames.

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
    QCheckBox *m_vdb;
    class QPushButton *m_ok;
};
