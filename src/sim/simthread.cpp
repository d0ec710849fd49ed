#include "simthread.h"

#include "solver.h"

#include <QElapsedTimer>
#include <QMutexLocker>

bool closeRateWindow(std::uint32_t &stepCount, qint64 &windowStart, qint64 now, float *rate) {
    ++stepCount;
    const qint64 elapsed = now - windowStart;
    if (elapsed <= SimThread::kWindowMs) {
        return false;
    }
    *rate = static_cast<float>(stepCount * 1000.0 / static_cast<double>(elapsed));
    stepCount = 0;
    windowStart = now;
    return true;
}

SimThread::SimThread(QObject *parent, const Grid &srcDensity, const Grid &tgtDensity, double vf,
                     double vd, double vg, double sigma, double dt)
    : QThread(parent)
    , m_solver(std::make_unique<Solver>(srcDensity, tgtDensity))
    , m_running(true)
    , m_stepCount(0) {
    m_solver->m_vf = vf;
    m_solver->m_vd = vd;
    m_solver->m_vg = vg;
    m_solver->setSigma(sigma);
    m_solver->setTimeStep(dt);
    m_densitySnap = std::make_unique<Grid>(1, 1);
    m_uSnap = std::make_unique<Grid>(1, 1);
    m_vSnap = std::make_unique<Grid>(1, 1);
}

SimThread::~SimThread() {
    // The owner destroys the thread only after the worker has ended. Taking
    // the snapshot lock once more orders the worker's last step and copy before
    // the release of the solver and the snapshots also for tools that cannot
    // see the synchronisation inside QThread::wait().
    QMutexLocker lock(&m_mutex);
}

void SimThread::run() {
    // A monotonic clock: a change of the wall clock must not distort the rate.
    QElapsedTimer clock;
    clock.start();
    qint64 windowStart = 0;

    while (m_running.load(std::memory_order_relaxed)) {
        m_solver->step();

        float rate = 0.0f;
        if (closeRateWindow(m_stepCount, windowStart, clock.elapsed(), &rate)) {
            emit fpsUpdated(rate);
        }

        {
            QMutexLocker lock(&m_mutex);
            *m_densitySnap = *m_solver->m_density;
            *m_uSnap = *m_solver->m_uCentre;
            *m_vSnap = *m_solver->m_vCentre;
        }
        // Post only if the owner has taken the previous notification. The
        // exchange comes after the snapshot's unlock: an owner that
        // acknowledged earlier and found the mutex busy is sure to be told
        // again, and one that sees the flag still set reads this snapshot.
        if (!m_notified.exchange(true, std::memory_order_acq_rel)) {
            emit stepCompleted();
        }
    }
}
