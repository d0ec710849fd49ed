#pragma once

// SimThread: one run of the simulation on a worker thread.
//
// The constructor builds and configures the run's Solver in the caller's
// thread. run() then steps it without pause for as long as m_running is set,
// and after every step publishes copies of the density and of the cell-centred
// velocity under m_mutex. Every two seconds (more exactly: with the first step
// that ends more than 2000 ms after the previous report) fpsUpdated() carries
// the step rate.
//
// Step notifications are coalesced: stepCompleted() is posted only when the
// previous one has been acknowledged (acknowledgeStep()), so however slowly
// the owner reads, at most one notification waits in its event queue. The
// owner acknowledges before it reads the snapshots; any step published after
// that posts a new notification, so the newest snapshot is always announced.
//
// Sharing between the owner (GUI thread) and the worker:
//   - the three snapshot grids, only under m_mutex;
//   - m_running, an atomic flag the owner clears to stop the loop; the step
//     under way still completes and is published;
//   - the notification flag, set by the worker when it posts stepCompleted()
//     and cleared by the owner through acknowledgeStep().
// The solver and the step counter belong to the worker alone once started.
// The owner destroys the object only after the worker has ended.

#include "grid.h"

#include <QMutex>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

class Solver;

// The step-rate window. Counts the step just finished; when more than
// kWindowMs have passed since windowStart, stores steps per second in *rate,
// restarts the window at now and returns true.
bool closeRateWindow(std::uint32_t &stepCount, qint64 &windowStart, qint64 now, float *rate);

class SimThread : public QThread {
    Q_OBJECT

public:
    static constexpr qint64 kWindowMs = 2000;

    SimThread(QObject *parent, const Grid &srcDensity, const Grid &tgtDensity, double vf, double vd,
              double vg, double sigma, double dt);
    ~SimThread() override;

    SimThread(const SimThread &) = delete;
    SimThread &operator=(const SimThread &) = delete;

    QMutex m_mutex; // guards the three snapshots

    // Called by the owner when it handles stepCompleted(), before it reads the
    // snapshots: from then on the next published step posts a notification.
    // (An exchange, not a store: reading the worker's flag orders its last
    // unlock before the owner's try-lock.)
    void acknowledgeStep() { m_notified.exchange(false, std::memory_order_acq_rel); }
    // True while a posted notification has not been acknowledged.
    bool notificationPending() const { return m_notified.load(std::memory_order_acquire); }

private:
    std::unique_ptr<Solver> m_solver; // worker only, once started

public:
    std::unique_ptr<Grid> m_densitySnap; // density after the latest step
    std::unique_ptr<Grid> m_uSnap;       // cell-centred x-velocity
    std::unique_ptr<Grid> m_vSnap;       // cell-centred y-velocity

    // Cleared by the owner to stop the loop. It carries no data (the snapshots
    // travel under the mutex), so relaxed loads and stores suffice.
    std::atomic<bool> m_running;

private:
    std::uint32_t m_stepCount; // steps in the current rate window (worker only)
    // Set by the worker when it posts stepCompleted(), cleared by the owner.
    std::atomic<bool> m_notified{false};

signals:
    void stepCompleted();
    void fpsUpdated(float fps);

protected:
    void run() override;
};
