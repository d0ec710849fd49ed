#include "steppacer.h"

#include <cmath>

void StepPacer::setRate(double stepsPerSecond) {
    m_intervalNs = stepsPerSecond > 0.0 && std::isfinite(stepsPerSecond)
                       ? static_cast<std::int64_t>(std::llround(1e9 / stepsPerSecond))
                       : 0;
    // A new rate applies from the latest step on, not from the old schedule.
    m_due = m_lastStart + m_intervalNs;
}

std::int64_t StepPacer::waitNs(std::int64_t now) const {
    if (!limited() || !m_started || now >= m_due) {
        return 0;
    }
    return m_due - now;
}

void StepPacer::stepStarted(std::int64_t now) {
    const bool keepSchedule = m_started && now - m_due <= m_intervalNs;
    m_lastStart = now;
    m_due = (keepSchedule ? m_due : now) + m_intervalNs;
    m_started = true;
}

void StepPacer::restart() {
    m_started = false;
}
