// The simulation thread: the rate window, start and stop, frames published on
// request, pause, the step-rate limit and the end of an unstable run. Frames
// are compared bit for bit with a solver stepped alone, so a lost, stale or
// torn frame shows up as a difference.

#include "simthread.h"
#include "solver.h"
#include "targetdistance.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr double kVf = 1.0, kVd = 3.0, kVg = 0.0, kSigma = 1.0, kDt = 0.001;

// A disc of smoke and a bar as target, N x N.
void makeInputs(std::uint32_t n, Grid &src, Grid &tgt) {
    for (std::uint32_t i = 0; i < n; ++i) {
        for (std::uint32_t j = 0; j < n; ++j) {
            const double x = (i + 0.5) / n - 0.5, y = (j + 0.5) / n - 0.5;
            src(i, j) = x * x + y * y < 0.1 ? 1.0 : 0.0;
            tgt(i, j) = std::fabs(x) < 0.1 ? 1.0 : 0.0;
        }
    }
}

struct Inputs {
    explicit Inputs(std::uint32_t n)
        : src(n, n)
        , tgt(n, n) {
        makeInputs(n, src, tgt);
    }
    Grid src, tgt;
};

// Coefficients and time step as SimThread gives them to its solver.
void configure(Solver &solver, double vf, double vd, double vg, double dt) {
    solver.m_vf = vf;
    solver.m_vd = vd;
    solver.m_vg = vg;
    solver.setSigma(kSigma);
    solver.setTimeStep(dt);
}

double sumOfInterior(const Grid &grid) {
    double sum = 0.0;
    for (std::uint32_t i = 1; i + 1 < grid.NumCols(); ++i) {
        for (std::uint32_t j = 1; j + 1 < grid.NumRows(); ++j) {
            sum += grid(i, j);
        }
    }
    return sum;
}

bool sameBits(const Grid &a, const Grid &b) {
    return a.NumRows() == b.NumRows() && a.NumCols() == b.NumCols() &&
           std::memcmp(a.data(), b.data(), sizeof(double) * a.NumRows() * a.NumCols()) == 0;
}

// Whether a frame is exactly the state of a solver built from the same inputs
// and stepped alone frame.step times, with that state's distance. `beforeStep`
// may change the solver before each step (given the steps done so far).
template <typename BeforeStep>
bool matchesSolverAlone(const SimFrame &frame, const Inputs &in, double vf, double vd, double vg,
                        double dt, BeforeStep beforeStep) {
    Solver alone(in.src, in.tgt);
    configure(alone, vf, vd, vg, dt);
    for (std::int64_t k = 0; k < frame.step; ++k) {
        beforeStep(alone, k);
        alone.step();
    }
    return sameBits(frame.density, *alone.m_density) && sameBits(frame.u, *alone.m_uCentre) &&
           sameBits(frame.v, *alone.m_vCentre) &&
           frame.distance == distanceToTarget(*alone.m_density, *alone.m_target);
}

bool matchesSolverAlone(const SimFrame &frame, const Inputs &in, double vf = kVf, double vd = kVd,
                        double vg = kVg, double dt = kDt) {
    return matchesSolverAlone(frame, in, vf, vd, vg, dt, [](Solver &, std::int64_t) {});
}

// The owner's side of a run: notifications queued to this thread, as the
// window gets them, and finished() counted here.
struct Owner {
    explicit Owner(SimThread &run)
        : thread(run) {
        QObject::connect(&run, &SimThread::stepCompleted, &context, [this] { ++received; });
        QObject::connect(&run, &QThread::finished, &context, [this] { ++finished; });
    }
    // Takes the frame and asks for the next one.
    bool take() {
        const bool taken = thread.takeNewestFrame(&frame);
        thread.requestFrame();
        return taken;
    }
    bool waitFinished() {
        return QTest::qWaitFor([this] { return finished == 1; }, 60000) && thread.wait(10000);
    }

    SimThread &thread;
    QObject context;
    SimFrame frame;
    int received = 0;
    int finished = 0;
};

} // namespace

