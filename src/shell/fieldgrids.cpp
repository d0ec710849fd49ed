#include "fieldgrids.h"

#include "lattice.h"
#include "solver.h"

namespace velloran {

void collectFieldGrids(const Solver &solver, FieldGrid which, std::vector<const Grid *> *grids) {
    grids->clear();
    for (int k = 0; k < solver.smokeCount(); ++k) {
        grids->push_back(which == FieldGrid::Density ? &solver.smokeDensity(k)
                                                     : &solver.smokeTarget(k));
    }
}

std::vector<const Grid *> fieldDensities(const Solver &solver) {
    std::vector<const Grid *> grids;
    collectFieldGrids(solver, FieldGrid::Density, &grids);
    return grids;
}

double fieldMass(const Grid &density) {
    return interiorSum(density);
}

} // namespace velloran
