#pragma once

// ReferenceSolver: the literal twin of Solver, kept as the yardstick for the
// fast solver. Every sub-step is a plain loop through the checked accessors in
// the order the scheme is defined; the fast solver must match it bit for bit.
// Slow on purpose and never to be optimised.
//
// The whole state of one run of target-driven smoke, and its time step, on
// the lattice of lattice.h (shared with the fast solver, like the boundary
// fill, the framed construction and the mass equalisation).
//
// Calling order: construct; assign m_vf, m_vd, m_vg; setSigma; setTimeStep;
// then step any number of times.

#include "grid.h"
#include "lattice.h"
#include "reference_blurfilter.h"
#include "scheme.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace velloran {
class ReferenceNeumannPoisson;
class ObstaclePoisson;
struct BalancingBlocks;
} // namespace velloran

class ReferenceSolver {
public:
    static constexpr int kScalar = velloran::kScalar;
    static constexpr int kXFace = velloran::kXFace;
    static constexpr int kYFace = velloran::kYFace;

    // Builds the state from two N x N density grids (only read). The heavier
    // of the two is scaled down so that both carry the same total smoke.
    ReferenceSolver(const Grid &srcDensity, const Grid &tgtDensity);
    ~ReferenceSolver();
    ReferenceSolver(const ReferenceSolver &) = delete;
    ReferenceSolver &operator=(const ReferenceSolver &) = delete;

    // Sets the blur width (cells), blurs the target and precomputes the driving
    // field grad(blurred target) / blurred target on the faces.
    void setSigma(double sigma);
    void setTimeStep(double dt);

    // The discretisation step() uses (default Literal); choose it before the
    // first step.
    void setScheme(velloran::Scheme scheme);
    velloran::Scheme scheme() const { return m_scheme; }

    void setGathering(velloran::Gathering gathering) { m_gathering = gathering; }

    // Solid cells, as Solver::setObstacles: the source's smoke in them moved
    // to the nearest open cell, the target cleared there, both equalised
    // again; the faces of solid cells closed in every stage, the pressure
    // solved on the open cells and the balancing potential on the blocks'
    // pieces (the same sparse solves and pieces as the fast solver's: they
    // have no fast form).
    void setObstacles(const Grid &solid);

    // A new N x N target scaled to the smoke's mass of the moment, blurred, with
    // the driving field recomputed; density and velocity untouched.
    void setTarget(const Grid &tgtDensity);

    // Sub-cycles of the last step (literal steps: one of each).
    const velloran::SubstepCounts &lastSubsteps() const { return m_substeps; }
    static constexpr int kMaxSubcycles = velloran::kMaxSubcycles;
    bool hitSubcycleCap() const { return m_hitSubcycleCap; }

    // One time step of m_dt: the seven sub-steps below, in this order, or the
    // sound scheme's: force, attenuation, applyBalancingForce, closeWalls,
    // advectVelocitySound, projectNeumann, advectDensitySound, gatherSmokeSound,
    // centreVelocity.
    void step();

    // The sub-steps, public so that each can be exercised on its own.
    void applyDrivingForce();
    void attenuateMomentum();
    void advectVelocity();
    void project();
    void advectDensity();
    void gatherSmoke();
    void centreVelocity();

    void closeWalls();
    void closeSolidFaces(Grid &xFaces, Grid &yFaces) const;
    void advectVelocitySound();
    void projectNeumann();
    void advectDensitySound();
    void applyBalancingForce();
    void gatherSmokeSound();
    void carrySmokeSound();
    static double sumOfChange(const Grid &before, const Grid &now);
    void payForGathering(const Grid &before, double advected);

    static void fillBoundary(int kind, Grid &grid) { velloran::fillBoundary(kind, grid); }

