// The sub-steps every scheme shares: the driving force, the momentum
// attenuation and the centred velocities.

#include "solver.h"

#include "flow.h"
#include "smokefield.h"
#include "stepping.h"

// Pushes each face by vf times the blurred smoke on the face times the
// normalised gradient of the blurred target, so smoke moves up that gradient.
// Twin: ReferenceSolver::applyDrivingForce.
void Solver::applyDrivingForce() {
    updateFaces(FaceUpdate::Force);
}

// Damps the whole velocity field by 1 - dt vd. Not clamped: for dt vd in (1, 2)
// it reverses the flow, above 2 it amplifies it. Twin:
// ReferenceSolver::attenuateMomentum.
void Solver::attenuateMomentum() {
    updateFaces(FaceUpdate::Attenuation);
}

void Solver::applyDrivingForceAndAttenuation() {
    updateFaces(FaceUpdate::ForceAndAttenuation);
}

void Solver::centreVelocity() {
    m_flow->centreVelocity(*m_stepping);
}

// The driving force, the attenuation or both: every interior face becomes
// u + dt vf drive (face density) when pushed, that value times 1 - dt vd when
// damped, with each expression evaluated as written.
void Solver::updateFaces(FaceUpdate update) {
    const bool push = update != FaceUpdate::Attenuation;
    const bool damp = update != FaceUpdate::Force;
    velloran::Stepping &run = *m_stepping;
    const velloran::Lattice &lattice = run.m_lattice;
    const std::uint32_t n = lattice.n;
    if (push) {
        m_blur->setWorkers(run.poolFor(n));
        m_blur->apply(*m_density, *m_blurDensity);
    }

    const Grid &blurDensity = *m_blurDensity;
    const Grid &driveU = *m_driveU;
    const Grid &driveV = *m_driveV;
    Grid &u = *m_u;
    Grid &v = *m_v;
    velloran::requireShape(blurDensity, lattice.cells());
    velloran::requireShape(driveU, lattice.xFaces());
    velloran::requireShape(u, lattice.xFaces());
    velloran::requireShape(driveV, lattice.yFaces());
    velloran::requireShape(v, lattice.yFaces());

    const double factor = 1 - m_dt * m_vd;
    const double dt = m_dt;
    const double vf = m_vf;
    // x-faces in rows 1..n, y-faces in rows 1..n+1.
    run.forSimpleRows(1, static_cast<int>(lattice.cellSide), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *bd = velloran::rowOf(blurDensity, j);
            const double *bdBelow = velloran::rowOf(blurDensity, j - 1);
            if (j <= n) {
                const double *drive = velloran::rowOf(driveU, j);
                double *uRow = velloran::rowOf(u, j);
                if (push) {
                    for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
                        uRow[i] = uRow[i] + dt * vf * drive[i] * 0.5 * (bd[i] + bd[i - 1]);
                    }
                }
                if (damp) {
                    for (std::uint32_t i = 1; i <= lattice.wall; ++i) {
                        uRow[i] = uRow[i] * factor;
                    }
                }
            }
            const double *drive = velloran::rowOf(driveV, j);
            double *vRow = velloran::rowOf(v, j);
            if (push) {
                for (std::uint32_t i = 1; i <= n; ++i) {
                    vRow[i] = vRow[i] + dt * vf * drive[i] * 0.5 * (bd[i] + bdBelow[i]);
                }
            }
            if (damp) {
                for (std::uint32_t i = 1; i <= n; ++i) {
                    vRow[i] = vRow[i] * factor;
                }
            }
        }
    });
    velloran::fillBoundary(velloran::kXFace, u);
    velloran::fillBoundary(velloran::kYFace, v);
}
