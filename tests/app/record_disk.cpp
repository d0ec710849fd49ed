// What recording costs the run, and what it does when the disk is slow or
// full: the bundled blob-to-s run (128 x 128) stepped by a SimThread for a few
// seconds, once with nothing attached and once recording into FOLDER (a frame
// every K steps), alternately. Prints the step rates, their ratio, and what
// the recording wrote, skipped or failed on. Not a test: run by hand,
//   build/tests/app/record_disk FOLDER [K] [SECONDS] [ROUNDS] [--normal-priority]
// The run steps at idle priority, as in the window; on a machine busy with
// other work an idle run gets hardly any time, and --normal-priority measures
// it at the normal one instead (the writer stays at idle priority).
// A slow disk can be imitated by delaying the process's writes, e.g.
//   strace -f -qq --seccomp-bpf -e trace=write -e inject=write:delay_enter=20000
//       build/tests/app/record_disk /tmp/out 1        (one line)
// and a full one with a small tmpfs mounted on FOLDER.

#include "recorder.h"
#include "runsetup.h"
#include "simthread.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

QThread::Priority g_priority = QThread::IdlePriority;

struct Outcome {
    double rate = 0.0;
    int written = 0, skipped = 0;
    QString failure;
};

Outcome runFor(const velloran::RunDensities &run, double seconds,
               std::shared_ptr<Recorder> recorder) {
    SimThread thread(nullptr, run.srcDensity, run.tgtDensity, 0.5, 5, 0, 2.2, 0.001);
    Outcome outcome;
    // Connected before the run: a writer that fails early (a full disk) has
    // finished long before the run does.
    bool done = false;
    if (recorder) {
        QObject::connect(recorder.get(), &Recorder::failed, recorder.get(),
                         [&outcome](const QString &error) { outcome.failure = error; });
        QObject::connect(recorder.get(), &Recorder::finished, recorder.get(),
                         [&done] { done = true; });
        thread.setStepObserver(recorder);
    }
    QElapsedTimer clock;
    clock.start();
    thread.start(g_priority);
    while (clock.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    thread.requestStop();
    thread.wait();
    const double elapsed = clock.nsecsElapsed() / 1e9;
    SimFrame last;
    thread.takeNewestFrame(&last);
    outcome.rate = last.step / elapsed;
    if (recorder) {
        QElapsedTimer drain;
        drain.start();
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        std::printf("    (the writer finished %.1f s after the run)\n", drain.elapsed() / 1e3);
        outcome.written = recorder->framesWritten();
        outcome.skipped = recorder->framesSkipped();
    }
    return outcome;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[argc - 1]) == "--normal-priority") {
        g_priority = QThread::InheritPriority;
        --argc;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: record_disk FOLDER [K] [SECONDS] [ROUNDS]\n");
        return 2;
    }
    Recorder::Settings settings{QString::fromLocal8Bit(argv[1]), argc > 2 ? std::atoi(argv[2]) : 1};
    const double seconds = argc > 3 ? std::atof(argv[3]) : 5.0;
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 3;
    velloran::RunDensities run;
    const QString examples = QStringLiteral(VELLORAN_EXAMPLES);
    velloran::prepareRun(examples + "/blob.png", examples + "/letter-s.png", false, &run);

    std::vector<double> plain, recording;
    for (int round = 0; round < rounds; ++round) {
        const Outcome alone = runFor(run, seconds, nullptr);
        std::printf("round %d: not recording %.0f steps/s\n", round + 1, alone.rate);
        QString error;
        std::shared_ptr<Recorder> recorder = Recorder::start(settings, "blob-to-s", &error);
        if (!recorder) {
            std::printf("round %d: cannot record: %s\n", round + 1, qPrintable(error));
            return 1;
        }
        const Outcome recorded = runFor(run, seconds, recorder);
        std::printf("round %d: recording     %.0f steps/s, %d frames written, %d skipped%s%s\n",
                    round + 1, recorded.rate, recorded.written, recorded.skipped,
                    recorded.failure.isEmpty() ? "" : ", failed: ", qPrintable(recorded.failure));
        plain.push_back(alone.rate);
        recording.push_back(recorded.rate);
    }
    std::printf("medians: not recording %.0f, recording %.0f steps/s, ratio %.3f\n", median(plain),
                median(recording), median(recording) / median(plain));
    return 0;
}
