#pragma once

// The sound scheme's own steps (scheme.h): transport in flux form over every
// cell with closed walls, a solved Neumann projection, the balancing force
// (balancing.h) and conservative gathering, each transport stage sub-cycled
// within its stability limit. docs/method.md derives them; the reference
// solver states each loop plainly (its twin is named at every step). Here
// every stage reads one buffer and writes another (ping-pong), row by row, so
// the rows can be shared between threads; results equal the plain loops bit
// for bit.

#include "balancing.h"
#include "grid.h"
#include "schemesteps.h"

#include <memory>
#include <vector>

namespace velloran {

class NeumannPoisson;
class ObstaclePoisson;
struct BalancingBlocks;

class SoundScheme final : public SchemeSteps {
public:
    SoundScheme(Stepping &stepping, Flow &flow);
    ~SoundScheme() override;

    void step(SmokeFields &smoke) override;
    void threadsChanged() override;
    void simdChanged() override;
    void obstaclesChanged() override;

    void applyBalancingForce(SmokeField &smoke);
    void closeWalls();
    void advectVelocitySound();
    void projectNeumann();
    // `start`: the density's copy to carry from (transportDensity).
    void advectDensitySound(SmokeField &smoke, const Grid *start = nullptr);
    void gatherSmokeSound(SmokeField &smoke);
    double payForGathering(SmokeField &smoke, double advected);

private:
    int transportDensity(SmokeField &smoke, const Grid &u, const Grid &v, bool limited,
                         const Grid *start);
    void requireFlowShapes() const;
    int velocitySubcycles(const Grid &u, const Grid &v);
    bool balancingMisfit(const SmokeField &smoke);
    bool balancingMisfitOnPieces(const SmokeField &smoke);
    void balancingPush(const SmokeField &smoke);
    void gatherCoefficients(SmokeField &smoke);
    void gatherImplicit(SmokeField &smoke);
    void gatherExplicit(SmokeField &smoke);
    void allocateBalancing();

    Stepping &m_run;
    Flow &m_flow;
    std::unique_ptr<Grid> m_gatherCoefX; // (vg / h) times the face's blurred target, x-faces
    std::unique_ptr<Grid> m_gatherCoefY; // the same on y-faces
    std::unique_ptr<Grid> m_gatherRateX; // vg times the face's blurred target / h^2, x-faces
    std::unique_ptr<Grid> m_gatherRateY; // the same on y-faces
    std::unique_ptr<Grid> m_rhoScratch;  // the other half of the density's ping-pong
    std::unique_ptr<Grid> m_diffScratch; // and of rho - rho* in gathering
    std::unique_ptr<Grid> m_uScratch;    // and of the velocity's
    std::unique_ptr<Grid> m_vScratch;
    std::unique_ptr<NeumannPoisson> m_poisson;
    std::vector<double> m_poissonRhs; // N x N, row by row
    // With obstacles, the pressure is solved on the open cells
    // (obstaclepoisson.h) and the balancing potential on the blocks' pieces
    // (balancingblocks.h) instead.
    std::unique_ptr<ObstaclePoisson> m_obstaclePoisson;
    std::unique_ptr<BalancingBlocks> m_balanceBlocks;
    std::vector<double> m_balancePieces; // the misfit per piece; then phi
    // The balancing force's blocks (balancing.h).
    std::unique_ptr<NeumannPoisson> m_balancePoisson;
    std::vector<double> m_balanceMisfit;  // per block, row by row; then phi
    std::vector<double> m_balanceCells;   // phi at the interior cells, row by row
    std::vector<BlockSpot> m_balanceSpot; // per cell along a line: between which centres
    std::vector<double> m_soundRows;      // per thread: three rows of N + 3 fluxes
    std::vector<double> m_lineScratch;    // per thread: the implicit gathering's line arrays
};

} // namespace velloran
