#pragma once

// Solver: the whole state of one run of target-driven smoke, and its time step.
//
// Lattice. For N x N input images the domain is the unit square with cell size
// h = 1/N. Every grid carries a frame of one ghost entry around its interior.
// Shapes are rows x columns; entry (i, j) is column i (x), row j (y):
//
//   cell-centred grids      (N+2) x (N+2)  entry (i, j) = centre of cell (i, j);
//                                          interior columns 1..N, rows 1..N
//   x-components (m_u ...)  (N+2) x (N+3)  entry (i, j) = face between cells
//                                          (i-1, j) and (i, j); interior columns
//                                          1..N+1 (1 and N+1 are the walls), rows 1..N
//   y-components (m_v ...)  (N+3) x (N+2)  entry (i, j) = face between cells
//                                          (i, j-1) and (i, j); interior columns
//                                          1..N, rows 1..N+1 (1 and N+1 are the walls)
//
// Only fillBoundary writes a frame (density advection aside, which zeroes its
// border). Interior cell (i, j) holds input element (i - 1, j - 1).
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

#include "balancing.h"
#include "blurfilter.h"
#include "grid.h"
#include "lanes.h"
#include "scheme.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace velloran {
class NeumannPoisson;
class WorkerPool;
namespace kernels {
struct Extent;
struct FaceRows;
} // namespace kernels
} // namespace velloran

class Solver {
public:
    // Kinds of boundary fill: a scalar is copied across every side; an
    // x-component is mirrored with flipped sign across the left and right sides;
    // a y-component across the lower and upper sides.
    enum BoundaryKind : int { kScalar = 0, kXFace = 1, kYFace = 2 };

    // Builds the state from two N x N density grids (only read). The heavier
    // of the two is scaled down so that both carry the same total smoke.
    Solver(const Grid &srcDensity, const Grid &tgtDensity);
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
    int threadCount() const { return m_threadCount; }
    static int defaultThreadCount();

    // Grids whose interior side is below this run their loops on the calling
    // thread alone; default 200. Below it, handing work to the pool and moving
    // the rows a helper wrote back into the caller's cache cost more than the
    // helper saves (measured at N = 128: one thread about 4 % faster than two).
    // The simple elementwise loops share from twice this side.
    void setParallelSide(std::uint32_t side) { m_parallelSide = side; }

    // Compiled flavour of the vector loops (default and upper limit: the best
    // this processor supports). All flavours give the same bits.
    void setSimdLevel(velloran::SimdLevel level);
    velloran::SimdLevel simdLevel() const { return m_simd; }

    // The discretisation step() uses (default Literal). Choose it before the
    // first step; the sound scheme's scratch is allocated here.
    void setScheme(velloran::Scheme scheme);
    velloran::Scheme scheme() const { return m_scheme; }

    // The sound scheme's gathering integrator (default Implicit).
    void setGathering(velloran::Gathering gathering) { m_gathering = gathering; }
    velloran::Gathering gathering() const { return m_gathering; }

    // A new target in the middle of a run: an N x N density grid shaped like the
    // constructor's, scaled to the mass the smoke has now (the smoke itself is
    // not rescaled), blurred with the current sigma, with the driving field
    // recomputed. Density and velocity are untouched. Requires setSigma first.
    void setTarget(const Grid &tgtDensity);

    // Sub-cycles of the last step (literal steps: one of each).
    const velloran::SubstepCounts &lastSubsteps() const { return m_substeps; }

    // Whether each step measures the smoke its stages moved (default off: it
    // costs a copy and a sum of the density per stage); then lastTransport()
    // gives the last step's amounts (scheme.h). Reading only: the state's bits
    // are the same either way.
    void setTransportMeasured(bool measured);
    const velloran::TransportAmounts &lastTransport() const { return m_transport; }

    // Sound scheme: a stage that would need more sub-cycles than this within one
    // step ends the run as unstable: the step stops there and leaves NaN in the
    // density and the centred velocities, which every consumer already treats
    // as a run that blew up.
    static constexpr int kMaxSubcycles = 4096;
    // True once a step stopped at the cap (the state is then NaN).
    bool hitSubcycleCap() const { return m_hitSubcycleCap; }

    // One time step of m_dt: the seven sub-steps below, in this order, or the
    // sound scheme's nine.
    void step();

    // The sub-steps, public so that each can be exercised on its own.
    void applyDrivingForce();
    void attenuateMomentum();
    // Both in one pass over the faces, as a step runs them: (u + force) times
    // the attenuation factor, each face read and written once.
    void applyDrivingForceAndAttenuation();
    void advectVelocity();
    void project();
    void advectDensity();
    void gatherSmoke();
    void centreVelocity();

