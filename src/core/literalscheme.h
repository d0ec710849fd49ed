#pragma once

// The literal scheme's own steps (scheme.h): each velocity component carried
// along its own axis by the limited flux, 20 Gauss-Seidel sweeps from zero,
// the density's unsplit transport of the cells 2..N-1 and gathering as a
// source term. Kept bit for bit; the reference solver states each loop
// plainly (its twin is named at every step).

#include "schemesteps.h"

#include <vector>

namespace velloran {

namespace kernels {
struct FaceRows;
struct FaceFluxPlan;
} // namespace kernels

class LiteralScheme final : public SchemeSteps {
public:
    LiteralScheme(Stepping &stepping, Flow &flow);
    ~LiteralScheme() override;

    void step(SmokeFields &smoke) override;
    void threadsChanged() override;

    void advectVelocity();
    void project();
    void advectDensity(SmokeField &smoke);
    void gatherSmoke(SmokeField &smoke);

private:
    void facePlans(kernels::FaceFluxPlan *xPlan, kernels::FaceFluxPlan *yPlan);
    void zeroPressureFrame();
    void fillDivergence();
    void subtractGradient();
    void gatherSpeeds(SmokeField &smoke);

    Stepping &m_run;
    Flow &m_flow;
    std::vector<double> m_faceScratch; // rows of face terms, per thread
    std::vector<kernels::FaceRows> m_faceRows;
    std::vector<double> m_pressureRing; // the wavefront's three columns of lanes
    std::vector<double> m_pressureSkew; // h * divergence, laid out for the lanes
};

} // namespace velloran
