// The window form: object names, menus, tool bar, shortcuts, spin boxes,
// focus chain and icons, built on a plain QMainWindow without the controller.

#include "parameters.h"
#include "startup.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

class FormTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowOpensAtItsSize();
    void everyObjectHasItsName();
    void menusAndToolBarInOrder();
    void actionsCarryTextsShortcutsAndRoles();
    void shortcutsTriggerTheirActions();
    void spinBoxesMatchTheParameterTable();
    void spinBoxStepping();
    void focusChainFollowsCreationOrder();
    void iconsAreCompiledIn();
    void sizeRules();
    void retranslateResetsTexts();

private:
    QMainWindow *m_window = nullptr;
    Ui_MainWindow m_ui{};
};

void FormTest::init() {
    m_window = new QMainWindow;
    m_ui.setupUi(m_window);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window, 60000));
}

void FormTest::cleanup() {
    delete m_window;
    m_window = nullptr;
}

void FormTest::windowOpensAtItsSize() {
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_window->size(), QSize(1050, 800));
    QCOMPARE(m_window->contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(m_window->iconSize(), QSize(16, 16));
    QVERIFY(m_window->windowTitle().isEmpty());
}

void FormTest::everyObjectHasItsName() {
    const char *widgets[] = {"centralWidget",
                             "splitter",
                             "verticalLayoutWidget",
                             "groupBox_GridView",
                             "glView",
                             "verticalLayoutWidget_2",
                             "groupBox_Config",
                             "pushButton_LoadConf",
                             "pushButton_SaveConf",
                             "groupBox_Control",
                             "pushButton_Start",
                             "pushButton_Stop",
                             "pushButton_StartRev",
                             "groupBox_ViewMode",
                             "radioButton_Density",
                             "radioButton_Velocity",
                             "pushButton_More",
                             "groupBox_Images",
                             "lineEdit_Src",
                             "label_Src",
                             "label_Tgt",
                             "lineEdit_Tgt",
                             "pushButton_LoadSrc",
                             "pushButton_LoadTgt",
                             "pushButton_Swap",
                             "groupBox_Params",
                             "label_1",
                             "label_2",
                             "label_3",
                             "label_4",
                             "label_5",
                             "doubleSpinBox_1",
                             "doubleSpinBox_2",
                             "doubleSpinBox_3",
                             "doubleSpinBox_4",
                             "doubleSpinBox_5",
                             "menuBar",
                             "menuConfiguration",
                             "menuHelp",
                             "menuControl",
                             "menuImages",
                             "menuView",
                             "mainToolBar",
                             "statusBar"};
    for (const char *name : widgets) {
        QVERIFY2(m_window->findChild<QWidget *>(name), name);
    }
    const char *layouts[] = {"verticalLayout_2",   "verticalLayout1", "verticalLayout",
                             "verticalLayout2",    "gridLayout",      "horizontalLayout_3",
                             "horizontalLayout_2", "gridLayout_2",    "gridLayout_3"};
    for (const char *name : layouts) {
        QVERIFY2(m_window->findChild<QLayout *>(name), name);
    }
    QVERIFY(qobject_cast<GLView *>(m_window->findChild<QWidget *>("glView")));
    QCOMPARE(m_ui.splitter->widget(0), m_ui.verticalLayoutWidget);
    QCOMPARE(m_ui.splitter->widget(1), m_ui.verticalLayoutWidget_2);
    QCOMPARE(m_window->menuBar(), m_ui.menuBar);
    QCOMPARE(m_window->statusBar(), m_ui.statusBar);
    QCOMPARE(m_window->toolBarArea(m_ui.mainToolBar), Qt::TopToolBarArea);

    // Grid cells of the image and parameter panels.
    auto cell = [](QGridLayout *grid, QWidget *w) {
        int row, col, rowSpan, colSpan;
        grid->getItemPosition(grid->indexOf(w), &row, &col, &rowSpan, &colSpan);
        return QPoint(col, row);
    };
    QCOMPARE(cell(m_ui.gridLayout, m_ui.pushButton_LoadConf), QPoint(0, 1));
    QCOMPARE(cell(m_ui.gridLayout, m_ui.pushButton_SaveConf), QPoint(1, 1));
    QCOMPARE(cell(m_ui.gridLayout_2, m_ui.lineEdit_Src), QPoint(1, 0));
    QCOMPARE(cell(m_ui.gridLayout_2, m_ui.pushButton_Swap), QPoint(2, 2));
    QCOMPARE(cell(m_ui.gridLayout_2, m_ui.lineEdit_Obst), QPoint(1, 3));
    QCOMPARE(cell(m_ui.gridLayout_2, m_ui.pushButton_ClearObst), QPoint(2, 4));
    QCOMPARE(cell(m_ui.gridLayout_3, m_ui.label_5), QPoint(0, 4));
    QCOMPARE(cell(m_ui.gridLayout_3, m_ui.doubleSpinBox_2), QPoint(1, 1));
    QCOMPARE(cell(m_ui.gridLayout_3, m_ui.doubleSpinBox_5), QPoint(1, 4));

    // Right after setupUi nothing is hidden or disabled.
    QVERIFY(m_ui.groupBox_Images->isVisible());
    QVERIFY(m_ui.pushButton_Stop->isEnabled());
    QVERIFY(m_ui.radioButton_Density->isChecked());
    QVERIFY(m_ui.pushButton_More->isCheckable());
    QVERIFY(!m_ui.pushButton_More->isChecked());
}

