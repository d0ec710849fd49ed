#pragma once

// Checkpoints during a run: after every K-th step, after the step at which the
// run was asked to stop, and after its last step (so that a finished run can
// be extended). Each one pins the metrics rows written so far, so the metrics
// are flushed first.

#include "checkpointfile.h"
#include "runloop.h"

#include <QString>

namespace velloran {

class MetricsFile;
class TargetSchedule;

class CheckpointHook : public StepObserver {
public:
    CheckpointHook(QString folder, CheckpointRun run, int every, int lastStep, MetricsFile &metrics,
                   const RunLoop &loop, const TargetSchedule *schedule);

    // Comes after the loop's own observer: the step's row and frame are written.
    bool stepFinished(const Solver &solver, const StepReport &report, std::string *error) override;

private:
    QString m_folder;
    CheckpointRun m_run;
    int m_every;
    int m_lastStep;
    MetricsFile &m_metrics;
    const RunLoop &m_loop;
    const TargetSchedule *m_schedule;
};

} // namespace velloran