class SimThreadTest : public QObject {
    Q_OBJECT

private slots:
    void rateWindow();
    void freshThreadHasAnEmptyFrame();
    void stopBeforeStartRunsNoStep();
    void requestedFramesAreEachPublished();
    void withoutARequestNothingMoreIsPosted();
    void slowOwnerKeepsAShortQueueAndSeesTheLastStep();
    void stopPublishesTheStepUnderWay();
    void pauseHoldsTheRunAndShowsWhereItHolds();
    void rateLimitSpacesStepsAndChangesAtOnce();
    void unstableRunEndsOnItsLastFiniteFrame();
    void schemeAndKeyframesReachTheSolver();
    void colourFramesCarryEveryField();

private:
    bool runForFrames(SimThread &thread, std::size_t count, std::vector<SimFrame> *frames);
};

void SimThreadTest::rateWindow() {
    // 49 steps within the first 2000 ms, the 50th ends at 2050 ms.
    std::uint32_t count = 0;
    qint64 start = 0;
    float rate = -1.0f;
    for (int k = 1; k <= 49; ++k) {
        QVERIFY(!closeRateWindow(count, start, k * 2000 / 49, &rate));
    }
    QCOMPARE(count, 49u);
    QVERIFY(closeRateWindow(count, start, 2050, &rate));
    QCOMPARE(rate, static_cast<float>(50 * 1000.0 / 2050));
    QCOMPARE(count, 0u);
    QCOMPARE(start, qint64(2050));

    // A window of exactly 2000 ms does not report; the next step does.
    QVERIFY(!closeRateWindow(count, start, 4050, &rate));
    QVERIFY(closeRateWindow(count, start, 4051, &rate));
    QCOMPARE(rate, static_cast<float>(2 * 1000.0 / 2001));

    // Steps slower than the window report every time, with a count of one.
    for (int k = 1; k <= 3; ++k) {
        QVERIFY(closeRateWindow(count, start, 4051 + k * 2500, &rate));
        QCOMPARE(rate, 0.4f);
        QCOMPARE(count, 0u);
    }
}

void SimThreadTest::freshThreadHasAnEmptyFrame() {
    const Inputs in(8);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    QVERIFY(!thread.stopRequested());
    QVERIFY(!thread.isPaused());
    QVERIFY(!thread.notificationPending());
    SimFrame frame;
    frame.step = 99;
    QVERIFY(thread.takeNewestFrame(&frame));
    QCOMPARE(frame.step, std::int64_t(0));
    QCOMPARE(frame.density.NumRows(), 1u);
    QCOMPARE(frame.u.NumCols(), 1u);
    QVERIFY(std::isnan(frame.distance));
    QCOMPARE(thread.unstableStep(), std::int64_t(0));
}

void SimThreadTest::stopBeforeStartRunsNoStep() {
    const Inputs in(8);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    // Counted in the worker with atomics, and finished() queued to this
    // thread: Qt's wait() synchronises in ways ThreadSanitizer cannot see.
    QAtomicInt signals_ = 0;
    auto count = [&signals_] { signals_.fetchAndAddRelaxed(1); };
    connect(&thread, &SimThread::stepCompleted, this, count, Qt::DirectConnection);
    connect(&thread, &SimThread::fpsUpdated, this, count, Qt::DirectConnection);
    Owner owner(thread);
    thread.requestStop();
    thread.start();
    QVERIFY(owner.waitFinished());
    QCOMPARE(signals_.loadRelaxed(), 0);
    QVERIFY(owner.take());
    QCOMPARE(owner.frame.step, std::int64_t(0));
    QCOMPARE(owner.frame.density.NumRows(), 1u);
}

void SimThreadTest::requestedFramesAreEachPublished() {
    // A direct connection runs in the worker right after the frame's signal.
    // Taking the frame and asking for the next one there makes every step
    // publish; a stop requested on the fifth ends the run after exactly that
    // step, and it publishes nothing more.
    const std::uint32_t n = 12;
    const Inputs in(n);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    QAtomicInt published = 0;
    std::int64_t lastStep = 0;
    bool inOrder = true;
    SimFrame seen;
    connect(
        &thread, &SimThread::stepCompleted, this,
        [&] {
            thread.takeNewestFrame(&seen);
            thread.requestFrame();
            inOrder = inOrder && seen.step == lastStep + 1;
            lastStep = seen.step;
            if (published.fetchAndAddRelaxed(1) + 1 == 5) {
                thread.requestStop();
            }
        },
        Qt::DirectConnection);
    Owner owner(thread);
    thread.start();
    QVERIFY(owner.waitFinished());
    QCOMPARE(published.loadRelaxed(), 5);
    QVERIFY(inOrder);
    QVERIFY(owner.take());
    QCOMPARE(owner.frame.step, std::int64_t(5));
    QCOMPARE(owner.frame.density.NumRows(), n + 2);
    QVERIFY(matchesSolverAlone(owner.frame, in));
}

