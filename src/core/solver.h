#pragma once

// Solver: one run of target-driven smoke, and its time step; the face the
// rest of the program is written against.
//
// The state is split by job: a Flow (flow.h: face velocities, pressure,
// centred velocities) carries the run's SmokeField (smokefield.h: density,
// target, their blurs and the driving field); the steps of the chosen scheme
// live in a class of their own (schemesteps.h), picked from the table in
// scheme.cpp; Stepping (stepping.h) holds what they share. The public grids
// and parameters below are aliases of those pieces, the grids of the first
// (today the only) smoke field. Shapes and staggering: lattice.h.
//
// Calling order: construct; assign m_vf, m_vd, m_vg; setSigma; setTimeStep;
// then step any number of times.
//
// Speed. The loops are vectorised across neighbouring outputs and the
// row-parallel ones (blur passes, advection, gathering) are shared with a small
// persistent pool of threads; the 20 Gauss-Seidel sweeps run together as one
// wavefront. Every value is still computed from the same operands in the same
// order as the plain double loops would compute it, so results are identical
// bit for bit whatever the thread count or vector width. A step allocates
// nothing. The solver may be built in one thread and stepped in another; the
// pool's threads start with the first step, in the stepping thread.

#include "blurfilter.h"
#include "grid.h"
#include "lanes.h"
#include "lattice.h"
#include "scheme.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velloran {
struct Flow;
class SchemeSteps;
class SmokeField;
class Stepping;
} // namespace velloran

// One smoke field's inputs: N x N source and target densities (only read).
struct SmokeInput {
    const Grid *source;
    const Grid *target;
};

// One grid of the state under its name. Checkpointed grids are what a run
// needs to go on from where it stopped; the others follow from them.
struct SolverField {
    const char *name;
    const Grid *grid;
    bool checkpointed;
};

class Solver {
    // The pieces the public aliases below refer to; declared first so that
    // they exist before the aliases are bound.
    std::unique_ptr<velloran::Stepping> m_stepping;
    std::unique_ptr<velloran::Flow> m_flow;
    std::vector<std::unique_ptr<velloran::SmokeField>> m_smoke;
    std::unique_ptr<velloran::SchemeSteps> m_steps;
    velloran::Scheme m_scheme = velloran::Scheme::Literal;
    // The sound scheme's gathering credits, one a field (gatherbudget.h), as
    // fields() lists them; filled from the fields whenever it is listed.
    std::unique_ptr<Grid> m_gatherCredits;

public:
    static constexpr int kScalar = velloran::kScalar;
    static constexpr int kXFace = velloran::kXFace;
    static constexpr int kYFace = velloran::kYFace;

    // Most smoke fields one run carries.
    static constexpr int kMaxSmokeFields = 8;
    // Grids fields() lists for each smoke field after the first.
    static constexpr int kSmokeGridCount = 5;

    // Builds the state from two N x N density grids (only read). The heavier
    // of the two is scaled down so that both carry the same total smoke.
    Solver(const Grid &srcDensity, const Grid &tgtDensity);
    // A run of 1..kMaxSmokeFields smoke fields carried by one flow, all N x N;
    // each field's source and target equalised as above, on their own. One
    // field is exactly the two-grid run.
    explicit Solver(const std::vector<SmokeInput> &smoke);
    ~Solver();
    Solver(const Solver &) = delete;
    Solver &operator=(const Solver &) = delete;

    // Sets the blur width (cells), blurs the target and precomputes the driving
    // field grad(blurred target) / blurred target on the faces.
    void setSigma(double sigma);
    void setTimeStep(double dt);

    // Threads that share a step, the caller included (clamped to 1..8; default
    // 2 when the machine has two or more cores). Not during a step.
    void setThreadCount(int threads);
    int threadCount() const;
    static int defaultThreadCount();

    // Grids whose interior side is below this run their loops on the calling
    // thread alone; default 200. Below it, handing work to the pool and moving
    // the rows a helper wrote back into the caller's cache cost more than the
    // helper saves (measured at N = 128: one thread about 4 % faster than two).
    // The simple elementwise loops share from twice this side.
    void setParallelSide(std::uint32_t side);

    // Compiled flavour of the vector loops (default and upper limit: the best
    // this processor supports). All flavours give the same bits.
    void setSimdLevel(velloran::SimdLevel level);
    velloran::SimdLevel simdLevel() const;

    // The discretisation step() uses (default Literal). Choose it before the
    // first step; the scheme's scratch is allocated here.
    void setScheme(velloran::Scheme scheme);
    velloran::Scheme scheme() const { return m_scheme; }

    // Solid cells the smoke flows around (obstacles.h): an N x N grid like the
    // source (only read), a cell solid where it holds more than one half.
    // Sound scheme only; call after setScheme and before setSigma and the
    // first step. Faces between a solid cell and any other are closed like the
    // domain's walls, the pressure and the balancing potential are solved on
    // the open cells alone. Each field's source smoke inside solid cells is
    // moved into the open cell nearest to it (no smoke is lost), its target is
    // cleared there, and the two are equalised again as at construction.
    // checkObstacles says beforehand whether the run can form its target;
    // at least one cell must be open.
    void setObstacles(const Grid &solid);
    // The framed solid mask (1 solid, 0 open); nullptr without obstacles.
    const Grid *obstacles() const;

    // The sound scheme's gathering integrator (default Implicit).
    void setGathering(velloran::Gathering gathering);
    velloran::Gathering gathering() const;

