#pragma once

// Ui_MainWindow: the main window's widgets, actions, menus and tool bar.
//
// Written by hand in the form a form compiler would generate: setupUi builds
// every object in a fixed order (actions, the central widget tree, menu bar and
// menus, tool bar, status bar, then their entries), retranslateUi sets every
// visible text, and setupUi ends by connecting the window's on_<object>_<signal>
// slots by object name. The object names are therefore part of the interface.
// The structure owns nothing: every object is a Qt child of the window.

#include "glview.h"

#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpacerItem>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWidget>

class Ui_MainWindow {
public:
    QAction *actionLoadConf;
    QAction *actionSaveConf;
    QAction *actionAbout;
    QAction *actionAboutQt;
    QAction *actionStart;
    QAction *actionStop;
    QAction *actionSwap;
    QAction *actionLoadSrc;
    QAction *actionLoadTgt;
    QAction *actionDensity;
    QAction *actionVelocity;
    QAction *actionQuit;
    QAction *actionStartRev;
    QWidget *centralWidget;
    QVBoxLayout *verticalLayout_2;
    QSplitter *splitter;
    QWidget *verticalLayoutWidget;
    QVBoxLayout *verticalLayout1;
    QGroupBox *groupBox_GridView;
    QVBoxLayout *verticalLayout;
    GLView *glView;
    QWidget *verticalLayoutWidget_2;
    QVBoxLayout *verticalLayout2;
    QGroupBox *groupBox_Config;
    QGridLayout *gridLayout;
    QPushButton *pushButton_LoadConf;
    QPushButton *pushButton_SaveConf;
    QGroupBox *groupBox_Control;
    QHBoxLayout *horizontalLayout_3;
    QPushButton *pushButton_Start;
    QPushButton *pushButton_Stop;
    QPushButton *pushButton_StartRev;
    QGroupBox *groupBox_ViewMode;
    QHBoxLayout *horizontalLayout_2;
    QRadioButton *radioButton_Density;
    QRadioButton *radioButton_Velocity;
    QSpacerItem *verticalSpacer;
    QPushButton *pushButton_More;
    QSpacerItem *verticalSpacer_2;
    QGroupBox *groupBox_Images;
    QGridLayout *gridLayout_2;
    QLineEdit *lineEdit_Src;
    QLabel *label_Src;
    QLabel *label_Tgt;
    QLineEdit *lineEdit_Tgt;
    QPushButton *pushButton_LoadSrc;
    QPushButton *pushButton_LoadTgt;
    QPushButton *pushButton_Swap;
    QGroupBox *groupBox_Params;
    QGridLayout *gridLayout_3;
    QLabel *label_1;
    QDoubleSpinBox *doubleSpinBox_1;
    QLabel *label_2;
    QLabel *label_3;
    QLabel *label_4;
    QLabel *label_5;
    QDoubleSpinBox *doubleSpinBox_2;
    QDoubleSpinBox *doubleSpinBox_3;
    QDoubleSpinBox *doubleSpinBox_4;
    QDoubleSpinBox *doubleSpinBox_5;
    QSpacerItem *verticalSpacer_3;
    QMenuBar *menuBar;
    QMenu *menuConfiguration;
    QMenu *menuHelp;
    QMenu *menuControl;
    QMenu *menuImages;
    QMenu *menuView;
    QToolBar *mainToolBar;
    QStatusBar *statusBar;