void SimThreadTest::withoutARequestNothingMoreIsPosted() {
    // The first frame is asked for from the start. Without another request
    // the worker keeps stepping but posts nothing; a request brings one more
    // frame, of a later step.
    const Inputs in(8);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    QAtomicInt posted = 0;
    connect(
        &thread, &SimThread::stepCompleted, this, [&posted] { posted.fetchAndAddRelaxed(1); },
        Qt::DirectConnection);
    Owner owner(thread);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(owner.received == 1, 60000);
    QVERIFY(thread.notificationPending());
    QVERIFY(thread.takeNewestFrame(&owner.frame));
    QVERIFY(!thread.notificationPending());
    const std::int64_t first = owner.frame.step;
    QCOMPARE(first, std::int64_t(1));
    QTest::qWait(100);
    QCOMPARE(posted.loadRelaxed(), 1);
    QVERIFY(thread.takeNewestFrame(&owner.frame));
    QCOMPARE(owner.frame.step, first);

    thread.requestFrame();
    QTRY_VERIFY_WITH_TIMEOUT(owner.received == 2, 60000);
    QVERIFY(owner.take());
    QVERIFY(owner.frame.step > first);
    QVERIFY(matchesSolverAlone(owner.frame, in));
    thread.requestStop();
    QVERIFY(owner.waitFinished());
}

void SimThreadTest::slowOwnerKeepsAShortQueueAndSeesTheLastStep() {
    // An owner much slower than the worker: each handler takes the frame,
    // asks for the next and then dawdles. At no time does more than one
    // notification wait, and the last frame taken is the run's last step.
    const Inputs in(8);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    QAtomicInt posted = 0;
    connect(
        &thread, &SimThread::stepCompleted, this, [&posted] { posted.fetchAndAddRelaxed(1); },
        Qt::DirectConnection);
    int received = 0;
    int backlog = 0; // largest number of posted but unhandled notifications
    SimFrame seen;
    connect(&thread, &SimThread::stepCompleted, this, [&] {
        ++received;
        backlog = std::max(backlog, posted.loadRelaxed() - received);
        thread.takeNewestFrame(&seen);
        thread.requestFrame();
        QThread::msleep(15);
    });
    Owner owner(thread);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(received >= 10, 60000);
    thread.requestStop();
    QVERIFY(owner.waitFinished());
    QCoreApplication::processEvents();

    QCOMPARE(backlog, 0);
    QCOMPARE(received, posted.loadRelaxed());
    QVERIFY(!thread.notificationPending());
    QVERIFY(owner.take());
    QCOMPARE(seen.step, owner.frame.step);
    QVERIFY(sameBits(seen.density, owner.frame.density));
    QVERIFY(matchesSolverAlone(seen, in));
}

void SimThreadTest::stopPublishesTheStepUnderWay() {
    // A run nobody asks frames of after the first: stopping it still
    // publishes its last step, announced after everything else.
    const Inputs in(24);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    // Counts the steps as the worker makes them, so the stop comes after the
    // first step however slowly the worker gets to run.
    struct StepCount : velloran::StepObserver {
        std::atomic<std::int64_t> steps{0};
        bool stepFinished(const Solver &, const velloran::StepReport &report,
                          std::string *) override {
            steps = report.step;
            return true;
        }
    };
    const auto count = std::make_shared<StepCount>();
    thread.setStepObserver(count);
    Owner owner(thread);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(owner.received == 1, 60000);
    QVERIFY(thread.takeNewestFrame(&owner.frame)); // no new request
    QTRY_VERIFY_WITH_TIMEOUT(count->steps > 1, 60000);
    thread.requestStop();
    QVERIFY(owner.waitFinished());
    QCoreApplication::processEvents();
    QCOMPARE(owner.received, 2);
    QVERIFY(owner.take());
    QVERIFY(owner.frame.step > 1);
    QVERIFY(matchesSolverAlone(owner.frame, in));
    QCOMPARE(thread.unstableStep(), std::int64_t(0));
}

