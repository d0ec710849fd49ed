#include "recorddialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

RecordDialog::RecordDialog(QWidget *parent, const Recorder::Settings &initial)
    : QDialog(parent)
    , m_folder(new QLineEdit(initial.folder, this))
    , m_every(new QSpinBox(this))
    , m_exr(new QCheckBox(tr("EXR images (.exr) too"), this))
    , m_vdb(new QCheckBox(tr("OpenVDB volumes (.vdb) too"), this))
    , m_npy(new QCheckBox(tr("Raw fields (.npy) too"), this)) {
    setWindowTitle(tr("Record"));
    m_folder->setObjectName("lineEdit_RecordFolder");
    auto *browse = new QPushButton(tr("Browse..."), this);
    browse->setObjectName("pushButton_RecordBrowse");
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder);
    folderRow->addWidget(browse);

    m_every->setObjectName("spinBox_RecordEvery");
    m_every->setRange(1, 1000000);
    m_every->setValue(initial.every);
    m_every->setSuffix(tr(" steps"));
    m_exr->setObjectName("checkBox_RecordExr");
    m_exr->setChecked(initial.exr);
    m_vdb->setObjectName("checkBox_RecordVdb");
    m_vdb->setChecked(initial.vdb);
    m_npy->setObjectName("checkBox_RecordNpy");
    m_npy->setChecked(initial.npy);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);

    auto *form = new QFormLayout(this);
    form->addRow(tr("Folder:"), folderRow);
    form->addRow(tr("A frame every:"), m_every);
    form->addRow(QString(), m_exr);
    form->addRow(QString(), m_vdb);
    form->addRow(QString(), m_npy);
    form->addRow(buttons);

    connect(browse, &QPushButton::clicked, this, &RecordDialog::browse);
    connect(m_folder, &QLineEdit::textChanged, this, &RecordDialog::updateOk);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    updateOk();
}

Recorder::Settings RecordDialog::settings() const {
    Recorder::Settings settings;
    settings.folder = m_folder->text().trimmed();
    settings.every = m_every->value();
    settings.exr = m_exr->isChecked();
    settings.vdb = m_vdb->isChecked();
    settings.npy = m_npy->isChecked();
    return settings;
}

void RecordDialog::browse() {
    const QString start =
        m_folder->text().trimmed().isEmpty() ? QDir::currentPath() : m_folder->text().trimmed();
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Record into folder"), start);
    if (!folder.isEmpty()) {
        m_folder->setText(folder);
    }
}

void RecordDialog::updateOk() {
    m_ok->setEnabled(!m_folder->text().trimmed().isEmpty());
}
