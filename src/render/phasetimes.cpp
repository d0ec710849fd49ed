#include "phasetimes.h"

#include <cstdlib>

namespace velloran {

PhaseTimes::PhaseTimes()
    : m_start(Clock::now())
    , m_lap(m_start) {}

PhaseTimes &PhaseTimes::instance() {
    static PhaseTimes times;
    return times;
}

void PhaseTimes::lap(Phase phase) {
    const Clock::time_point now = Clock::now();
    add(phase, now - m_lap);
    m_lap = now;
}

void PhaseTimes::printIfAsked(FILE *stream) const {
    if (!std::getenv("VELLORAN_PHASE_TIMES")) {
        return;
    }
    static const char *const names[] = {"startup", "setup",  "steps",    "solver", "metrics",
                                        "rows",    "frames", "progress", "finish", "plot"};
    const auto ms = [](Clock::duration time) {
        return std::chrono::duration<double, std::milli>(time).count();
    };
    std::fprintf(stream, "velloran-render: phase ms:");
    for (int k = 0; k < static_cast<int>(Phase::Count); ++k) {
        std::fprintf(stream, " %s %.2f", names[k], ms(m_time[k]));
    }
    std::fprintf(stream, " total %.2f\n", ms(Clock::now() - m_start));
}

} // namespace velloran