static QStringList entryNames(const QList<QAction *> &actions) {
    QStringList names;
    for (QAction *action : actions) {
        names << (action->isSeparator() ? QStringLiteral("|") : action->objectName());
    }
    return names;
}

void FormTest::menusAndToolBarInOrder() {
    QStringList titles;
    for (QAction *action : m_ui.menuBar->actions()) {
        titles << action->text();
    }
    QCOMPARE(titles, QStringList({"File", "Control", "View", "Images", "Help"}));
    QCOMPARE(entryNames(m_ui.menuConfiguration->actions()),
             QStringList({"actionLoadConf", "actionSaveConf", "|", "actionQuit"}));
    QCOMPARE(entryNames(m_ui.menuControl->actions()),
             QStringList({"actionStart", "actionStop", "actionStartRev"}));
    QCOMPARE(entryNames(m_ui.menuView->actions()),
             QStringList({"actionDensity", "actionVelocity"}));
    QCOMPARE(entryNames(m_ui.menuImages->actions()),
             QStringList({"actionLoadSrc", "actionLoadTgt", "actionSwap"}));
    QCOMPARE(entryNames(m_ui.menuHelp->actions()), QStringList({"actionAbout", "actionAboutQt"}));
    QCOMPARE(entryNames(m_ui.mainToolBar->actions()),
             QStringList({"actionLoadConf", "actionSaveConf", "|", "actionStart", "actionStop",
                          "actionStartRev", "|", "actionDensity", "actionVelocity"}));
}

void FormTest::actionsCarryTextsShortcutsAndRoles() {
    struct Row {
        QAction *action;
        const char *text;
        const char *toolTip; // null: none of its own
        const char *shortcut;
    };
    const Row rows[] = {
        {m_ui.actionLoadConf, "Load configuration...", "Load configuration", "Ctrl+L"},
        {m_ui.actionSaveConf, "Save configuration...", "Save configuration", "Ctrl+S"},
        {m_ui.actionAbout, "About", nullptr, ""},
        {m_ui.actionAboutQt, "About Qt", nullptr, ""},
        {m_ui.actionStart, "Start", "Start simulation", "Ctrl+1"},
        {m_ui.actionStop, "Stop", "Stop simulation", "Ctrl+2"},
        {m_ui.actionSwap, "Swap", "Swap source and target image", "Ctrl+W"},
        {m_ui.actionLoadSrc, "Load source...", "Load source image", "Ctrl+R"},
        {m_ui.actionLoadTgt, "Load target...", "Load target image", "Ctrl+T"},
        {m_ui.actionDensity, "Density", "View density", "Ctrl+D"},
        {m_ui.actionVelocity, "Velocity", "View velocity", "Ctrl+V"},
        {m_ui.actionQuit, "Quit", nullptr, "Ctrl+Q"},
        {m_ui.actionStartRev, "Start in reverse", "Start simulation in reverse", "Ctrl+3"},
    };
    // Created in this order, all children of the window.
    QList<QAction *> created;
    for (QObject *child : m_window->children()) {
        if (auto *action = qobject_cast<QAction *>(child);
            action && !action->objectName().isEmpty()) {
            created << action;
        }
    }
    QCOMPARE(created.size(), 13);
    for (int k = 0; k < 13; ++k) {
        QCOMPARE(created[k], rows[k].action);
        QCOMPARE(rows[k].action->text(), QString::fromUtf8(rows[k].text));
        if (rows[k].toolTip) {
            QCOMPARE(rows[k].action->toolTip(), QString::fromUtf8(rows[k].toolTip));
        }
        QCOMPARE(rows[k].action->shortcut().toString(), QString::fromUtf8(rows[k].shortcut));
        QCOMPARE(rows[k].action->isCheckable(),
                 rows[k].action == m_ui.actionDensity || rows[k].action == m_ui.actionVelocity);
        QCOMPARE(rows[k].action->icon().isNull(), rows[k].action == m_ui.actionQuit);
    }
    QVERIFY(m_ui.actionDensity->isChecked());
    QVERIFY(!m_ui.actionVelocity->isChecked());
    QCOMPARE(m_ui.actionAbout->menuRole(), QAction::AboutRole);
    QCOMPARE(m_ui.actionAboutQt->menuRole(), QAction::AboutQtRole);
    QCOMPARE(m_ui.actionQuit->menuRole(), QAction::QuitRole);
    // "No role" is the toolkit's default, not set by the form.
    QCOMPARE(m_ui.actionStart->menuRole(), QAction::TextHeuristicRole);

    QCOMPARE(m_ui.pushButton_Start->toolTip(), QStringLiteral("Start simulation"));
    QVERIFY(m_ui.pushButton_Start->text().isEmpty());
    QCOMPARE(m_ui.label_4->text(), QStringLiteral("sgm:"));
    QCOMPARE(m_ui.doubleSpinBox_4->toolTip(), QStringLiteral("Force smoothing"));
    QCOMPARE(m_ui.groupBox_GridView->title(), QStringLiteral("Grid View"));
    QCOMPARE(m_ui.pushButton_More->text(), QStringLiteral("More / Less"));
}

