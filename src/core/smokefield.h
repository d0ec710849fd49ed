#pragma once

// One smoke field of a run: its density and target, their blurs, the driving
// field the target makes, and the field's own scratch (shapes: lattice.h).
// Every field of a run is carried by the same flow.

#include "blurfilter.h"
#include "grid.h"
#include "lattice.h"
#include "scheme.h"

#include <memory>
#include <vector>

namespace velloran {

class Stepping;
struct ObstacleMap;

class SmokeField {
public:
    // The density and target of the N x N input grids, framed, the heavier of
    // the two scaled down so that both carry the same total smoke.
    SmokeField(const Lattice &lattice, const Grid &srcDensity, const Grid &tgtDensity);
    ~SmokeField();
    SmokeField(const SmokeField &) = delete;
    SmokeField &operator=(const SmokeField &) = delete;

    // Blurs the target with the run's blur and derives the driving field from
    // it; `floored`: the denominator gains kDriveFloor times the blurred
    // target's peak (balancing.h).
    void computeTargetFields(Stepping &stepping, bool floored);

    // The field in a run with obstacles: the source's smoke in solid cells
    // moved out, the target's cleared, and the two equalised again from the
    // masses they came with.
    void applyObstacles(const ObstacleMap &obstacles);

    // A new N x N target scaled to the smoke's mass of the moment (the smoke is
    // not rescaled); the caller recomputes the target fields.
    void replaceTarget(const Grid &tgtDensity);

    // The target blurred as wide as gatherweight.h says, made when first needed
    // after the target or sigma changed; the run's own blur when that is as wide.
    const Grid &gatherWeight(const Stepping &stepping);
    // The target was overwritten from outside (a restored checkpoint): the
    // gathering weight is made again from it when next needed.
    void markTargetChanged() { m_gatherWeightStale = true; }

    // Measuring what a step's stages moved (scheme.h, TransportAmounts).
    void setTransportMeasured(bool measured);
    // The sound scheme keeps the stage's input whether or not a caller
    // measures (its gathering is paid for by the advection: gatherbudget.h).
    void snapshotDensity(Stepping &stepping, bool always = false);
    double densityChange(Stepping &stepping) const;
    const Grid &densityBefore() const { return *m_densityBefore; }

    std::unique_ptr<Grid> m_density;     // smoke density rho, cell-centred
    std::unique_ptr<Grid> m_target;      // target density rho*, cell-centred
    std::unique_ptr<Grid> m_blurDensity; // blurred rho
    std::unique_ptr<Grid> m_blurTarget;  // blurred rho*
    std::unique_ptr<Grid> m_densityDiff; // rho - rho*
    std::unique_ptr<Grid> m_densityTmp;  // scratch, cell-centred
    std::unique_ptr<Grid> m_driveU;      // x-part of grad(blurred rho*) / blurred rho*
    std::unique_ptr<Grid> m_driveV;      // y-part of the same
    double m_gatherCredit = 0.0;         // what the gathering may still move
    TransportAmounts m_lastTransport;    // what this field's stages moved last step

private:
    double m_sourceMass = 0.0; // the inputs' sums before they were equalised
    double m_targetMass = 0.0;
    std::unique_ptr<Grid> m_densityBefore;    // a stage's input, while measuring transport
    mutable std::vector<double> m_columnSums; // densityChange's scratch
    std::unique_ptr<BlurFilter> m_gatherBlur;
    std::unique_ptr<Grid> m_gatherWeight;
    bool m_gatherWeightStale = true;
};

} // namespace velloran
