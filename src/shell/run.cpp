#include "run.h"

#include "check.h"
#include "solver.h"

#include <algorithm>
#include <utility>

namespace velloran {

Run::Run(std::unique_ptr<Solver> solver, std::unique_ptr<TargetSchedule> schedule)
    : m_solver(std::move(solver))
    , m_schedule(std::move(schedule)) {}

Run::~Run() = default;

void Run::setSchedule(std::unique_ptr<TargetSchedule> schedule) {
    m_schedule = std::move(schedule);
}

void Run::setFieldSchedules(std::vector<std::unique_ptr<TargetSchedule>> schedules) {
    m_fieldSchedules = std::move(schedules);
}

void Run::resumeAt(std::int64_t steps, double seconds) {
    m_steps.store(steps, std::memory_order_relaxed);
    m_secondsBefore = seconds;
}

// The metrics observers get include the smoke each step moved, which the
// solver measures only when asked (at a cost): it is asked while somebody
// follows the run.
void Run::addObserver(StepObserver *observer) {
    m_observers.push_back(observer);
    m_solver->setTransportMeasured(true);
}

void Run::removeObserver(StepObserver *observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
    m_solver->setTransportMeasured(!m_observers.empty());
}

void Run::abandon() {
    static_cast<void>(m_solver.release());
}

int Run::lastTarget() const {
    // The schedule answers for the step to come after a number of steps done.
    const std::int64_t done = steps();
    return m_schedule && done > 0 ? m_schedule->activeIndex(done - 1) : 0;
}

void Run::startClock() {
    if (!m_started) {
        m_started = Clock::now();
    }
}

double Run::seconds() const {
    if (!m_started) {
        return m_secondsBefore;
    }
    return m_secondsBefore + std::chrono::duration<double>(Clock::now() - *m_started).count();
}

StepMetrics Run::measure() const {
    StepMetrics metrics = velloran::measure(*m_solver, static_cast<int>(steps()), seconds());
    metrics.target = lastTarget();
    return metrics;
}

StepReport Run::begin() {
    startClock();
    return report(steps(), lastTarget());
}

StepReport Run::step() {
    VELLORAN_CHECK(m_unstableStep == 0);
    startClock();
    const Clock::time_point started = Clock::now();
    const std::int64_t done = steps();
    int target = 0;
    if (m_schedule) {
        // The target due for this step, before it is computed.
        target = m_schedule->activeIndex(done);
        m_schedule->apply(*m_solver, done);
        for (std::size_t k = 0; k < m_fieldSchedules.size(); ++k) {
            const TargetSchedule &schedule = *m_fieldSchedules[k];
            if (schedule.changesAt(done)) {
                m_solver->setTarget(static_cast<int>(k) + 1, schedule.targetAt(done));
            }
        }
    }
    m_solver->step();
    m_solverNanoseconds +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count();
    m_steps.store(done + 1, std::memory_order_relaxed);
    return report(done + 1, target);
}

// Checks and, for somebody who follows the run, measures the state after
// `step` steps, then tells the observers of a finite one.
StepReport Run::report(std::int64_t step, int target) {
    StepReport report;
    report.step = step;
    report.target = target;
    if (m_observers.empty()) {
        report.finite = stateFinite(*m_solver);
    } else {
        const Clock::time_point started = Clock::now();
        report.metrics = velloran::measure(*m_solver, static_cast<int>(step), seconds());
        report.metrics->target = target;
        report.finite = report.metrics->finite;
        m_measureNanoseconds +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count();
    }
    if (!report.finite) {
        m_unstableStep = step;
        return report;
    }
    for (StepObserver *observer : m_observers) {
        if (!observer->stepFinished(*m_solver, report, &report.error)) {
            report.failed = true;
            break;
        }
    }
    return report;
}

} // namespace velloran
