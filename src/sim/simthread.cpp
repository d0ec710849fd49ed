#include "simthread.h"

#include "finitecopy.h"
#include "solver.h"
#include "targetdistance.h"

#include <QElapsedTimer>

#include <chrono>
#include <utility>

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

namespace {

// Copies the shown part of the solver's state into `frame`; false as soon as
// one of the three grids holds a value that is not finite.
bool copyFiniteState(const Solver &solver, SimFrame &frame) {
    return copyCheckingFinite(*solver.m_density, frame.density) &&
           copyCheckingFinite(*solver.m_uCentre, frame.u) &&
           copyCheckingFinite(*solver.m_vCentre, frame.v);
}

} // namespace

SimThread::SimThread(QObject *parent, const Grid &srcDensity, const Grid &tgtDensity, double vf,
                     double vd, double vg, double sigma, double dt)
    : QThread(parent)
    , m_solver(std::make_unique<Solver>(srcDensity, tgtDensity)) {
    m_solver->m_vf = vf;
    m_solver->m_vd = vd;
    m_solver->m_vg = vg;
    m_solver->setSigma(sigma);
    m_solver->setTimeStep(dt);
    // Step 0 is the last finite state until a step has been made; a run whose
    // first step fails shows where it started.
    copyFiniteState(*m_solver, m_lastFinite);
}

void SimThread::setScheme(velloran::Scheme scheme) {
    m_solver->setScheme(scheme);
}

void SimThread::setTargetSchedule(std::unique_ptr<velloran::TargetSchedule> schedule) {
    m_schedule = std::move(schedule);
    m_lastFinite.targets = m_schedule ? m_schedule->count() : 1;
}

SimThread::~SimThread() {
    // The owner destroys the thread only after the worker has ended. Taking
    // the frame lock once more orders the worker's last publication before
    // the release of the frames also for tools that cannot see the
    // synchronisation inside QThread::wait().
    std::lock_guard<std::mutex> lock(m_frameMutex);
}

void SimThread::requestStop() {
    std::lock_guard<std::mutex> lock(m_controlMutex);
    m_stop.store(true, std::memory_order_relaxed);
    m_wake.notify_all();
}

void SimThread::setPaused(bool paused) {
    std::lock_guard<std::mutex> lock(m_controlMutex);
    m_paused = paused;
    m_wake.notify_all();
}

bool SimThread::isPaused() const {
    std::lock_guard<std::mutex> lock(m_controlMutex);
    return m_paused;
}

bool SimThread::isHolding() const {
    std::lock_guard<std::mutex> lock(m_controlMutex);
    return m_holding;
}

void SimThread::setStepRateLimit(double stepsPerSecond) {
    std::lock_guard<std::mutex> lock(m_controlMutex);
    m_rateLimit = stepsPerSecond;
    m_rateChanged = true;
    m_wake.notify_all();
}

void SimThread::setStepObserver(std::shared_ptr<StepObserver> observer) {
    std::lock_guard<std::mutex> lock(m_controlMutex);
    m_observer = std::move(observer);
    m_observerChanged = true;
}

bool SimThread::takeNewestFrame(SimFrame *frame) {
    // An exchange, not a store: reading the worker's flag orders its last
    // publication before the try-lock below.
    m_notified.exchange(false, std::memory_order_acq_rel);
    std::unique_lock<std::mutex> lock(m_frameMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    *frame = m_frame;
    return true;
}

// The last finite state becomes the shared frame. The buffers are exchanged,
// not copied, so the lock is held only for a few pointer moves; the old frame
// comes back as the worker's scratch.
void SimThread::publishFrame() {
    m_lastFinite.distance = distanceToTarget(m_lastFinite.density, *m_solver->m_target);
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        std::swap(m_frame, m_lastFinite);
    }
    m_lastFinitePublished = true;
    // Posted only if the owner has taken the previous notification. The
    // exchange comes after the unlock: an owner that took the frame earlier
    // and found the lock busy is sure to be told again.
    if (!m_notified.exchange(true, std::memory_order_acq_rel)) {
        emit stepCompleted();
    }
}

// Waits until the next step may start: not paused, and due under the rate
// limit. Returns false when the run is to stop. *held tells whether the run
// was paused on the way.
bool SimThread::waitForTurn(const QElapsedTimer &clock, bool *held) {
    std::unique_lock<std::mutex> lock(m_controlMutex);
    for (;;) {
        if (m_stop.load(std::memory_order_relaxed)) {
            return false;
        }
        if (m_rateChanged) {
            m_pacer.setRate(m_rateLimit);
            m_rateChanged = false;
        }
        if (m_observerChanged) {
            m_following = m_observer;
            m_observerChanged = false;
        }
        if (m_paused) {
            *held = true;
            if (!m_lastFinitePublished && m_stepsDone > 0) {
                // Show exactly where the run holds.
                lock.unlock();
                publishFrame();
                lock.lock();
                continue;
            }
            m_holding = true;
            m_wake.wait(lock);
            m_holding = false;
            continue;
        }
        if (*held) {
            m_pacer.restart();
        }
        const std::int64_t wait = m_pacer.waitNs(clock.nsecsElapsed());
        if (wait <= 0) {
            return true;
        }
        m_wake.wait_for(lock, std::chrono::nanoseconds(wait));
    }
}

void SimThread::run() {
    // A monotonic clock: a change of the wall clock must not distort the rate.
    QElapsedTimer clock;
    clock.start();
    qint64 windowStart = 0;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        m_following = m_observer;
        m_observerChanged = false;
    }
    if (m_following && !stopRequested()) {
        m_following->stepFinished(*m_solver, 0, 0);
    }

    for (;;) {
        bool held = false;
        if (!waitForTurn(clock, &held)) {
            break;
        }
        if (held) {
            // Time spent paused is not stepping time: the rate starts afresh.
            windowStart = clock.elapsed();
            m_stepCount = 0;
        }
        m_pacer.stepStarted(clock.nsecsElapsed());
        int target = 0;
        if (m_schedule) {
            // The target due for this step, before it is computed.
            m_schedule->apply(*m_solver, m_stepsDone);
            target = m_schedule->activeIndex(m_stepsDone);
        }
        m_solver->step();
        ++m_stepsDone;

        float rate = 0.0f;
        if (closeRateWindow(m_stepCount, windowStart, clock.elapsed(), &rate)) {
            emit fpsUpdated(rate);
        }

        if (!copyFiniteState(*m_solver, m_incoming)) {
            m_unstableStep.store(m_stepsDone, std::memory_order_release);
            break;
        }
        m_incoming.step = m_stepsDone;
        m_incoming.target = target;
        m_incoming.targets = m_schedule ? m_schedule->count() : 1;
        std::swap(m_incoming, m_lastFinite);
        m_lastFinitePublished = false;
        if (m_following) {
            m_following->stepFinished(*m_solver, m_stepsDone, target);
        }
        if (m_frameWanted.exchange(false, std::memory_order_relaxed)) {
            publishFrame();
        }
    }
    // Whatever ended the run, the owner gets to see its last finite state.
    if (!m_lastFinitePublished && m_stepsDone > 0) {
        publishFrame();
    }
    // That state is now the shared frame, which nobody writes any more.
    if (m_following) {
        m_following->runEnded(m_frame);
        m_following.reset();
    }
}
