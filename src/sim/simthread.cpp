#include "simthread.h"

#include "fieldgrids.h"
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

SimThread::SimThread(QObject *parent, const Grid &srcDensity, const Grid &tgtDensity, double vf,
                     double vd, double vg, double sigma, double dt)
    : SimThread(parent, {SmokeInput{&srcDensity, &tgtDensity}}, vf, vd, vg, sigma, dt) {}

SimThread::SimThread(QObject *parent, const std::vector<SmokeInput> &fields, double vf, double vd,
                     double vg, double sigma, double dt)
    : QThread(parent)
    , m_run(std::make_unique<Solver>(fields)) {
    Solver &solver = m_run.solver();
    solver.m_vf = vf;
    solver.m_vd = vd;
    solver.m_vg = vg;
    solver.setSigma(sigma);
    solver.setTimeStep(dt);
    if (solver.smokeCount() > 1) {
        for (int k = 0; k < solver.smokeCount(); ++k) {
            m_targetMass.push_back(velloran::fieldMass(solver.smokeTarget(k)));
        }
    }
    // Step 0 is the last finite state until a step has been made; a run whose
    // first step fails shows where it started.
    keepLastFinite(0);
}

void SimThread::setScheme(velloran::Scheme scheme) {
    m_run.solver().setScheme(scheme);
}

void SimThread::setObstacles(const Grid &mask) {
    m_run.solver().setObstacles(mask);
}

const Grid *SimThread::obstacles() const {
    return m_run.solver().obstacles();
}

void SimThread::setTargetSchedule(std::unique_ptr<velloran::TargetSchedule> schedule) {
    m_run.setSchedule(std::move(schedule));
    m_lastFinite.targets = m_run.targetCount();
}

void SimThread::setFieldSchedules(
    std::vector<std::unique_ptr<velloran::TargetSchedule>> schedules) {
    m_run.setFieldSchedules(std::move(schedules));
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

void SimThread::setStepObserver(std::shared_ptr<velloran::StepObserver> observer) {
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
    m_lastFinite.distance = frameDistance();
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

// A grey run's distance as the renderer gives it; a colour run's weights each
// field's by its target mass, which adds the fields' sums of |rho - rho*|.
double SimThread::frameDistance() const {
    const Solver &solver = m_run.solver();
    if (m_targetMass.empty()) {
        return distanceToTarget(m_lastFinite.density, *solver.m_target);
    }
    double differences = 0.0;
    double mass = 0.0;
    for (int k = 0; k < solver.smokeCount(); ++k) {
        const Grid &density = k == 0 ? m_lastFinite.density : m_lastFinite.fields[k - 1];
        differences += distanceToTarget(density, solver.smokeTarget(k)) * m_targetMass[k];
        mass += m_targetMass[k];
    }
    return mass > 0.0 ? differences / mass : differences;
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
            follow(m_observer);
            m_observerChanged = false;
        }
        if (m_paused) {
            *held = true;
            if (!m_lastFinitePublished && m_run.steps() > 0) {
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

// The run's observer becomes `observer` (the worker's own reference keeps it
// alive while the run calls it).
void SimThread::follow(std::shared_ptr<velloran::StepObserver> observer) {
    if (m_following) {
        m_run.removeObserver(m_following.get());
    }
    m_following = std::move(observer);
    if (m_following) {
        m_run.addObserver(m_following.get());
    }
}

// The solver's state, just checked finite, becomes the last finite state.
void SimThread::keepLastFinite(int target) {
    const Solver &solver = m_run.solver();
    m_lastFinite.density = *solver.m_density;
    // Assigned in place: after the first frame no field allocates.
    m_lastFinite.fields.resize(static_cast<std::size_t>(solver.smokeCount() - 1), Grid(1, 1));
    for (int k = 1; k < solver.smokeCount(); ++k) {
        m_lastFinite.fields[k - 1] = solver.smokeDensity(k);
    }
    m_lastFinite.u = *solver.m_uCentre;
    m_lastFinite.v = *solver.m_vCentre;
    m_lastFinite.step = m_run.steps();
    m_lastFinite.target = target;
    m_lastFinite.targets = m_run.targetCount();
    m_lastFinitePublished = false;
}

void SimThread::run() {
    // A monotonic clock: a change of the wall clock must not distort the rate.
    QElapsedTimer clock;
    clock.start();
    qint64 windowStart = 0;
    {
        std::lock_guard<std::mutex> lock(m_controlMutex);
        follow(m_observer);
        m_observerChanged = false;
    }
    if (m_following && !stopRequested()) {
        m_run.begin();
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
        const velloran::StepReport report = m_run.step();

        float rate = 0.0f;
        if (closeRateWindow(m_stepCount, windowStart, clock.elapsed(), &rate)) {
            emit fpsUpdated(rate);
        }
        if (!report.finite) {
            m_unstableStep.store(report.step, std::memory_order_release);
            break;
        }
        keepLastFinite(report.target);
        if (m_frameWanted.exchange(false, std::memory_order_relaxed)) {
            publishFrame();
        }
    }
    // Whatever ended the run, the owner gets to see its last finite state.
    if (!m_lastFinitePublished && m_run.steps() > 0) {
        publishFrame();
    }
    // That state is now the shared frame, which nobody writes any more.
    if (m_following) {
        m_following->runEnded(m_frame);
        follow(nullptr);
    }
}
