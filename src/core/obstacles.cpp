#include "obstacles.h"

#include "lattice.h"
#include "obstaclemap.h"

namespace velloran {

ObstacleProblem checkObstacles(const std::vector<SmokeInput> &smoke, const Grid &solid) {
    const Lattice lattice(solid.NumCols());
    const ObstacleMap map(lattice, solid);
    const std::unique_ptr<Grid> source = makeGrid(lattice.cells());
    const std::unique_ptr<Grid> target = makeGrid(lattice.cells());
    for (const SmokeInput &input : smoke) {
        copyIntoFrame(*input.target, *target);
        const bool hasTarget = interiorSum(*target) > 0.0;
        map.clearSolids(*target);
        if (hasTarget && (map.m_regions == 0 || !(interiorSum(*target) > 0.0))) {
            return ObstacleProblem::TargetInsideObstacles;
        }
        if (map.m_regions == 0) {
            continue;
        }
        copyIntoFrame(*input.source, *source);
        map.moveOutOfSolids(*source);
        const std::vector<double> smokeIn = map.regionSums(*source);
        const std::vector<double> targetIn = map.regionSums(*target);
        for (std::size_t region = 0; region < smokeIn.size(); ++region) {
            if (targetIn[region] > 0.0 && !(smokeIn[region] > 0.0)) {
                return ObstacleProblem::UnreachableTarget;
            }
        }
        for (std::size_t region = 0; region < smokeIn.size(); ++region) {
            if (smokeIn[region] > 0.0 && !(targetIn[region] > 0.0)) {
                return ObstacleProblem::StrandedSmoke;
            }
        }
    }
    return ObstacleProblem::None;
}

const char *obstacleMessage(ObstacleProblem problem) {
    switch (problem) {
    case ObstacleProblem::None:
        return "";
    case ObstacleProblem::TargetInsideObstacles:
        return "the target lies wholly inside the obstacles";
    case ObstacleProblem::UnreachableTarget:
        return "the target has smoke in a region the source cannot reach";
    case ObstacleProblem::StrandedSmoke:
        return "the source has smoke in a region closed off from the target";
    }
    return "";
}

} // namespace velloran
