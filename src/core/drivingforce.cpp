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

// Faces 1..last of one row: pushed by the driving force, whose face density is
// the mean of the blurred smoke on both sides (`one` and `other`), and damped.
void Solver::updateFaceRow(double *faces, const double *drive, const double *one,
                           const double *other, std::uint32_t last, bool push, bool damp,
                           double factor) const {
    // Copies, so that the stores through `faces` cannot be taken to change them.
    const double dt = m_dt;
    const double vf = m_vf;
    if (push) {
        for (std::uint32_t i = 1; i <= last; ++i) {
            faces[i] = faces[i] + dt * vf * drive[i] * 0.5 * (one[i] + other[i]);
        }
    }
    if (damp) {
        for (std::uint32_t i = 1; i <= last; ++i) {
            faces[i] = faces[i] * factor;
        }
    }
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
    for (const Grid *grid : {&driveU, static_cast<const Grid *>(&u)}) {
        velloran::requireShape(*grid, lattice.xFaces());
    }
    for (const Grid *grid : {&driveV, static_cast<const Grid *>(&v)}) {
        velloran::requireShape(*grid, lattice.yFaces());
    }

    const double factor = 1 - m_dt * m_vd;
    // x-faces in rows 1..n, y-faces in rows 1..n+1.
    run.forSimpleRows(1, static_cast<int>(lattice.cellSide), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            const double *bd = velloran::rowOf(blurDensity, j);
            if (j <= n) {
                // The x-face i lies between the cells i - 1 and i of the row.
                updateFaceRow(velloran::rowOf(u, j), velloran::rowOf(driveU, j), bd, bd - 1,
                              lattice.wall, push, damp, factor);
            }
            updateFaceRow(velloran::rowOf(v, j), velloran::rowOf(driveV, j), bd,
                          velloran::rowOf(blurDensity, j - 1), n, push, damp, factor);
        }
    });
    velloran::fillBoundary(velloran::kXFace, u);
    velloran::fillBoundary(velloran::kYFace, v);
}