    // Flux difference across the control volume around one entry along a line:
    // first-order upwind part plus minmod-limited corrections weighted by
    // (1 - lambda |a|), lambda = m_dtOverH. q is the entry, qNext/qNext2 the two
    // towards higher index, qPrev/qPrev2 the two towards lower index; aLow and
    // aHigh are the speeds on the low and high side (positive = towards higher index).
    double limitedFlux(double q, double qNext, double qNext2, double qPrev, double qPrev2,
                       double aLow, double aHigh) const;
    static double minMod3(double x, double y, double z);
    static double upwindFlux(double q, double qNext, double qPrev, double aLow, double aHigh);

    // State. The grids are allocated once here and never change shape.
    std::unique_ptr<Grid> m_density;     // smoke density rho, cell-centred
    std::unique_ptr<Grid> m_target;      // target density rho*, cell-centred
    std::unique_ptr<Grid> m_blurDensity; // blurred rho
    std::unique_ptr<Grid> m_blurTarget;  // blurred rho*
    std::unique_ptr<Grid> m_densityDiff; // rho - rho*
    std::unique_ptr<Grid> m_densityTmp;  // scratch, cell-centred
    std::unique_ptr<Grid> m_pressure;    // pressure potential, cell-centred
    std::unique_ptr<Grid> m_u;           // x-velocity on vertical faces
    std::unique_ptr<Grid> m_v;           // y-velocity on horizontal faces
    std::unique_ptr<Grid> m_driveU;      // x-part of grad(blurred rho*) / blurred rho*
    std::unique_ptr<Grid> m_driveV;      // y-part of the same
    std::unique_ptr<Grid> m_uTmp;        // scratch, x-faces
    std::unique_ptr<Grid> m_vTmp;        // scratch, y-faces
    std::unique_ptr<Grid> m_uCentre;     // x-velocity at cell centres
    std::unique_ptr<Grid> m_vCentre;     // y-velocity at cell centres
    std::unique_ptr<ReferenceBlurFilter> m_blur;

    double m_vf = 0.0;      // driving force coefficient
    double m_vd = 0.0;      // momentum attenuation coefficient
    double m_vg = 0.0;      // smoke gathering coefficient
    double m_h = 0.0;       // cell size 1/N
    double m_dt = 0.0;      // time step
    double m_dtOverH = 0.0; // dt / h, the lambda of every flux update
    double m_twoH = 0.0;    // 2 h

private:
    void computeTargetFields();
    void markUnstable();
    void gatherImplicit();
    double largestVolumeOutflow() const;
    Grid balancingPotential() const;
    double largestGatherRate() const;
    void gatherSubstep(double lambda);
    void momentumCycleX(double lambda);
    void momentumCycleY(double lambda);
    void gatherExplicit();

    velloran::Scheme m_scheme = velloran::Scheme::Literal;
    velloran::Gathering m_gathering = velloran::Gathering::Implicit;
    velloran::SubstepCounts m_substeps;
    bool m_hitSubcycleCap = false;
    std::unique_ptr<Grid> m_fluxX;
    std::unique_ptr<Grid> m_fluxY;
    std::unique_ptr<Grid> m_cellFlux;
    std::unique_ptr<Grid> m_cornerFlux;
    std::unique_ptr<Grid> m_gatherCoefX;
    std::unique_ptr<Grid> m_gatherCoefY;
    std::unique_ptr<Grid> m_gatherRateX;
    std::unique_ptr<Grid> m_gatherRateY;
    std::unique_ptr<velloran::ReferenceNeumannPoisson> m_poisson;
    std::unique_ptr<Grid> m_solid; // framed, 1 solid; none without obstacles
    std::unique_ptr<velloran::ObstaclePoisson> m_obstaclePoisson;
    std::unique_ptr<velloran::BalancingBlocks> m_balanceBlocks;
    double m_gatherCredit = 0.0; // what the gathering may still move (gatherbudget.h)
    double m_sourceMass = 0.0;   // the inputs' sums before they were equalised
    double m_targetMass = 0.0;
    std::vector<double> m_poissonRhs;
    double m_sigma = 0.0; // the run's blur width, for the gathering weight
};
