#include "solverstate.h"

#include <utility>

namespace velloran {

namespace {

// The grids the solver lists as checkpointed: the density and the face
// velocities are the state proper; the target, its blur and the driving field
// are fixed at set-up for one target, but a keyframed run changes them mid-run
// (and scales the target to the mass it meets), so they travel too.
std::vector<std::pair<QString, const Grid *>> stateGrids(const Solver &solver) {
    std::vector<std::pair<QString, const Grid *>> grids;
    for (const SolverField &field : solver.fields()) {
        if (field.checkpointed) {
            grids.emplace_back(QString::fromLatin1(field.name), field.grid);
        }
    }
    return grids;
}

const Grid *find(const std::vector<CheckpointGrid> &grids, const QString &name) {
    for (const CheckpointGrid &grid : grids) {
        if (grid.name == name) {
            return &grid.grid;
        }
    }
    return nullptr;
}

} // namespace

std::vector<CheckpointGrid> captureSolverState(const Solver &solver) {
    std::vector<CheckpointGrid> grids;
    for (const auto &[name, grid] : stateGrids(solver)) {
        grids.push_back({name, *grid});
    }
    return grids;
}

bool restoreSolverState(const std::vector<CheckpointGrid> &grids, Solver &solver, QString *error) {
    const auto targets = stateGrids(solver);
    // Grids of smoke fields the run lacks would be dropped silently.
    int savedFields = 1;
    while (savedFields < Solver::kMaxSmokeFields &&
           find(grids, QStringLiteral("density.%1").arg(savedFields))) {
        ++savedFields;
    }
    if (savedFields != solver.smokeCount()) {
        *error = QStringLiteral("the checkpoint holds %1 smoke field(s), the run has %2")
                     .arg(savedFields)
                     .arg(solver.smokeCount());
        return false;
    }
    // Check everything first, so that a refusal leaves the solver as it was.
    for (const auto &[name, grid] : targets) {
        const Grid *saved = find(grids, name);
        // Checkpoints written before the sound scheme paid for its gathering
        // have no credits: the run goes on from none.
        if (!saved && name == QLatin1String("gatherCredit")) {
            continue;
        }
        if (!saved) {
            *error = QStringLiteral("the checkpoint lacks the grid '%1'").arg(name);
            return false;
        }
        if (saved->NumRows() != grid->NumRows() || saved->NumCols() != grid->NumCols()) {
            *error = QStringLiteral("the checkpoint's grid '%1' is %2 x %3, the run needs %4 x %5")
                         .arg(name)
                         .arg(saved->NumRows())
                         .arg(saved->NumCols())
                         .arg(grid->NumRows())
                         .arg(grid->NumCols());
            return false;
        }
    }
    for (const auto &[name, grid] : targets) {
        if (const Grid *saved = find(grids, name)) {
            solver.restoreField(name.toStdString(), *saved);
        }
    }
    return true;
}

} // namespace velloran