void FormTest::shortcutsTriggerTheirActions() {
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window, 60000));
    QSignalSpy startRev(m_ui.actionStartRev, &QAction::triggered);
    QSignalSpy swap(m_ui.actionSwap, &QAction::triggered);
    QSignalSpy velocity(m_ui.actionVelocity, &QAction::triggered);
    QTest::keyClick(m_window, Qt::Key_3, Qt::ControlModifier);
    QTest::keyClick(m_window, Qt::Key_W, Qt::ControlModifier);
    QTest::keyClick(m_window, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(startRev.count(), 1);
    QCOMPARE(swap.count(), 1);
    QCOMPARE(velocity.count(), 1);
}

void FormTest::spinBoxesMatchTheParameterTable() {
    QDoubleSpinBox *boxes[] = {m_ui.doubleSpinBox_1, m_ui.doubleSpinBox_2, m_ui.doubleSpinBox_3,
                               m_ui.doubleSpinBox_4, m_ui.doubleSpinBox_5};
    const char *toolTips[] = {"Driving force", "Momentum attenuation", "Smoke gathering",
                              "Force smoothing", "Time step"};
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        const velloran::ParameterRange &range = velloran::kParameterRanges[k];
        QCOMPARE(boxes[k]->minimum(), range.minimum);
        QCOMPARE(boxes[k]->maximum(), range.maximum);
        QCOMPARE(boxes[k]->decimals(), range.decimals);
        QCOMPARE(boxes[k]->singleStep(), range.singleStep);
        QCOMPARE(boxes[k]->value(), range.minimum);
        QCOMPARE(boxes[k]->toolTip(), QString::fromUtf8(toolTips[k]));
        QCOMPARE(boxes[k]->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(boxes[k]->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        // The shared clamp gives exactly what the box holds after setValue.
        for (double v : {-3.0, 0.00012345, 0.25, 0.35, 2.25, 7.77777, 999.96, 1e9}) {
            boxes[k]->setValue(v);
            QCOMPARE(velloran::clampParameter(k, v), boxes[k]->value());
        }
    }
    QCOMPARE(velloran::kParameterRanges[velloran::kSigma].minimum, 0.1);
    QCOMPARE(velloran::kParameterRanges[velloran::kVf].maximum, 1000.0);
}

void FormTest::spinBoxStepping() {
    m_ui.doubleSpinBox_4->stepBy(1);
    QCOMPARE(m_ui.doubleSpinBox_4->value(), 0.4);
    m_ui.doubleSpinBox_4->stepBy(1);
    QCOMPARE(m_ui.doubleSpinBox_4->value(), 0.7);
    m_ui.doubleSpinBox_4->stepBy(-5);
    QCOMPARE(m_ui.doubleSpinBox_4->value(), 0.1);

    m_ui.doubleSpinBox_5->stepBy(1);
    QCOMPARE(m_ui.doubleSpinBox_5->text(), QStringLiteral("0.00005"));
    m_ui.doubleSpinBox_1->setValue(1000.04);
    QCOMPARE(m_ui.doubleSpinBox_1->text(), QStringLiteral("1000.0"));
    m_ui.doubleSpinBox_3->setValue(0.00026);
    QCOMPARE(m_ui.doubleSpinBox_3->value(), 0.0003);
}

void FormTest::focusChainFollowsCreationOrder() {
    QStringList chain;
    QWidget *w = m_ui.pushButton_LoadConf;
    do {
        if (w->focusPolicy() & Qt::TabFocus) {
            // The spin boxes' inner line edits follow their box; skip them.
            if (!qobject_cast<QDoubleSpinBox *>(w->parentWidget())) {
                chain << w->objectName();
            }
        }
        w = w->nextInFocusChain();
    } while (w != m_ui.pushButton_LoadConf);
    const QStringList expected = {
        "pushButton_LoadConf",  "pushButton_SaveConf", "pushButton_Start",
        "pushButton_Stop",      "pushButton_StartRev", "radioButton_Density",
        "radioButton_Velocity", "pushButton_More",     "lineEdit_Src",
        "lineEdit_Tgt",         "pushButton_LoadSrc",  "pushButton_LoadTgt",
        "pushButton_Swap",      "lineEdit_Obst",       "pushButton_LoadObst",
        "pushButton_ClearObst", "doubleSpinBox_1",     "doubleSpinBox_2",
        "doubleSpinBox_3",      "doubleSpinBox_4",     "doubleSpinBox_5"};
    QCOMPARE(chain.mid(0, expected.size()), expected);
}

void FormTest::iconsAreCompiledIn() {
    const char *names[] = {"open",   "save", "about", "qt-logo", "start",   "stop",
                           "revert", "swap", "image", "smoke",   "velocity"};
    for (const char *name : names) {
        const QString path = QStringLiteral(":/res/%1.png").arg(QLatin1String(name));
        QVERIFY2(QFile::exists(path), qPrintable(path));
        const QImage image(path);
        QCOMPARE(image.size(), QSize(16, 16));
        QVERIFY2(image.hasAlphaChannel(), qPrintable(path));
    }
    // Buttons share their action's icon object; both image loaders show one picture.
    QCOMPARE(m_ui.pushButton_LoadTgt->icon().cacheKey(), m_ui.actionLoadSrc->icon().cacheKey());
    QCOMPARE(m_ui.pushButton_LoadSrc->icon().cacheKey(), m_ui.actionLoadSrc->icon().cacheKey());
    QCOMPARE(m_ui.actionLoadTgt->icon().cacheKey(), m_ui.actionLoadSrc->icon().cacheKey());
    QCOMPARE(m_ui.pushButton_Start->icon().cacheKey(), m_ui.actionStart->icon().cacheKey());
    QCOMPARE(m_ui.pushButton_Swap->icon().cacheKey(), m_ui.actionSwap->icon().cacheKey());
}

void FormTest::sizeRules() {
    QCOMPARE(m_ui.glView->minimumSize(), QSize(384, 384));
    QVERIFY(m_ui.glView->width() >= 384 && m_ui.glView->height() >= 384);
    QCOMPARE(m_ui.groupBox_Config->minimumWidth(), 250);
    QVERIFY(m_ui.verticalLayoutWidget_2->width() >= 250);
    QVERIFY(m_ui.splitter->childrenCollapsible());
    QCOMPARE(m_ui.splitter->orientation(), Qt::Horizontal);
    QCOMPARE(m_ui.menuBar->geometry().width(), 1050);

    // Dragging the handle fully to one side collapses that pane.
    m_ui.splitter->setSizes({0, 1000});
    QCOMPARE(m_ui.splitter->sizes().at(0), 0);
}

void FormTest::retranslateResetsTexts() {
    m_ui.pushButton_More->setText(QStringLiteral("More >>"));
    m_ui.actionStart->setText(QStringLiteral("x"));
    m_ui.menuView->setTitle(QStringLiteral("y"));
    m_ui.retranslateUi(m_window);
    QCOMPARE(m_ui.pushButton_More->text(), QStringLiteral("More / Less"));
    QCOMPARE(m_ui.actionStart->text(), QStringLiteral("Start"));
    QCOMPARE(m_ui.menuView->title(), QStringLiteral("View"));
}

int main(int argc, char **argv) {
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();
    FormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "form_test.moc"