    void setupUi(QMainWindow *MainWindow) {
        if (MainWindow->objectName().isEmpty()) {
            MainWindow->setObjectName("MainWindow");
        }
        MainWindow->resize(1050, 800);
        MainWindow->setContextMenuPolicy(Qt::NoContextMenu);
        MainWindow->setIconSize(QSize(16, 16));
        MainWindow->setUnifiedTitleAndToolBarOnMac(true);

        // Each picture is one icon object; a button showing an action's
        // picture gets that same object.
        actionLoadConf = makeAction(MainWindow, "actionLoadConf");
        QIcon iconOpen = fileIcon(":/res/open.png");
        actionLoadConf->setIcon(iconOpen);
        actionSaveConf = makeAction(MainWindow, "actionSaveConf");
        QIcon iconSave = fileIcon(":/res/save.png");
        actionSaveConf->setIcon(iconSave);
        actionAbout = makeAction(MainWindow, "actionAbout");
        actionAbout->setIcon(fileIcon(":/res/about.png"));
        actionAbout->setMenuRole(QAction::AboutRole);
        actionAboutQt = makeAction(MainWindow, "actionAboutQt");
        actionAboutQt->setIcon(fileIcon(":/res/qt-logo.png"));
        actionAboutQt->setMenuRole(QAction::AboutQtRole);
        actionStart = makeAction(MainWindow, "actionStart");
        QIcon iconStart = fileIcon(":/res/start.png");
        actionStart->setIcon(iconStart);
        actionStop = makeAction(MainWindow, "actionStop");
        QIcon iconStop = fileIcon(":/res/stop.png");
        actionStop->setIcon(iconStop);
        actionSwap = makeAction(MainWindow, "actionSwap");
        QIcon iconSwap = fileIcon(":/res/swap.png");
        actionSwap->setIcon(iconSwap);
        actionLoadSrc = makeAction(MainWindow, "actionLoadSrc");
        QIcon iconImage = fileIcon(":/res/image.png");
        actionLoadSrc->setIcon(iconImage);
        actionLoadTgt = makeAction(MainWindow, "actionLoadTgt");
        actionLoadTgt->setIcon(iconImage);
        actionDensity = makeAction(MainWindow, "actionDensity");
        actionDensity->setCheckable(true);
        actionDensity->setChecked(true);
        actionDensity->setIcon(fileIcon(":/res/smoke.png"));
        actionVelocity = makeAction(MainWindow, "actionVelocity");
        actionVelocity->setCheckable(true);
        actionVelocity->setIcon(fileIcon(":/res/velocity.png"));
        actionQuit = makeAction(MainWindow, "actionQuit");
        actionQuit->setMenuRole(QAction::QuitRole);
        actionStartRev = makeAction(MainWindow, "actionStartRev");
        QIcon iconRevert = fileIcon(":/res/revert.png");
        actionStartRev->setIcon(iconRevert);

        centralWidget = new QWidget(MainWindow);
        centralWidget->setObjectName("centralWidget");
        verticalLayout_2 = new QVBoxLayout(centralWidget);
        setSpacingAndMargins(verticalLayout_2, "verticalLayout_2", 11);

        splitter = new QSplitter(centralWidget);
        splitter->setObjectName("splitter");
        setPolicy(splitter, QSizePolicy::Expanding, QSizePolicy::Preferred);
        splitter->setOrientation(Qt::Horizontal);
        splitter->setChildrenCollapsible(true);

        // Left pane: the grid view.
        verticalLayoutWidget = new QWidget(splitter);
        verticalLayoutWidget->setObjectName("verticalLayoutWidget");
        verticalLayout1 = new QVBoxLayout(verticalLayoutWidget);
        setSpacingAndMargins(verticalLayout1, "verticalLayout1", 0);
        groupBox_GridView = new QGroupBox(verticalLayoutWidget);
        groupBox_GridView->setObjectName("groupBox_GridView");
        setPolicy(groupBox_GridView, QSizePolicy::Preferred, QSizePolicy::Preferred);
        groupBox_GridView->setMinimumSize(QSize(0, 0));
        verticalLayout = new QVBoxLayout(groupBox_GridView);
        setSpacingAndMargins(verticalLayout, "verticalLayout", 11);
        glView = new GLView(groupBox_GridView);
        glView->setObjectName("glView");
        setPolicy(glView, QSizePolicy::Preferred, QSizePolicy::Preferred);
        glView->setMinimumSize(QSize(384, 384));
        verticalLayout->addWidget(glView);
        verticalLayout1->addWidget(groupBox_GridView);
        splitter->addWidget(verticalLayoutWidget);

        // Right pane: the controls.
        verticalLayoutWidget_2 = new QWidget(splitter);
        verticalLayoutWidget_2->setObjectName("verticalLayoutWidget_2");
        verticalLayout2 = new QVBoxLayout(verticalLayoutWidget_2);
        setSpacingAndMargins(verticalLayout2, "verticalLayout2", 0);

        groupBox_Config = new QGroupBox(verticalLayoutWidget_2);
        groupBox_Config->setObjectName("groupBox_Config");
        groupBox_Config->setMinimumSize(QSize(250, 0));
        gridLayout = new QGridLayout(groupBox_Config);
        setSpacingAndMargins(gridLayout, "gridLayout", 11);
        pushButton_LoadConf = makeButton(groupBox_Config, "pushButton_LoadConf", iconOpen);
        gridLayout->addWidget(pushButton_LoadConf, 1, 0, 1, 1);
        pushButton_SaveConf = makeButton(groupBox_Config, "pushButton_SaveConf", iconSave);
        gridLayout->addWidget(pushButton_SaveConf, 1, 1, 1, 1);
        verticalLayout2->addWidget(groupBox_Config);

        groupBox_Control = new QGroupBox(verticalLayoutWidget_2);
        groupBox_Control->setObjectName("groupBox_Control");
        horizontalLayout_3 = new QHBoxLayout(groupBox_Control);
        setSpacingAndMargins(horizontalLayout_3, "horizontalLayout_3", 11);
        pushButton_Start = makeButton(groupBox_Control, "pushButton_Start", iconStart);
        horizontalLayout_3->addWidget(pushButton_Start);
        pushButton_Stop = makeButton(groupBox_Control, "pushButton_Stop", iconStop);
        horizontalLayout_3->addWidget(pushButton_Stop);
        pushButton_StartRev = makeButton(groupBox_Control, "pushButton_StartRev", iconRevert);
        horizontalLayout_3->addWidget(pushButton_StartRev);
        verticalLayout2->addWidget(groupBox_Control);

        groupBox_ViewMode = new QGroupBox(verticalLayoutWidget_2);
        groupBox_ViewMode->setObjectName("groupBox_ViewMode");
        horizontalLayout_2 = new QHBoxLayout(groupBox_ViewMode);
        setSpacingAndMargins(horizontalLayout_2, "horizontalLayout_2", 11);
        radioButton_Density = new QRadioButton(groupBox_ViewMode);
        radioButton_Density->setObjectName("radioButton_Density");
        radioButton_Density->setChecked(true);
        horizontalLayout_2->addWidget(radioButton_Density);
        radioButton_Velocity = new QRadioButton(groupBox_ViewMode);
        radioButton_Velocity->setObjectName("radioButton_Velocity");
        horizontalLayout_2->addWidget(radioButton_Velocity);
        verticalLayout2->addWidget(groupBox_ViewMode);

        verticalSpacer = new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::Fixed);
        verticalLayout2->addItem(verticalSpacer);

