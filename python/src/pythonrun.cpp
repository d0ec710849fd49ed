#include "pythonrun.h"

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

std::string unstableMessage(std::int64_t step) {
    return "the density or velocity became non-finite at step " + std::to_string(step);
}

} // namespace

void rememberMainThread() {
    g_mainThread =
        py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

PythonRun::PythonRun(const RunInputs &inputs, std::optional<int> threads)
    : m_firstTarget(inputs.target)
    , m_parameters(inputs.parameters)
    , m_picture(inputs.picture)
    , m_background(inputs.background)
    , m_process(::getpid()) {
    if (threads && *threads < 1) {
        throw InputError("threads must be at least 1, not " + std::to_string(*threads));
    }
    std::vector<SmokeInput> smoke = {{&inputs.source, &inputs.target}};
    if (inputs.picture) {
        smoke.clear();
        for (std::size_t k = 0; k < inputs.fieldSources.size(); ++k) {
            smoke.push_back({&inputs.fieldSources[k], &inputs.fieldTargets[k]});
        }
    }
    if (inputs.obstacles) {
        const QString refusal = obstacleRefusal(inputs.scheme, smoke, *inputs.obstacles);
        if (!refusal.isEmpty()) {
            throw InputError("obstacles: " + refusal.toStdString());
        }
    }
    if (inputs.picture) {
        m_fieldFirstTargets.assign(inputs.fieldTargets.begin() + 1, inputs.fieldTargets.end());
    }
    std::unique_ptr<Solver> solver = inputs.obstacles
                                         ? makeSolver(smoke, inputs.parameters, *inputs.obstacles)
                                         : makeSolver(smoke, inputs.parameters);
    solver->setScheme(inputs.scheme);
    if (threads) {
        solver->setThreadCount(*threads);
    }
    std::unique_ptr<TargetSchedule> schedule;
    if (!inputs.keyframes.empty()) {
        schedule = std::make_unique<TargetSchedule>(inputs.target, inputs.keyframes);
    }
    m_run = std::make_unique<velloran::Run>(std::move(solver), std::move(schedule));
    if (!inputs.fieldKeyframes.empty()) {
        std::vector<std::unique_ptr<TargetSchedule>> further;
        for (std::size_t k = 0; k < inputs.fieldKeyframes.size(); ++k) {
            further.push_back(std::make_unique<TargetSchedule>(m_fieldFirstTargets.at(k),
                                                               inputs.fieldKeyframes[k]));
        }
        m_run->setFieldSchedules(std::move(further));
    }
}

PythonRun::~PythonRun() {
    // In a forked child the solver's helper threads do not exist, and
    // joining them would wait for ever: the child's copy is left to the end
    // of the process instead.
    if (::getpid() != m_process) {
        m_run->abandon();
    }
}

void PythonRun::checkUsable() const {
    if (::getpid() != m_process) {
        throw UsageError("this run was made in another process and copied here by a fork, "
                         "without the threads it steps with; make runs in the process that "
                         "steps them");
    }
    if (m_stepping.load()) {
        throw UsageError("the run is stepping in another thread");
    }
}

const Solver &PythonRun::solver() const {
    checkUsable();
    return m_run->solver();
}

void PythonRun::setTarget(const Grid &target) {
    checkUsable();
    m_run->solver().setTarget(target);
}

void PythonRun::setTargets(const std::vector<Grid> &targets) {
    checkUsable();
    for (std::size_t k = 0; k < targets.size(); ++k) {
        m_run->solver().setTarget(static_cast<int>(k), targets[k]);
    }
}

const std::vector<Keyframe> &PythonRun::keyframes() const {
    static const std::vector<Keyframe> none;
    return m_run->schedule() ? m_run->schedule()->keyframes() : none;
}

const std::vector<Keyframe> &PythonRun::fieldKeyframes(std::size_t field) const {
    static const std::vector<Keyframe> none;
    const auto &schedules = m_run->fieldSchedules();
    return field < schedules.size() ? schedules[field]->keyframes() : none;
}

void PythonRun::restore(const std::vector<CheckpointGrid> &grids, std::int64_t steps) {
    checkUsable();
    QString error;
    if (!restoreSolverState(grids, m_run->solver(), &error)) {
        throw InputError(error.toStdString());
    }
    // The centred velocities are not saved: every step derives them from the
    // face velocities, and so does this.
    m_run->solver().centreVelocity();
    m_run->resumeAt(steps);
}

StepMetrics PythonRun::metrics() const {
    checkUsable();
    return m_run->measure();
}

void PythonRun::step(std::int64_t count) {
    if (count < 0) {
        throw InputError("the number of steps must not be negative, not " + std::to_string(count));
    }
    checkUsable();
    if (m_run->unstableStep() > 0) {
        throw UnstableError(unstableMessage(m_run->unstableStep()) + "; the run cannot go on");
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
            if (!m_run->step().finite) {
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
        throw UnstableError(unstableMessage(m_run->unstableStep()) +
                            (m_run->solver().hitSubcycleCap()
                                 ? " (a stage needed more than " +
                                       std::to_string(Solver::kMaxSubcycles) + " sub-cycles)"
                                 : std::string()));
    }
}

} // namespace velloran::binding
