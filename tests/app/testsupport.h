#pragma once

// Helpers for the window tests: answering modal boxes and dialogs without
// blocking, and writing small test images.

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <typeinfo>

namespace testsupport {

// Waits (from a timer, while the caller is blocked in the modal loop) for a
// modal widget of type T and hands it to fn. Whatever fn leaves open is
// rejected. The wait has no time limit of its own, so a busy machine cannot
// make it give up before the dialog comes; the timer belongs to `owner` (the
// test object, whose cleanup() deletes leftover timers), and a dialog that
// never comes ends the test through QtTest's function time-out. A new answer
// replaces one of the same type still waiting, so that an answer armed for a
// dialog that (rightly) never came cannot take a later one.
template <typename T> void whenModal(QObject *owner, std::function<void(T *)> fn) {
    const QString key = QStringLiteral("whenModal %1").arg(QLatin1String(typeid(T).name()));
    qDeleteAll(owner->findChildren<QTimer *>(key, Qt::FindDirectChildrenOnly));
    auto *timer = new QTimer(owner);
    timer->setObjectName(key);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, fn] {
        auto *widget = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!widget) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        fn(widget);
        if (widget->isVisible()) {
            static_cast<QDialog *>(widget)->reject();
        }
    });
    timer->start(10);
}

// Arms a catcher for the next message box: records its title and text and
// presses its default button.
struct BoxSeen {
    QString title;
    QString text;
    QString details; // the informative text below the text
    int count = 0;
};

inline void catchBox(QObject *owner, BoxSeen *seen) {
    whenModal<QMessageBox>(owner, [seen](QMessageBox *box) {
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->details = box->informativeText();
        ++seen->count;
        if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->accept();
        }
    });
}

// Accepts `path` as if typed into the dialog's name field. The field is set
// directly and the dialog's own accept() runs (it checks the name as the Save
// or Open button would): selectFile() leaves the field alone whenever it has
// the keyboard focus, which depends on when the window manager's focus event
// arrives, and a key press depends on the button's state.
inline void acceptFileName(QFileDialog *dialog, const QString &path) {
    dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
    static_cast<QDialog *>(dialog)->accept();
}

// Arms an answer for the next file dialog: records its caption and filters and
// accepts `path` (or cancels when path is empty).
struct DialogSeen {
    QString caption;
    QStringList filters;
    QString directory;
    QString offered; // the file the dialog proposed
    bool confirmOverwrite = true;
};

inline void answerFileDialog(QObject *owner, const QString &path, DialogSeen *seen = nullptr) {
    whenModal<QFileDialog>(owner, [path, seen](QFileDialog *dialog) {
        if (seen) {
            seen->caption = dialog->windowTitle();
            seen->filters = dialog->nameFilters();
            seen->directory = dialog->directory().absolutePath();
            seen->offered = dialog->selectedFiles().value(0);
            seen->confirmOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        }
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        acceptFileName(dialog, path);
    });
}

// A width x height RGB image whose blue channel is blue(x, y); red and green
// are set to unrelated values so a conversion that reads them shows.
inline bool writeImage(const QString &path, int width, int height,
                       const std::function<int(int, int)> &blue) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb((x * 37) % 256, (y * 53) % 256, blue(x, y)));
        }
    }
    return image.save(path, "PNG");
}

// The small run most window tests make: a disc of smoke gathering into a
// vertical bar, both 16 x 16.
inline bool writeDiscAndBar(const QString &disc, const QString &bar) {
    return writeImage(disc, 16, 16,
                      [](int x, int y) {
                          return (x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) < 25 ? 255 : 0;
                      }) &&
           writeImage(bar, 16, 16, [](int x, int) { return x >= 6 && x < 10 ? 255 : 0; });
}

// Fills in the window's two image paths and five parameters, then starts a run.
inline void startRunIn(QWidget *window, const QString &source, const QString &target,
                       const std::array<double, 5> &values) {
    window->findChild<QLineEdit *>(QStringLiteral("lineEdit_Src"))->setText(source);
    window->findChild<QLineEdit *>(QStringLiteral("lineEdit_Tgt"))->setText(target);
    for (int k = 0; k < 5; ++k) {
        window->findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBox_%1").arg(k + 1))
            ->setValue(values[static_cast<std::size_t>(k)]);
    }
    window->findChild<QAction *>(QStringLiteral("actionStart"))->trigger();
}

} // namespace testsupport