        pushButton_More = new QPushButton(verticalLayoutWidget_2);
        pushButton_More->setObjectName("pushButton_More");
        pushButton_More->setCheckable(true);
        pushButton_More->setChecked(false);
        pushButton_More->setFlat(false);
        verticalLayout2->addWidget(pushButton_More);

        verticalSpacer_2 = new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::Fixed);
        verticalLayout2->addItem(verticalSpacer_2);

        groupBox_Images = new QGroupBox(verticalLayoutWidget_2);
        groupBox_Images->setObjectName("groupBox_Images");
        groupBox_Images->setEnabled(true);
        gridLayout_2 = new QGridLayout(groupBox_Images);
        setSpacingAndMargins(gridLayout_2, "gridLayout_2", 11);
        lineEdit_Src = new QLineEdit(groupBox_Images);
        lineEdit_Src->setObjectName("lineEdit_Src");
        lineEdit_Src->setMinimumSize(QSize(0, 0));
        gridLayout_2->addWidget(lineEdit_Src, 0, 1, 1, 1);
        label_Src = new QLabel(groupBox_Images);
        label_Src->setObjectName("label_Src");
        gridLayout_2->addWidget(label_Src, 0, 0, 1, 1);
        label_Tgt = new QLabel(groupBox_Images);
        label_Tgt->setObjectName("label_Tgt");
        gridLayout_2->addWidget(label_Tgt, 1, 0, 1, 1);
        lineEdit_Tgt = new QLineEdit(groupBox_Images);
        lineEdit_Tgt->setObjectName("lineEdit_Tgt");
        lineEdit_Tgt->setMinimumSize(QSize(0, 0));
        gridLayout_2->addWidget(lineEdit_Tgt, 1, 1, 1, 1);
        pushButton_LoadSrc = makeButton(groupBox_Images, "pushButton_LoadSrc", iconImage);
        gridLayout_2->addWidget(pushButton_LoadSrc, 0, 2, 1, 1);
        pushButton_LoadTgt = makeButton(groupBox_Images, "pushButton_LoadTgt", iconImage);
        gridLayout_2->addWidget(pushButton_LoadTgt, 1, 2, 1, 1);
        pushButton_Swap = makeButton(groupBox_Images, "pushButton_Swap", iconSwap);
        gridLayout_2->addWidget(pushButton_Swap, 2, 2, 1, 1);
        verticalLayout2->addWidget(groupBox_Images);

        // Parameters. Each box sets decimals, then minimum, maximum and single
        // step; raising sigma's minimum moves its value from 0 to 0.1. A
        // minimum of 0 and a step of 1 are the box's own defaults.
        groupBox_Params = new QGroupBox(verticalLayoutWidget_2);
        groupBox_Params->setObjectName("groupBox_Params");
        gridLayout_3 = new QGridLayout(groupBox_Params);
        setSpacingAndMargins(gridLayout_3, "gridLayout_3", 11);
        label_1 = makeLabel(groupBox_Params, "label_1");
        gridLayout_3->addWidget(label_1, 0, 0, 1, 1);
        doubleSpinBox_1 = makeSpinBox(groupBox_Params, "doubleSpinBox_1");
        doubleSpinBox_1->setDecimals(1);
        doubleSpinBox_1->setMaximum(1000.0);
        gridLayout_3->addWidget(doubleSpinBox_1, 0, 1, 1, 1);
        label_2 = makeLabel(groupBox_Params, "label_2");
        gridLayout_3->addWidget(label_2, 1, 0, 1, 1);
        label_3 = makeLabel(groupBox_Params, "label_3");
        gridLayout_3->addWidget(label_3, 2, 0, 1, 1);
        label_4 = makeLabel(groupBox_Params, "label_4");
        gridLayout_3->addWidget(label_4, 3, 0, 1, 1);
        label_5 = makeLabel(groupBox_Params, "label_5");
        gridLayout_3->addWidget(label_5, 4, 0, 1, 1);
        doubleSpinBox_2 = makeSpinBox(groupBox_Params, "doubleSpinBox_2");
        doubleSpinBox_2->setDecimals(1);
        doubleSpinBox_2->setMaximum(1000.0);
        gridLayout_3->addWidget(doubleSpinBox_2, 1, 1, 1, 1);
        doubleSpinBox_3 = makeSpinBox(groupBox_Params, "doubleSpinBox_3");
        doubleSpinBox_3->setDecimals(4);
        doubleSpinBox_3->setMaximum(1.0);
        doubleSpinBox_3->setSingleStep(0.0005);
        gridLayout_3->addWidget(doubleSpinBox_3, 2, 1, 1, 1);
        doubleSpinBox_4 = makeSpinBox(groupBox_Params, "doubleSpinBox_4");
        doubleSpinBox_4->setDecimals(1);
        doubleSpinBox_4->setMinimum(0.1);
        doubleSpinBox_4->setMaximum(10.0);
        doubleSpinBox_4->setSingleStep(0.3);
        gridLayout_3->addWidget(doubleSpinBox_4, 3, 1, 1, 1);
        doubleSpinBox_5 = makeSpinBox(groupBox_Params, "doubleSpinBox_5");
        doubleSpinBox_5->setDecimals(5);
        doubleSpinBox_5->setMaximum(1.0);
        doubleSpinBox_5->setSingleStep(0.00005);
        gridLayout_3->addWidget(doubleSpinBox_5, 4, 1, 1, 1);
        verticalLayout2->addWidget(groupBox_Params);

        verticalSpacer_3 = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout2->addItem(verticalSpacer_3);

        splitter->addWidget(verticalLayoutWidget_2);
        verticalLayout_2->addWidget(splitter);
        MainWindow->setCentralWidget(centralWidget);

        menuBar = new QMenuBar(MainWindow);
        menuBar->setObjectName("menuBar");
        menuBar->setGeometry(QRect(0, 0, 1050, 22));
        menuBar->setNativeMenuBar(true);
        menuConfiguration = makeMenu(menuBar, "menuConfiguration");
        menuHelp = makeMenu(menuBar, "menuHelp");
        menuControl = makeMenu(menuBar, "menuControl");
        menuImages = makeMenu(menuBar, "menuImages");
        menuView = makeMenu(menuBar, "menuView");
        MainWindow->setMenuBar(menuBar);

        mainToolBar = new QToolBar(MainWindow);
        mainToolBar->setObjectName("mainToolBar");
        mainToolBar->setIconSize(QSize(16, 16));
        MainWindow->addToolBar(Qt::TopToolBarArea, mainToolBar);

        statusBar = new QStatusBar(MainWindow);
        statusBar->setObjectName("statusBar");
        MainWindow->setStatusBar(statusBar);

        menuBar->addAction(menuConfiguration->menuAction());
        menuBar->addAction(menuControl->menuAction());
        menuBar->addAction(menuView->menuAction());
        menuBar->addAction(menuImages->menuAction());
        menuBar->addAction(menuHelp->menuAction());
        menuConfiguration->addAction(actionLoadConf);
        menuConfiguration->addAction(actionSaveConf);
        menuConfiguration->addSeparator();
        menuConfiguration->addAction(actionQuit);
        menuHelp->addAction(actionAbout);
        menuHelp->addAction(actionAboutQt);
        menuControl->addAction(actionStart);
        menuControl->addAction(actionStop);
        menuControl->addAction(actionStartRev);
        menuImages->addAction(actionLoadSrc);
        menuImages->addAction(actionLoadTgt);
        menuImages->addAction(actionSwap);
        menuView->addAction(actionDensity);
        menuView->addAction(actionVelocity);
        mainToolBar->addAction(actionLoadConf);
        mainToolBar->addAction(actionSaveConf);
        mainToolBar->addSeparator();
        mainToolBar->addAction(actionStart);
        mainToolBar->addAction(actionStop);
        mainToolBar->addAction(actionStartRev);
        mainToolBar->addSeparator();
        mainToolBar->addAction(actionDensity);
        mainToolBar->addAction(actionVelocity);

        retranslateUi(MainWindow);

        QMetaObject::connectSlotsByName(MainWindow);
    }

    void retranslateUi(QMainWindow *MainWindow) {
        Q_UNUSED(MainWindow);
        actionLoadConf->setText(tr("Load configuration..."));
        actionLoadConf->setToolTip(tr("Load configuration"));
        actionLoadConf->setShortcut(QKeySequence(tr("Ctrl+L")));
        actionSaveConf->setText(tr("Save configuration..."));
        actionSaveConf->setToolTip(tr("Save configuration"));
        actionSaveConf->setShortcut(QKeySequence(tr("Ctrl+S")));
        actionAbout->setText(tr("About"));
        actionAboutQt->setText(tr("About Qt"));
        actionStart->setText(tr("Start"));
        actionStart->setToolTip(tr("Start simulation"));
        actionStart->setShortcut(QKeySequence(tr("Ctrl+1")));
        actionStop->setText(tr("Stop"));
        actionStop->setToolTip(tr("Stop simulation"));
        actionStop->setShortcut(QKeySequence(tr("Ctrl+2")));
        actionSwap->setText(tr("Swap"));
        actionSwap->setToolTip(tr("Swap source and target image"));
        actionSwap->setShortcut(QKeySequence(tr("Ctrl+W")));
        actionLoadSrc->setText(tr("Load source..."));
        actionLoadSrc->setToolTip(tr("Load source image"));
        actionLoadSrc->setShortcut(QKeySequence(tr("Ctrl+R")));
        actionLoadTgt->setText(tr("Load target..."));
        actionLoadTgt->setToolTip(tr("Load target image"));
        actionLoadTgt->setShortcut(QKeySequence(tr("Ctrl+T")));
        actionDensity->setText(tr("Density"));
        actionDensity->setToolTip(tr("View density"));
        actionDensity->setShortcut(QKeySequence(tr("Ctrl+D")));
        actionVelocity->setText(tr("Velocity"));
        actionVelocity->setToolTip(tr("View velocity"));
        actionVelocity->setShortcut(QKeySequence(tr("Ctrl+V")));
        actionQuit->setText(tr("Quit"));
        actionQuit->setShortcut(QKeySequence(tr("Ctrl+Q")));
        actionStartRev->setText(tr("Start in reverse"));
        actionStartRev->setToolTip(tr("Start simulation in reverse"));
        actionStartRev->setShortcut(QKeySequence(tr("Ctrl+3")));

        groupBox_GridView->setTitle(tr("Grid View"));
        groupBox_Config->setTitle(tr("Configuration"));
        pushButton_LoadConf->setText(tr("Load"));
        pushButton_SaveConf->setText(tr("Save"));
        groupBox_Control->setTitle(tr("Control"));
        pushButton_Start->setToolTip(tr("Start simulation"));
        pushButton_Start->setText(QString());
        pushButton_Stop->setToolTip(tr("Stop simulation"));
        pushButton_Stop->setText(QString());
        pushButton_StartRev->setToolTip(tr("Start simulation in reverse"));
        pushButton_StartRev->setText(QString());
        groupBox_ViewMode->setTitle(tr("View Mode"));
        radioButton_Density->setText(tr("Density"));
        radioButton_Velocity->setText(tr("Velocity"));
        pushButton_More->setText(tr("More / Less"));
        groupBox_Images->setTitle(tr("Images"));
        label_Src->setText(tr("Src:"));
        label_Tgt->setText(tr("Tgt:"));
        pushButton_LoadSrc->setText(tr("Load"));
        pushButton_LoadTgt->setText(tr("Load"));
        pushButton_Swap->setText(tr("Swap"));
        groupBox_Params->setTitle(tr("Parameters"));
        label_1->setText(tr("vf:"));
        doubleSpinBox_1->setToolTip(tr("Driving force"));
        label_2->setText(tr("vd:"));
        label_3->setText(tr("vg:"));
        label_4->setText(tr("sgm:"));
        label_5->setText(tr("dt:"));
        doubleSpinBox_2->setToolTip(tr("Momentum attenuation"));
        doubleSpinBox_3->setToolTip(tr("Smoke gathering"));
        doubleSpinBox_4->setToolTip(tr("Force smoothing"));
        doubleSpinBox_5->setToolTip(tr("Time step"));

        menuConfiguration->setTitle(tr("File"));
        menuHelp->setTitle(tr("Help"));
        menuControl->setTitle(tr("Control"));
        menuImages->setTitle(tr("Images"));
        menuView->setTitle(tr("View"));
    }

