// The simulation thread: the rate window, start and stop, and what is
// published. A fixed-size run is compared bit for bit with a solver stepped
// alone, so a lost or stale snapshot shows up as a difference.

#include "simthread.h"
#include "solver.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>

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

// Sets up a solver as SimThread sets up its own, to be stepped alone.
void configure(Solver &solver) {
    solver.m_vf = kVf;
    solver.m_vd = kVd;
    solver.m_vg = kVg;
    solver.setSigma(kSigma);
    solver.setTimeStep(kDt);
}

bool sameBits(const Grid &a, const Grid &b) {
    return a.NumRows() == b.NumRows() && a.NumCols() == b.NumCols() &&
           std::memcmp(a.data(), b.data(), sizeof(double) * a.NumRows() * a.NumCols()) == 0;
}

// Whether the thread's three snapshots equal a solver built from the same
// inputs and stepped alone `steps` times. Read under the lock, as an owner
// must (the tools cannot see the synchronisation inside wait()).
bool snapshotsMatchSolverAlone(SimThread &thread, const Grid &src, const Grid &tgt, int steps) {
    Solver alone(src, tgt);
    configure(alone);
    for (int k = 0; k < steps; ++k) {
        alone.step();
    }
    QMutexLocker lock(&thread.m_mutex);
    return sameBits(*thread.m_densitySnap, *alone.m_density) &&
           sameBits(*thread.m_uSnap, *alone.m_uCentre) &&
           sameBits(*thread.m_vSnap, *alone.m_vCentre);
}

} // namespace

class SimThreadTest : public QObject {
    Q_OBJECT

private slots:
    void rateWindow();
    void freshThreadHasEmptySnapshots();
    void clearedFlagBeforeStartRunsNoStep();
    void acknowledgedStepsAreEachSignalled();
    void unacknowledgedNotificationIsNotRepeated();
    void slowOwnerSeesNewestSnapshotAndShortQueue();
    void stopFromOwnerPublishesStepUnderWay();
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

void SimThreadTest::freshThreadHasEmptySnapshots() {
    Grid src(8, 8), tgt(8, 8);
    makeInputs(8, src, tgt);
    SimThread thread(nullptr, src, tgt, kVf, kVd, kVg, kSigma, kDt);
    QVERIFY(thread.m_running.load());
    for (const Grid *snap :
         {thread.m_densitySnap.get(), thread.m_uSnap.get(), thread.m_vSnap.get()}) {
        QCOMPARE(snap->NumRows(), 1u);
        QCOMPARE(snap->NumCols(), 1u);
        QCOMPARE((*snap)(0, 0), 0.0);
    }
}

void SimThreadTest::clearedFlagBeforeStartRunsNoStep() {
    Grid src(8, 8), tgt(8, 8);
    makeInputs(8, src, tgt);
    SimThread thread(nullptr, src, tgt, kVf, kVd, kVg, kSigma, kDt);
    // Counted in the worker with atomics, and finished() queued to this
    // thread: Qt's wait() synchronises in ways ThreadSanitizer cannot see.
    QAtomicInt signals_ = 0;
    auto count = [&signals_] { signals_.fetchAndAddRelaxed(1); };
    connect(&thread, &SimThread::stepCompleted, this, count, Qt::DirectConnection);
    connect(&thread, &SimThread::fpsUpdated, this, count, Qt::DirectConnection);
    int finished = 0;
    connect(
        &thread, &QThread::finished, this, [&finished] { ++finished; }, Qt::QueuedConnection);
    thread.m_running = false;
    thread.start();
    QVERIFY(thread.wait(30000));
    QTRY_COMPARE(finished, 1);
    QCOMPARE(signals_.loadRelaxed(), 0);
    QCOMPARE(thread.m_densitySnap->NumRows(), 1u);
}

void SimThreadTest::acknowledgedStepsAreEachSignalled() {
    // A direct connection runs in the worker right after the step's signal.
    // Acknowledging there lets every step post; clearing the flag on the
    // fifth must end the loop after exactly that step.
    const std::uint32_t n = 12;
    Grid src(n, n), tgt(n, n);
    makeInputs(n, src, tgt);
    SimThread thread(nullptr, src, tgt, kVf, kVd, kVg, kSigma, kDt);
    QAtomicInt signalled = 0;
    connect(
        &thread, &SimThread::stepCompleted, this,
        [&thread, &signalled] {
            thread.acknowledgeStep();
            if (signalled.fetchAndAddRelaxed(1) + 1 == 5) {
                thread.m_running = false;
            }
        },
        Qt::DirectConnection);
    thread.start();
    QVERIFY(thread.wait(60000));
    QCOMPARE(signalled.loadRelaxed(), 5);

    {
        QMutexLocker lock(&thread.m_mutex);
        QCOMPARE(thread.m_densitySnap->NumRows(), n + 2);
    }
    QVERIFY(snapshotsMatchSolverAlone(thread, src, tgt, 5));
}

void SimThreadTest::unacknowledgedNotificationIsNotRepeated() {
    // Without an acknowledgement the worker keeps stepping but posts nothing
    // more; the step after an acknowledgement posts again, even when the
    // owner held the mutex while it acknowledged (the worker was then
    // waiting to publish).
    const std::uint32_t n = 8;
    Grid src(n, n), tgt(n, n);
    makeInputs(n, src, tgt);
    SimThread thread(nullptr, src, tgt, kVf, kVd, kVg, kSigma, kDt);
    QVERIFY(!thread.notificationPending());
    QAtomicInt posted = 0;
    connect(
        &thread, &SimThread::stepCompleted, this, [&posted] { posted.fetchAndAddRelaxed(1); },
        Qt::DirectConnection);
    int received = 0;
    connect(&thread, &SimThread::stepCompleted, this, [&received] { ++received; });
    int finished = 0;
    connect(
        &thread, &QThread::finished, this, [&finished] { ++finished; }, Qt::QueuedConnection);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(received == 1, 60000);
    QVERIFY(thread.notificationPending());

    // Let the worker publish several more steps (the snapshots change).
    Grid first(1, 1);
    {
        QMutexLocker lock(&thread.m_mutex);
        first = *thread.m_densitySnap;
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QMutexLocker lock(&thread.m_mutex);
            return !sameBits(first, *thread.m_densitySnap);
        }(),
        60000);
    QTest::qWait(50);
    QCOMPARE(posted.loadRelaxed(), 1);
    QCOMPARE(received, 1);

