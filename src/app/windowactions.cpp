#include "windowactions.h"

#include "examples.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>

const SpeedChoice kSpeedChoices[5] = {
    {QT_TRANSLATE_NOOP("MainWindow", "Full speed"), 0.0},
    {QT_TRANSLATE_NOOP("MainWindow", "1000 steps/s"), 1000.0},
    {QT_TRANSLATE_NOOP("MainWindow", "300 steps/s"), 300.0},
    {QT_TRANSLATE_NOOP("MainWindow", "100 steps/s"), 100.0},
    {QT_TRANSLATE_NOOP("MainWindow", "30 steps/s"), 30.0},
};

namespace {

QString tr(const char *text) {
    return QApplication::translate("MainWindow", text);
}

QAction *makeAction(QObject *parent, const char *name, bool checkable) {
    auto *action = new QAction(parent);
    action->setObjectName(name);
    action->setCheckable(checkable);
    return action;
}

} // namespace

void WindowActions::setupUi(QMainWindow *window, Ui_MainWindow &form) {
    actionPause = makeAction(window, "actionPause", true);
    QIcon pauseIcon;
    pauseIcon.addFile(QStringLiteral(":/res/pause.png"), QSize(), QIcon::Normal, QIcon::Off);
    actionPause->setIcon(pauseIcon);

    menuOpenExample = new QMenu(form.menuConfiguration);
    menuOpenExample->setObjectName("menuOpenExample");
    for (const velloran::Example &example : velloran::bundledExamples()) {
        QAction *action = menuOpenExample->addAction(example.name);
        action->setObjectName(QStringLiteral("actionExample_") + example.name);
        action->setData(example.name);
        action->setStatusTip(example.description);
    }
    examplesFolder = velloran::examplesFolder();

    actionExportFrame = makeAction(window, "actionExportFrame", false);
    actionRecord = makeAction(window, "actionRecord", true);

    schemeGroup = new QActionGroup(window);
    schemeGroup->setObjectName("schemeGroup");
    schemeGroup->setExclusive(true);
    actionLiteralScheme = makeAction(schemeGroup, "actionLiteralScheme", true);
    actionLiteralScheme->setChecked(true);
    actionSoundScheme = makeAction(schemeGroup, "actionSoundScheme", true);

    menuSpeed = new QMenu(form.menuView);
    menuSpeed->setObjectName("menuSpeed");
    speedGroup = new QActionGroup(window);
    speedGroup->setObjectName("speedGroup");
    speedGroup->setExclusive(true);
    const char *speedNames[] = {"actionSpeedFull", "actionSpeed1000", "actionSpeed300",
                                "actionSpeed100", "actionSpeed30"};
    for (int k = 0; k < 5; ++k) {
        QAction *action = makeAction(speedGroup, speedNames[k], true);
        action->setData(kSpeedChoices[k].stepsPerSecond);
        speedActions << action;
        menuSpeed->addAction(action);
    }
    speedActions.first()->setChecked(true);

    // File: the examples below Load; after the configuration commands, before
    // Quit, the frame commands.
    QAction *quitSeparator = form.menuConfiguration->actions().value(2);
    form.menuConfiguration->insertMenu(form.actionSaveConf, menuOpenExample);
    form.menuConfiguration->insertSeparator(quitSeparator);
    form.menuConfiguration->insertAction(quitSeparator, actionExportFrame);
    form.menuConfiguration->insertAction(quitSeparator, actionRecord);
    // Control: Pause between Start and Stop; the schemes below the commands.
    form.menuControl->insertAction(form.actionStop, actionPause);
    form.menuControl->addSeparator();
    form.menuControl->addAction(actionLiteralScheme);
    form.menuControl->addAction(actionSoundScheme);
    // View: the speed below the view modes.
    form.menuView->addSeparator();
    form.menuView->addMenu(menuSpeed);
    form.mainToolBar->insertAction(form.actionStop, actionPause);

    retranslateUi();
}

void WindowActions::retranslateUi() {
    actionPause->setText(tr("Pause"));
    actionPause->setToolTip(tr("Pause simulation"));
    actionPause->setShortcut(QKeySequence(tr("Ctrl+P")));
    menuOpenExample->setTitle(tr("Open Example"));
    actionExportFrame->setText(tr("Export frame..."));
    actionExportFrame->setToolTip(tr("Save the density shown as an image"));
    actionExportFrame->setShortcut(QKeySequence(tr("Ctrl+E")));
    actionRecord->setText(tr("Record..."));
    actionRecord->setToolTip(tr("Write frames and metrics of every run into a folder"));
    actionLiteralScheme->setText(tr("Literal scheme"));
    actionLiteralScheme->setToolTip(tr("Step runs with the method's scheme as specified"));
    actionSoundScheme->setText(tr("Sound scheme"));
    actionSoundScheme->setToolTip(
        tr("Step runs with the mass-conserving scheme that stays stable at every grid size"));
    menuSpeed->setTitle(tr("Speed"));
    for (int k = 0; k < speedActions.size(); ++k) {
        speedActions[k]->setText(tr(kSpeedChoices[k].text));
    }
}