    // The sound scheme's sub-steps (step() runs them after the driving force
    // and the attenuation, which both schemes share).
    void closeWalls();
    void advectVelocitySound();
    void projectNeumann();
    void advectDensitySound();
    void applyBalancingForce();
    void gatherSmokeSound();

    // Overwrites the frame of one grid from the entries next to it.
    void fillBoundary(int kind, Grid &grid);

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
    std::unique_ptr<BlurFilter> m_blur;

    double m_vf = 0.0;      // driving force coefficient
    double m_vd = 0.0;      // momentum attenuation coefficient
    double m_vg = 0.0;      // smoke gathering coefficient
    double m_h = 0.0;       // cell size 1/N
    double m_dt = 0.0;      // time step
    double m_dtOverH = 0.0; // dt / h, the lambda of every flux update
    double m_twoH = 0.0;    // 2 h

private:
    void equaliseMass();
    void computeTargetFields();
    void markUnstable();
    void allocateSoundScratch();
    void allocateBalancing();
    int transportDensity(const Grid &u, const Grid &v, bool limited);
    const Grid &gatherWeight();
    void gatherCoefficients();
    void gatherImplicit();
    void gatherExplicit();
    template <class Kernel>
    velloran::kernels::Extent largestOver(int begin, int end, Kernel kernel);
    void allocateScratch();
    void snapshotDensity();
    double densityChange() const;
    enum class FaceUpdate { Force, Attenuation, ForceAndAttenuation };
    void updateFaces(FaceUpdate update);
    template <class Body> void forRows(int begin, int end, Body &&body);
    template <class Body> void forSimpleRows(int begin, int end, Body &&body);

    int m_threadCount = 1;
    std::uint32_t m_parallelSide = 200;
    velloran::SimdLevel m_simd = velloran::bestSimdLevel();
    std::unique_ptr<velloran::WorkerPool> m_workers;
    std::vector<double> m_faceScratch; // rows of face terms, per thread
    std::vector<velloran::kernels::FaceRows> m_faceRows;
    std::vector<double> m_pressureRing; // the wavefront's three columns of lanes
    std::vector<double> m_pressureSkew; // h * divergence, laid out for the lanes

    velloran::Scheme m_scheme = velloran::Scheme::Literal;
    velloran::Gathering m_gathering = velloran::Gathering::Implicit;
    velloran::SubstepCounts m_substeps;
    bool m_hitSubcycleCap = false;
    velloran::TransportAmounts m_transport;
    std::unique_ptr<Grid> m_densityBefore; // a stage's input, while measuring transport
    // Sound scheme scratch, allocated by setScheme(Sound).
    std::unique_ptr<Grid> m_gatherCoefX; // (vg / h) times the face's blurred target, x-faces
    std::unique_ptr<Grid> m_gatherCoefY; // the same on y-faces
    std::unique_ptr<Grid> m_gatherRateX; // vg times the face's blurred target / h^2, x-faces
    std::unique_ptr<Grid> m_gatherRateY; // the same on y-faces
    std::unique_ptr<Grid> m_rhoScratch;  // the other half of the density's ping-pong
    std::unique_ptr<Grid> m_diffScratch; // and of rho - rho* in gathering
    std::unique_ptr<Grid> m_uScratch;    // and of the velocity's
    std::unique_ptr<Grid> m_vScratch;
    std::unique_ptr<velloran::NeumannPoisson> m_poisson;
    std::vector<double> m_poissonRhs; // N x N, row by row
    // The balancing force's blocks, allocated with the above (balancing.h).
    std::unique_ptr<velloran::NeumannPoisson> m_balancePoisson;
    std::vector<double> m_balanceMisfit;            // per block, row by row; then phi
    std::vector<double> m_balanceCells;             // phi at the interior cells, row by row
    std::vector<velloran::BlockSpot> m_balanceSpot; // per cell along a line: between which centres
    std::vector<double> m_soundRows;                // per thread: three rows of N + 3 fluxes
    std::vector<double> m_lineScratch; // per thread: the implicit gathering's line arrays
    std::vector<velloran::kernels::Extent> m_extents; // per thread
    // The gathering's weight (gatherweight.h), made from the target when a
    // sound step first needs it after the target or sigma changed.
    double m_sigma = 0.0;
    std::unique_ptr<BlurFilter> m_gatherBlur;
    std::unique_ptr<Grid> m_gatherWeight;
    bool m_gatherWeightStale = true;
};