    thread.m_mutex.lock();
    thread.acknowledgeStep();
    QVERIFY(!thread.notificationPending());
    QTest::qWait(20);
    thread.m_mutex.unlock();
    QTRY_VERIFY_WITH_TIMEOUT(received == 2, 60000);
    QCOMPARE(posted.loadRelaxed(), 2);

    thread.m_running = false;
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 60000);
    QVERIFY(thread.wait(1000));
}

void SimThreadTest::slowOwnerSeesNewestSnapshotAndShortQueue() {
    // An owner much slower than the worker: each handler acknowledges, copies
    // under tryLock and then dawdles. At no time does more than one
    // notification wait, and the last copy is the final snapshot.
    const std::uint32_t n = 8;
    Grid src(n, n), tgt(n, n);
    makeInputs(n, src, tgt);
    SimThread thread(nullptr, src, tgt, kVf, kVd, kVg, kSigma, kDt);
    QAtomicInt posted = 0;
    connect(
        &thread, &SimThread::stepCompleted, this, [&posted] { posted.fetchAndAddRelaxed(1); },
        Qt::DirectConnection);
    int received = 0;
    int backlog = 0; // largest number of posted but unhandled notifications
    Grid seenDensity(1, 1), seenU(1, 1);
    connect(&thread, &SimThread::stepCompleted, this, [&] {
        ++received;
        backlog = std::max(backlog, posted.loadRelaxed() - received);
        thread.acknowledgeStep();
        if (thread.m_mutex.tryLock()) {
            seenDensity = *thread.m_densitySnap;
            seenU = *thread.m_uSnap;
            thread.m_mutex.unlock();
        }
        QThread::msleep(15);
    });
    int finished = 0;
    connect(
        &thread, &QThread::finished, this, [&finished] { ++finished; }, Qt::QueuedConnection);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(received >= 10, 60000);
    thread.m_running = false;
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 60000);
    QVERIFY(thread.wait(1000));
    QCoreApplication::processEvents();

    QCOMPARE(backlog, 0);
    QCOMPARE(received, posted.loadRelaxed());
    QVERIFY(!thread.notificationPending());
    QMutexLocker lock(&thread.m_mutex);
    QVERIFY(sameBits(seenDensity, *thread.m_densitySnap));
    QVERIFY(sameBits(seenU, *thread.m_uSnap));
    lock.unlock();
}

void SimThreadTest::stopFromOwnerPublishesStepUnderWay() {
    // The owner's view: queued notifications, snapshots read with tryLock,
    // the flag cleared from this thread while the worker is mid-run. The
    // worker's side acknowledges too, so every step posts and can be counted.
    const std::uint32_t n = 24;
    Grid src(n, n), tgt(n, n);
    makeInputs(n, src, tgt);
    SimThread thread(nullptr, src, tgt, kVf, kVd, kVg, kSigma, kDt);
    QAtomicInt published = 0;
    connect(
        &thread, &SimThread::stepCompleted, this,
        [&thread, &published] {
            thread.acknowledgeStep();
            published.fetchAndAddRelaxed(1);
        },
        Qt::DirectConnection);
    int received = 0;
    std::uint32_t seenRows = 0;
    connect(&thread, &SimThread::stepCompleted, this, [&] {
        ++received;
        if (thread.m_mutex.tryLock()) {
            seenRows = thread.m_densitySnap->NumRows();
            thread.m_mutex.unlock();
        }
    });
    // Queued to this thread, like the window's handler (a spy would record
    // in the worker while this thread reads it).
    int finished = 0;
    connect(
        &thread, &QThread::finished, this, [&finished] { ++finished; }, Qt::QueuedConnection);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(received >= 3, 60000);
    thread.m_running = false;
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 60000);
    QVERIFY(thread.wait(1000));
    QCoreApplication::processEvents();
    // Every posted notification arrives, the last one after the last snapshot.
    QCOMPARE(received, published.loadRelaxed());
    QCOMPARE(seenRows, n + 2);

    QVERIFY(snapshotsMatchSolverAlone(thread, src, tgt, published.loadRelaxed()));
}

QTEST_GUILESS_MAIN(SimThreadTest)
#include "simthread_test.moc"
