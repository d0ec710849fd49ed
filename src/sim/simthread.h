#pragma once

// SimThread: one run of the simulation on a worker thread.
//
// The constructor builds and configures the run (its Solver) in the caller's
// thread. run() then steps it until the owner asks it to stop (or the state
// stops being finite). Every two seconds (more exactly: with the first step
// that ends more than 2000 ms after the previous report) fpsUpdated() carries
// the step rate.
//
// Frames. After every finite step the worker copies the density and the
// cell-centred velocity aside; so it always holds the last finite state,
// whatever the next step does. When the owner has asked
// for a frame (requestFrame(); the first is asked for from the start), the
// worker turns that copy into the shared frame, with its step number and its
// distance to the target, and posts stepCompleted(). It also publishes without
// being asked when the run is paused and when it ends, so the owner always
// ends up showing where the run is. The owner reads the frame with
// takeNewestFrame(), which never waits for the worker.
//
// Notifications are coalesced: stepCompleted() is posted only when the owner
// has taken the previous frame, so at most one waits in the owner's queue, and
// a frame published after a take is always announced.
//
// Control. requestStop(), setPaused() and setStepRateLimit() may be called at
// any time from the owner's thread and take effect between two steps: a run
// that waits (paused, or sleeping to keep its rate) wakes at once. The step
// under way always completes.
//
// The owner destroys the object only after the worker has ended.

#include "run.h"
#include "scheme.h"
#include "simframe.h"
#include "solver.h"
#include "stepobserver.h"
#include "steppacer.h"
#include "targetschedule.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

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
    // A colour run: every smoke field on one flow (1..8, sources and targets
    // of one side). Its frames carry the further fields, and their distance
    // is the whole run's: sum over the fields of |rho - rho*|, over their
    // target mass.
    SimThread(QObject *parent, const std::vector<SmokeInput> &fields, double vf, double vd,
              double vg, double sigma, double dt);
    ~SimThread() override;

    SimThread(const SimThread &) = delete;
    SimThread &operator=(const SimThread &) = delete;

    // Set-up before start(): the scheme the run steps with (default literal),
    // and the targets that follow the constructor's (keyframes; the schedule's
    // first target is the constructor's target density).
    void setScheme(velloran::Scheme scheme);
    // Walls inside the domain (an N x N mask, solid above one half), for a
    // sound run whose mask velloran::obstacleRefusal accepted; after
    // setScheme, before start(). obstacles() is the solver's framed copy.
    void setObstacles(const Grid &mask);
    const Grid *obstacles() const;
    void setTargetSchedule(std::unique_ptr<velloran::TargetSchedule> schedule);
    // A colour run with keyframes: the further fields' schedules (field 1, 2,
    // ...), the one above being the first field's (Run::setFieldSchedules).
    void setFieldSchedules(std::vector<std::unique_ptr<velloran::TargetSchedule>> schedules);

    // Ends the run after the step under way (at once when it is waiting).
    void requestStop();
    bool stopRequested() const { return m_stop.load(std::memory_order_relaxed); }

    // Holds the worker between steps without ending the run, or lets it go on.
    void setPaused(bool paused);
    bool isPaused() const;
    // True while the worker actually waits in a pause, its frame published.
    bool isHolding() const;

    // At most this many steps per second; 0 for as fast as the solver goes.
    void setStepRateLimit(double stepsPerSecond);

    // Follows every step from the next one on (null: nobody). Set before
    // start(), it also sees step 0. The worker keeps its own reference while
    // it calls the observer, so the owner may drop it at any time.
    void setStepObserver(std::shared_ptr<velloran::StepObserver> observer);

    // Asks the worker to publish the state after its next step.
    void requestFrame() { m_frameWanted.store(true, std::memory_order_relaxed); }

    // Copies the newest published frame into *frame. Counts as taking the
    // notification: any frame published from now on posts a new one. Returns
    // false, leaving *frame alone, when the worker is publishing at this very
    // moment; its notification follows.
    bool takeNewestFrame(SimFrame *frame);
    // True while a posted notification has not been taken.
    bool notificationPending() const { return m_notified.load(std::memory_order_acquire); }

    // Once the run has ended: the step whose density or velocity was not
    // finite (the run stopped there and its last frame is the step before);
    // 0 when the run stayed finite.
    std::int64_t unstableStep() const { return m_unstableStep.load(std::memory_order_acquire); }

signals:
    void stepCompleted();
    void fpsUpdated(float fps);

protected:
    void run() override;

private:
    bool waitForTurn(const QElapsedTimer &clock, bool *held);
    void follow(std::shared_ptr<velloran::StepObserver> observer);
    void keepLastFinite(int target);
    void publishFrame();
    double frameDistance() const;

    velloran::Run m_run;              // worker only, once started
    std::vector<double> m_targetMass; // a colour run's, per field: weights its distances

    // Worker only: the state after the latest finite step.
    SimFrame m_lastFinite;
    bool m_lastFinitePublished = false;

    std::mutex m_frameMutex; // guards m_frame
    SimFrame m_frame;        // the published frame
    std::atomic<bool> m_notified{false};
    std::atomic<bool> m_frameWanted{true};

    // Guards the control state below; m_wake wakes a waiting worker.
    mutable std::mutex m_controlMutex;
    std::condition_variable m_wake;
    bool m_paused = false;
    bool m_holding = false;
    double m_rateLimit = 0.0;
    bool m_rateChanged = false;
    std::shared_ptr<velloran::StepObserver> m_observer; // as set by the owner
    bool m_observerChanged = false;
    std::atomic<bool> m_stop{false};

    StepPacer m_pacer;                                   // worker only
    std::shared_ptr<velloran::StepObserver> m_following; // worker only: the run's observer
    std::uint32_t m_stepCount = 0; // steps in the current rate window (worker only)
    std::atomic<std::int64_t> m_unstableStep{0};
};
