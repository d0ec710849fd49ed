#pragma once

// WindowActions: the commands the window adds to its form: Pause, the Speed
// submenu, Open Example, Export frame..., Record... and the choice of scheme.
//
// They are built in code right after the form's setupUi and placed into the
// form's menus and tool bar, so the form itself stays exactly what Qt Designer
// shows. Like the form, this owns nothing: every object is a Qt child of the
// window. Texts go through the translation context "MainWindow".

#include <QList>
#include <QString>

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class Ui_MainWindow;

// One entry of the Speed submenu.
struct SpeedChoice {
    const char *text;
    double stepsPerSecond; // 0: full speed
};
extern const SpeedChoice kSpeedChoices[5];

struct WindowActions {
    QAction *actionPause = nullptr;
    QMenu *menuSpeed = nullptr;
    QActionGroup *speedGroup = nullptr;
    QList<QAction *> speedActions; // in the order of kSpeedChoices
    // One entry per bundled example, its name in the action's data; disabled
    // when the examples' files are nowhere to be found.
    QMenu *menuOpenExample = nullptr;
    QString examplesFolder;
    QAction *actionExportFrame = nullptr;
    QAction *actionRecord = nullptr;
    QActionGroup *schemeGroup = nullptr;
    QAction *actionLiteralScheme = nullptr;
    QAction *actionSoundScheme = nullptr;

    void setupUi(QMainWindow *window, Ui_MainWindow &form);
    void retranslateUi();
};
