// How much the live view costs the simulation: the step rate of a run shown
// in the window (density view, as the status bar reports it) against the
// rate of the same run with nobody watching (the same SimThread at the same
// idle priority, its notifications unread). Not a test: run it by hand under
// an X server,
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/app/live_rate
//       [--seconds S] [--rounds R] [--normal-priority] [SOURCE.png TARGET.png]
// (one line)
// Defaults: 10 s per measurement, 3 rounds, the bundled ring and star
// (128 x 128) with vf 1, vd 3, vg 0, sigma 1, dt 0.001. Headless and live
// measurements alternate, so a change in the machine's load hits both; each
// prints the median of its rate reports (the first, which includes start-up,
// is left out), and the end the medians over all rounds and their ratio.
//
// An idle-priority thread gets a core only when nothing else wants it, so on
// a machine shared with other work both rates mostly measure that work.
// --normal-priority moves the simulation's threads (in both measurements) to
// the normal policy once they exist: the GUI's cost then shows as a share of
// the machine, as it would with idle priority on a machine with nothing else
// to do.

#include "glview.h"
#include "mainwindow.h"
#include "runsetup.h"
#include "simthread.h"
#include "solver.h"
#include "startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStatusBar>

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double kVf = 1.0, kVd = 3.0, kVg = 0.0, kSigma = 1.0, kDt = 0.001;

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool g_normalPriority = false;

// Every idle-policy thread of this process to the normal policy (the solver's
// helper threads are started by the worker and inherit its policy).
void promoteIdleThreads() {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &name : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const pid_t tid = name.toInt();
        if (sched_getscheduler(tid) == SCHED_IDLE) {
            sched_param param{};
            param.sched_priority = 0;
            sched_setscheduler(tid, SCHED_OTHER, &param);
        }
    }
}

void spin(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (g_normalPriority) {
            promoteIdleThreads();
        }
    }
}

// The rate reports after the first, which includes the run's start-up.
std::vector<double> afterFirst(const std::vector<double> &reports) {
    return std::vector<double>(reports.begin() + (reports.empty() ? 0 : 1), reports.end());
}

double headless(const velloran::RunDensities &run, int seconds) {
    SimThread thread(nullptr, run.srcDensity, run.tgtDensity, kVf, kVd, kVg, kSigma, kDt);
    std::vector<double> reports;
    QObject::connect(&thread, &SimThread::fpsUpdated, &thread,
                     [&reports](float fps) { reports.push_back(fps); });
    thread.start(QThread::IdlePriority);
    spin(seconds * 1000);
    thread.requestStop();
    thread.wait();
    QCoreApplication::processEvents();
    return median(afterFirst(reports));
}

double live(MainWindow &window, const QString &source, const QString &target, int seconds,
            int *frames) {
    window.findChild<QLineEdit *>("lineEdit_Src")->setText(source);
    window.findChild<QLineEdit *>("lineEdit_Tgt")->setText(target);
    const double values[] = {kVf, kVd, kVg, kSigma, kDt};
    for (int k = 0; k < 5; ++k) {
        window.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBox_%1").arg(k + 1))
            ->setValue(values[k]);
    }
    std::vector<double> reports;
    const QRegularExpression fps(QStringLiteral("^FPS: (.*)$"));
    auto connection =
        QObject::connect(window.statusBar(), &QStatusBar::messageChanged, [&](const QString &text) {
            const auto match = fps.match(text);
            if (match.hasMatch()) {
                reports.push_back(match.captured(1).toDouble());
            }
        });
    // Count the frames the view really paints.
    auto *view = window.findChild<GLView *>("glView");
    struct PaintCounter : QObject {
        GLView *view = nullptr;
        int paints = 0;
        std::vector<double> costs;
        bool eventFilter(QObject *, QEvent *event) override {
            if (event->type() == QEvent::Paint) {
                ++paints;
                costs.push_back(view->lastFrameMs());
            }
            return false;
        }
    } counter;
    counter.view = view;
    view->installEventFilter(&counter);

    window.findChild<QAbstractButton *>("pushButton_Start")->click();
    if (!window.simulation()) {
        std::fprintf(stderr, "the run did not start\n");
        return 0.0;
    }
    spin(seconds * 1000);
    window.findChild<QAbstractButton *>("pushButton_Stop")->click();
    while (window.simulation()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    view->removeEventFilter(&counter);
    QObject::disconnect(connection);
    *frames = counter.paints;
    std::printf("  live frames: median cost %.1f ms\n", median(counter.costs));
    return median(afterFirst(reports));
}

} // namespace

int main(int argc, char **argv) {
    GLView::retainRendererMemory();
    GLView::leaveCoresToSimulation(Solver::defaultThreadCount());
    setDefaultSurfaceFormat();
    QApplication app(argc, argv);
    nameApplication();

    int seconds = 10, rounds = 3;
    QString source = QStringLiteral(VELLORAN_EXAMPLES "/ring.png");
    QString target = QStringLiteral(VELLORAN_EXAMPLES "/star.png");
    const QStringList args = QCoreApplication::arguments();
    QStringList images;
    for (int k = 1; k < args.size(); ++k) {
        if (args[k] == QLatin1String("--seconds") && k + 1 < args.size()) {
            seconds = std::max(5, args[++k].toInt());
        } else if (args[k] == QLatin1String("--normal-priority")) {
            g_normalPriority = true;
        } else if (args[k] == QLatin1String("--rounds") && k + 1 < args.size()) {
            rounds = std::max(1, args[++k].toInt());
        } else {
            images << args[k];
        }
    }
    if (images.size() == 2) {
        source = images[0];
        target = images[1];
    }

    velloran::RunDensities run;
    if (velloran::prepareRun(source, target, false, &run) != velloran::RunSetupError::None) {
        std::fprintf(stderr, "cannot read %s or %s\n", qPrintable(source), qPrintable(target));
        return 2;
    }
    MainWindow window;
    window.show();
    spin(500);
    std::printf("%u x %u run, view %dx%d, %d s per measurement, solver threads %d, %s priority\n",
                run.srcDensity.NumCols(), run.srcDensity.NumRows(),
                window.findChild<GLView *>("glView")->width(),
                window.findChild<GLView *>("glView")->height(), seconds,
                Solver::defaultThreadCount(), g_normalPriority ? "normal" : "idle");

    std::vector<double> headlessRates, liveRates;
    for (int r = 1; r <= rounds; ++r) {
        const double h = headless(run, seconds);
        int frames = 0;
        const double l = live(window, source, target, seconds, &frames);
        headlessRates.push_back(h);
        liveRates.push_back(l);
        std::printf("round %d: headless %.1f steps/s, live %.1f steps/s (%.1f frames/s), "
                    "ratio %.3f\n",
                    r, h, l, frames / double(seconds), h > 0 ? l / h : 0.0);
        std::fflush(stdout);
    }
    const double h = median(headlessRates), l = median(liveRates);
    std::printf("median: headless %.1f steps/s, live %.1f steps/s, ratio %.3f\n", h, l,
                h > 0 ? l / h : 0.0);
    return 0;
}