private:
    static QString tr(const char *text) { return QApplication::translate("MainWindow", text); }

    static QIcon fileIcon(const char *path) {
        QIcon icon;
        icon.addFile(QString::fromLatin1(path), QSize(), QIcon::Normal, QIcon::Off);
        return icon;
    }

    static QAction *makeAction(QMainWindow *window, const char *name) {
        auto *action = new QAction(window);
        action->setObjectName(name);
        return action;
    }

    static QPushButton *makeButton(QWidget *parent, const char *name, const QIcon &icon) {
        auto *button = new QPushButton(parent);
        button->setObjectName(name);
        button->setIcon(icon);
        return button;
    }

    static QLabel *makeLabel(QWidget *parent, const char *name) {
        auto *label = new QLabel(parent);
        label->setObjectName(name);
        return label;
    }

    static QDoubleSpinBox *makeSpinBox(QWidget *parent, const char *name) {
        auto *box = new QDoubleSpinBox(parent);
        box->setObjectName(name);
        setPolicy(box, QSizePolicy::Expanding, QSizePolicy::Fixed);
        return box;
    }

    static QMenu *makeMenu(QMenuBar *bar, const char *name) {
        auto *menu = new QMenu(bar);
        menu->setObjectName(name);
        return menu;
    }

    static void setSpacingAndMargins(QLayout *layout, const char *name, int margins) {
        layout->setSpacing(6);
        layout->setContentsMargins(margins, margins, margins, margins);
        layout->setObjectName(name);
    }

    // Stretch 0 in both directions; the widget keeps its height-for-width flag.
    static void setPolicy(QWidget *widget, QSizePolicy::Policy horizontal,
                          QSizePolicy::Policy vertical) {
        QSizePolicy policy(horizontal, vertical);
        policy.setHorizontalStretch(0);
        policy.setVerticalStretch(0);
        policy.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
        widget->setSizePolicy(policy);
    }
};

namespace Ui {
class MainWindow : public Ui_MainWindow {};
} // namespace Ui