void SimThreadTest::pauseHoldsTheRunAndShowsWhereItHolds() {
    const Inputs in(8);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    Owner owner(thread);
    connect(&thread, &SimThread::stepCompleted, &owner.context, [&owner] { owner.take(); });
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(owner.received >= 3, 60000);

    // Paused: the frame of the step it holds at arrives unasked, then nothing.
    thread.setPaused(true);
    QVERIFY(thread.isPaused());
    QTRY_VERIFY_WITH_TIMEOUT(thread.isHolding(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!thread.notificationPending(), 60000);
    const int receivedWhilePaused = owner.received;
    const std::int64_t heldAt = owner.frame.step;
    QTest::qWait(150);
    QCOMPARE(owner.received, receivedWhilePaused);
    QVERIFY(thread.takeNewestFrame(&owner.frame));
    QCOMPARE(owner.frame.step, heldAt);
    QVERIFY(matchesSolverAlone(owner.frame, in));
    QVERIFY(thread.isRunning());

    // Going on steps again; stopping while paused ends the run at once.
    thread.setPaused(false);
    thread.requestFrame();
    QTRY_VERIFY_WITH_TIMEOUT(owner.frame.step > heldAt, 60000);
    QVERIFY(!thread.isHolding());
    thread.setPaused(true);
    QTest::qWait(50);
    thread.requestStop();
    QVERIFY(owner.waitFinished());
    QCoreApplication::processEvents();
    QVERIFY(owner.take());
    QVERIFY(matchesSolverAlone(owner.frame, in));
}

void SimThreadTest::rateLimitSpacesStepsAndChangesAtOnce() {
    // A tiny grid steps in microseconds; at 20 steps a second it makes one
    // step at once and then one every 50 ms (an upper bound counted from the
    // start: a busy machine can only lower it).
    const Inputs in(6);
    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    Owner owner(thread);
    connect(&thread, &SimThread::stepCompleted, &owner.context, [&owner] { owner.take(); });
    thread.setStepRateLimit(20.0);
    QElapsedTimer clock;
    clock.start();
    thread.start();
    QTest::qWait(300);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(owner.frame.step <= 1 + elapsed / 50,
             qPrintable(QStringLiteral("%1 steps in %2 ms").arg(owner.frame.step).arg(elapsed)));

    // One step in 100 s: the worker sleeps. Lifting the limit wakes it at once.
    thread.setStepRateLimit(0.01);
    QTest::qWait(100);
    const std::int64_t asleep = owner.frame.step;
    thread.setStepRateLimit(0.0);
    QTRY_VERIFY_WITH_TIMEOUT(owner.frame.step > asleep + 100, 60000);

    // Stop wakes a sleeping worker too.
    thread.setStepRateLimit(0.01);
    QTest::qWait(100);
    thread.requestStop();
    QVERIFY(owner.waitFinished());
}

void SimThreadTest::unstableRunEndsOnItsLastFiniteFrame() {
    // Full gathering with a huge time step blows up within a few steps. The
    // step that does is found by stepping a solver alone.
    const Inputs in(8);
    const double vf = 1000.0, vd = 0.0, vg = 1.0, dt = 1.0;
    Solver alone(in.src, in.tgt);
    configure(alone, vf, vd, vg, dt);
    std::int64_t firstBad = 0;
    for (std::int64_t k = 1; k <= 200 && firstBad == 0; ++k) {
        alone.step();
        if (!velloran::stateFinite(alone)) {
            firstBad = k;
        }
    }
    QVERIFY2(firstBad > 1, "the inputs must blow up, but not at once");

    SimThread thread(nullptr, in.src, in.tgt, vf, vd, vg, kSigma, dt);
    Owner owner(thread);
    thread.start();
    QVERIFY(owner.waitFinished()); // ends by itself
    QVERIFY(!thread.stopRequested());
    QCOMPARE(thread.unstableStep(), firstBad);
    QVERIFY(owner.take());
    QCOMPARE(owner.frame.step, firstBad - 1);
    QVERIFY(matchesSolverAlone(owner.frame, in, vf, vd, vg, dt));
}

// Runs the thread, taking a frame at every notification (in the worker, so
// none is skipped), until it has `count`; true when the run then ended with
// exactly those.
bool SimThreadTest::runForFrames(SimThread &thread, std::size_t count,
                                 std::vector<SimFrame> *frames) {
    connect(
        &thread, &SimThread::stepCompleted, this,
        [&thread, count, frames] {
            frames->emplace_back();
            thread.takeNewestFrame(&frames->back());
            thread.requestFrame();
            if (frames->size() == count) {
                thread.requestStop();
            }
        },
        Qt::DirectConnection);
    Owner owner(thread);
    thread.start();
    return owner.waitFinished() && frames->size() == count;
}

void SimThreadTest::schemeAndKeyframesReachTheSolver() {
    // A sound-scheme run whose target becomes a second shape before step 4:
    // every frame is the state of a solver given the scheme and, at step 4,
    // the new target by hand; frames say which target governed their step.
    const std::uint32_t n = 12;
    const Inputs in(n);
    Grid second(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            second(i, j) = j > 3 && j < 8 ? 1.0 : 0.0;
        }
    }
    std::vector<velloran::Keyframe> keyframes(1);
    keyframes[0].step = 4;
    keyframes[0].target = second;

    SimThread thread(nullptr, in.src, in.tgt, kVf, kVd, kVg, kSigma, kDt);
    thread.setScheme(velloran::Scheme::Sound);
    thread.setTargetSchedule(std::make_unique<velloran::TargetSchedule>(in.tgt, keyframes));
    std::vector<SimFrame> frames;
    QVERIFY(runForFrames(thread, 7, &frames));
    const auto byHand = [&second](Solver &solver, std::int64_t stepsDone) {
        if (stepsDone == 0) {
            solver.setScheme(velloran::Scheme::Sound);
        }
        if (stepsDone == 4) {
            solver.setTarget(second);
        }
    };
    for (const SimFrame &frame : frames) {
        QCOMPARE(frame.targets, 2);
        QCOMPARE(frame.target, frame.step <= 4 ? 0 : 1);
        QVERIFY2(matchesSolverAlone(frame, in, kVf, kVd, kVg, kDt, byHand),
                 qPrintable(QString::number(frame.step)));
    }
}

