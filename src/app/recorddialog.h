#pragma once

// The Record... dialog: the folder to record into and how often a frame is
// written.

#include "recorder.h"

#include <QDialog>

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
    class QPushButton *m_ok;
};