    // A new target in the middle of a run: an N x N density grid shaped like the
    // constructor's, cleared in solid cells, scaled to the mass the smoke has
    // now (the smoke itself is not rescaled), blurred with the current sigma, with the driving
    // field recomputed. Density and velocity are untouched. Requires setSigma first. The first form
    // retargets the first field.
    void setTarget(const Grid &tgtDensity);
    void setTarget(int field, const Grid &tgtDensity);

    // The smoke fields: how many, and each one's density and target (framed,
    // as m_density and m_target are for the first).
    int smokeCount() const { return static_cast<int>(m_smoke.size()); }
    const Grid &smokeDensity(int field) const;
    const Grid &smokeTarget(int field) const;

    // Sub-cycles of the last step (literal steps: one of each).
    const velloran::SubstepCounts &lastSubsteps() const;

    // Whether each step measures the smoke its stages moved (default off: it
    // costs a copy and a sum of the density per stage); then lastTransport()
    // gives the last step's amounts (scheme.h). Reading only: the state's bits
    // are the same either way.
    void setTransportMeasured(bool measured);
    const velloran::TransportAmounts &lastTransport() const;
    // The same for one smoke field (lastTransport() adds them up).
    const velloran::TransportAmounts &lastTransport(int field) const;

    // Sound scheme: a stage that would need more sub-cycles than this within one
    // step ends the run as unstable: the step stops there and leaves NaN in the
    // density and the centred velocities, which every consumer already treats
    // as a run that blew up.
    static constexpr int kMaxSubcycles = velloran::kMaxSubcycles;
    // True once a step stopped at the cap (the state is then NaN).
    bool hitSubcycleCap() const;

    // One time step of m_dt: the driving force and the attenuation, then the
    // scheme's own sub-steps, then the centred velocities. With several fields
    // each pushes the one velocity with its own force, the forces added face
    // by face in field order before the attenuation.
    void step();

    // The state as named grids, in a fixed order: the checkpointed ones
    // (density, u, v, target, blurTarget, driveU, driveV, pressure), then the
    // centred velocities (uCentre, vCentre). Density, target and the driving
    // field are the first smoke field's; each further field k follows with
    // its own density.k, target.k, blurTarget.k, driveU.k and driveV.k (all
    // checkpointed). A run with obstacles lists its mask as "solid" after the
    // pressure (checkpointed; restoring it replaces the obstacles, the smoke
    // is left alone). A sound run ends the list with "gatherCredit", one row
    // of one value a field (checkpointed; a checkpoint without it starts the
    // credits at 0).
    std::vector<SolverField> fields() const;
    // The grid of that name; the name must be one of fields().
    const Grid &field(const std::string &name) const;
    // Overwrites a checkpointed grid with a saved one of the same shape.
    void restoreField(const std::string &name, const Grid &saved);

    // The shared sub-steps, public so that each can be exercised on its own.
    void applyDrivingForce();
    void attenuateMomentum();
    // Both in one pass over the faces, as a step runs them: (u + force) times
    // the attenuation factor, each face read and written once.
    void applyDrivingForceAndAttenuation();
    void centreVelocity();

    // The scheme's own sub-steps, for tests: each requires that scheme.
    void advectVelocity();
    void project();
    void advectDensity();
    void gatherSmoke();
    void closeWalls();
    void advectVelocitySound();
    void projectNeumann();
    void advectDensitySound();
    void applyBalancingForce();
    void gatherSmokeSound();

    static void fillBoundary(int kind, Grid &grid) { velloran::fillBoundary(kind, grid); }

    // State: the flow's grids and the first smoke field's. Allocated once and
    // never change shape.
    std::unique_ptr<Grid> &m_density;     // smoke density rho, cell-centred
    std::unique_ptr<Grid> &m_target;      // target density rho*, cell-centred
    std::unique_ptr<Grid> &m_blurDensity; // blurred rho
    std::unique_ptr<Grid> &m_blurTarget;  // blurred rho*
    std::unique_ptr<Grid> &m_densityDiff; // rho - rho*
    std::unique_ptr<Grid> &m_densityTmp;  // scratch, cell-centred
    std::unique_ptr<Grid> &m_pressure;    // pressure potential, cell-centred
    std::unique_ptr<Grid> &m_u;           // x-velocity on vertical faces
    std::unique_ptr<Grid> &m_v;           // y-velocity on horizontal faces
    std::unique_ptr<Grid> &m_driveU;      // x-part of grad(blurred rho*) / blurred rho*
    std::unique_ptr<Grid> &m_driveV;      // y-part of the same
    std::unique_ptr<Grid> &m_uTmp;        // scratch, x-faces
    std::unique_ptr<Grid> &m_vTmp;        // scratch, y-faces
    std::unique_ptr<Grid> &m_uCentre;     // x-velocity at cell centres
    std::unique_ptr<Grid> &m_vCentre;     // y-velocity at cell centres
    std::unique_ptr<BlurFilter> &m_blur;

    double &m_vf;      // driving force coefficient
    double &m_vd;      // momentum attenuation coefficient
    double &m_vg;      // smoke gathering coefficient
    double &m_h;       // cell size 1/N
    double &m_dt;      // time step
    double &m_dtOverH; // dt / h, the lambda of every flux update
    double &m_twoH;    // 2 h

private:
    enum class FaceUpdate { Force, Attenuation, ForceAndAttenuation };
    void updateFaces(FaceUpdate update);
    void pushFaceRow(double *faces, const double *drive, const double *one, const double *other,
                     std::uint32_t last) const;
    void computeTargetFields();
    void replaceObstacles(const Grid &solid);
    void markUnstable();
    template <class Steps> Steps &steps();
};
