#include "run.h"

#include "errors.h"
#include "runsetup.h"
#include "solverstate.h"

#include <pybind11/pybind11.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>

namespace py = pybind11;

namespace velloran::binding {

namespace {

unsigned long g_mainThread = 0;

// How often a long step() looks for a pending Ctrl-C: often enough to feel
// immediate, rarely enough that taking the interpreter lock costs nothing.
constexpr auto kSignalInterval = std::chrono::milliseconds(100);

// What the renderer checks after every step before it calls a run unstable.
bool stateFinite(const Solver &solver) {
    return allFinite(*solver.m_density) && allFinite(*solver.m_uCentre) &&
           allFinite(*solver.m_vCentre);
}

std::string unstableMessage(std::int64_t step) {
    return "the density or velocity became non-finite at step " + std::to_string(step);
}

} // namespace

void rememberMainThread() {
    g_mainThread =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

Run::Run(const RunInputs &inputs, std::optional<int> threads)
    : m_solver(makeSolver(inputs.source, inputs.target, inputs.parameters))
    , m_firstTarget(inputs.target)
    , m_parameters(inputs.parameters)
    , m_process(::getpid()) {
    m_solver->setScheme(inputs.scheme);
    if (threads && *threads < 1) {
        throw InputError("threads must be at least 1, not " + std::to_string(*threads));
    }
    if (threads) {
        m_solver->setThreadCount(*threads);
    }
    if (!inputs.keyframes.empty()) {
        m_schedule.emplace(inputs.target, inputs.keyframes);
    }
}

Run::~Run() {
    // In a forked child the solver's helper threads do not exist, and
    // joining them would wait for ever: the child's copy is left to the end
    // of the process instead.
    if (::getpid() != m_process) {
        static_cast<void>(m_solver.release());
    }
}

void Run::checkUsable() const {
    if (::getpid() != m_process) {
        throw UsageError("this run was made in another process and copied here by a fork, "
                         "without the threads it steps with; make runs in the process that "
                         "steps them");
    }
    if (m_stepping.load()) {
        throw UsageError("the run is stepping in another thread");
    }
}

const Solver &Run::solver() const {
    checkUsable();
    return *m_solver;
}

void Run::setTarget(const Grid &target) {
    checkUsable();
    m_solver->setTarget(target);
}

int Run::targetIndex() const {
    // The schedule answers for the step to come; the solver holds the target
    // of the step last computed.
    const std::int64_t done = steps();
    return m_schedule && done > 0 ? m_schedule->activeIndex(done - 1) : 0;
}

const std::vector<Keyframe> &Run::keyframes() const {
    static const std::vector<Keyframe> none;
    return m_schedule ? m_schedule->keyframes() : none;
}

void Run::restore(const std::vector<CheckpointGrid> &grids, std::int64_t steps) {
    checkUsable();
    QString error;
    if (!restoreSolverState(grids, *m_solver, &error)) {
        throw InputError(error.toStdString());
    }
    // The centred velocities are not saved: every step derives them from the
    // face velocities, and so does this.
    m_solver->centreVelocity();
    m_steps.store(steps);
}

StepMetrics Run::metrics() const {
    checkUsable();
    return measure(*m_solver, static_cast<int>(steps()), 0.0);
}

void Run::step(std::int64_t count) {
    if (count < 0) {
        throw InputError("the number of steps must not be negative, not " + std::to_string(count));
    }
    checkUsable();
    if (m_unstableAt >= 0) {
        throw UnstableError(unstableMessage(m_unstableAt) + "; the run cannot go on");
    }
    const bool mainThread = PyThread_get_thread_ident() == g_mainThread;
    m_stepping.store(true);
    struct Finished {
        std::atomic<bool> &stepping;
        ~Finished() { stepping.store(false); }
    } finished{m_stepping};

    bool interrupted = false;
    bool unstable = false;
    {
        py::gil_scoped_release release;
        auto lastCheck = std::chrono::steady_clock::now();
        for (std::int64_t k = 0; k < count; ++k) {
            if (m_schedule) {
                m_schedule->apply(*m_solver, steps());
            }
            m_solver->step();
            m_steps.fetch_add(1, std::memory_order_relaxed);
            if (!stateFinite(*m_solver)) {
                unstable = true;
                break;
            }
            if (mainThread && k + 1 < count) {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastCheck >= kSignalInterval) {
                    lastCheck = now;
                    py::gil_scoped_acquire acquire;
                    if (PyErr_CheckSignals() != 0) {
                        interrupted = true;
                        break;
                    }
                }
            }
        }
    }
    if (interrupted) {
        throw py::error_already_set();
    }
    if (unstable) {
        m_unstableAt = steps();
        throw UnstableError(unstableMessage(m_unstableAt) +
                            (m_solver->hitSubcycleCap()
                                 ? " (a stage needed more than " +
                                       std::to_string(Solver::kMaxSubcycles) + " sub-cycles)"
                                 : std::string()));
    }
}

} // namespace velloran::binding
