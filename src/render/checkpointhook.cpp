#include "checkpointhook.h"

#include "checkpointio.h"
#include "interruption.h"
#include "metricsfile.h"
#include "solverstate.h"

#include "targetschedule.h"

#include <utility>

namespace velloran {

CheckpointHook::CheckpointHook(QString folder, CheckpointRun run, int every, int lastStep,
                               MetricsFile &metrics, const RunLoop &loop,
                               const TargetSchedule *schedule)
    : m_folder(std::move(folder))
    , m_run(std::move(run))
    , m_every(every)
    , m_lastStep(lastStep)
    , m_metrics(metrics)
    , m_loop(loop)
    , m_schedule(schedule) {}

bool CheckpointHook::stepFinished(const Solver &solver, const StepReport &report,
                                  std::string *error) {
    const int step = static_cast<int>(report.step);
    // A run stopped before its first step is resumed from step 0.
    const bool due =
        (step > 0 && (step % m_every == 0 || step == m_lastStep)) || interruptRequested();
    QString failure;
    if (!due || !m_metrics.flush(&failure)) {
        *error = failure.toStdString();
        return !due;
    }
    Checkpoint checkpoint;
    checkpoint.run = m_run;
    checkpoint.run.job.steps = m_lastStep;
    checkpoint.step = step;
    checkpoint.activeTarget = m_schedule ? m_schedule->activeIndex(step) : 0;
    checkpoint.frames = m_loop.frames();
    checkpoint.extraFrame = m_loop.lastFrameStep() == step && step % m_loop.every() != 0;
    checkpoint.grids = captureSolverState(solver);
    checkpoint.history = m_loop.history().state();
    checkpoint.metricsBytes = static_cast<std::uint64_t>(m_metrics.length());
    checkpoint.metricsCrc = m_metrics.crc();
    const bool saved = saveCheckpoint(m_folder, checkpoint, &failure);
    *error = failure.toStdString();
    return saved;
}

} // namespace velloran