// Two fields crossing over on one flow: every frame holds both densities as a
// solver of the same fields stepped alone has them, and its distance adds the
// fields' differences over their target mass.
void SimThreadTest::colourFramesCarryEveryField() {
    const Inputs in(10);
    Grid faint = in.tgt; // half the bar's smoke, so the two target masses differ
    for (std::uint32_t i = 0; i < 10; ++i) {
        for (std::uint32_t j = 0; j < 10; ++j) {
            faint(i, j) = in.tgt(j, i) * 0.5;
        }
    }
    const std::vector<SmokeInput> fields{{&in.src, &in.tgt}, {&faint, &faint}};
    SimThread thread(nullptr, fields, kVf, kVd, kVg, kSigma, kDt);
    std::vector<SimFrame> frames;
    QVERIFY(runForFrames(thread, 3, &frames));
    for (const SimFrame &frame : frames) {
        Solver alone(fields);
        configure(alone, kVf, kVd, kVg, kDt);
        for (std::int64_t k = 0; k < frame.step; ++k) {
            alone.step();
        }
        QCOMPARE(frame.fields.size(), std::size_t(1));
        QVERIFY(sameBits(frame.density, alone.smokeDensity(0)));
        QVERIFY(sameBits(frame.fields[0], alone.smokeDensity(1)));
        const double mass[2] = {sumOfInterior(alone.smokeTarget(0)),
                                sumOfInterior(alone.smokeTarget(1))};
        const double expected =
            (distanceToTarget(alone.smokeDensity(0), alone.smokeTarget(0)) * mass[0] +
             distanceToTarget(alone.smokeDensity(1), alone.smokeTarget(1)) * mass[1]) /
            (mass[0] + mass[1]);
        QVERIFY(std::fabs(frame.distance - expected) <= 1e-12 * expected);
    }
}

QTEST_GUILESS_MAIN(SimThreadTest)
#include "simthread_test.moc"
