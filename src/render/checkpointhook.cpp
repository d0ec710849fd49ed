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

bool CheckpointHook::afterStep(const Solver &solver, const StepMetrics &metrics,
                               const MetricsHistory &history, bool frameWritten, QString *error) {
    const int step = metrics.step;
    // A run stopped before its first step is resumed from step 0.
    const bool due =
        (step > 0 && (step % m_every == 0 || step == m_lastStep)) || interruptRequested();
    if (!due || !m_metrics.flush(error)) {
        return !due;
    }
    Checkpoint checkpoint;
    checkpoint.run = m_run;
    checkpoint.run.steps = m_lastStep;
    checkpoint.step = step;
    checkpoint.activeTarget = m_schedule ? m_schedule->activeIndex(step) : 0;
    checkpoint.frames = m_loop.frames();
    checkpoint.extraFrame = frameWritten && step % m_loop.every() != 0;
    checkpoint.grids = captureSolverState(solver);
    checkpoint.history = history.state();
    checkpoint.metricsBytes = static_cast<std::uint64_t>(m_metrics.length());
    checkpoint.metricsCrc = m_metrics.crc();
    return saveCheckpoint(m_folder, checkpoint, error);
}

} // namespace velloran
