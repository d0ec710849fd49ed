// Velloran: smoke that gathers into a target image, animated live.

#include "glview.h"
#include "mainwindow.h"
#include "solver.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char **argv) {
    GLView::retainRendererMemory();
    GLView::leaveCoresToSimulation(Solver::defaultThreadCount());
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();

    MainWindow window;
    window.show();
    // Closing the window or Quit ends the loop; the window's destructor then
    // stops a running simulation after the step under way.
    return app.exec();
}
