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

// Faces 1..last of one row pushed by one field's driving force, whose face
// density is the mean of its blurred smoke on both sides (`one` and `other`).
void Solver::pushFaceRow(double *faces, const double *drive, const double *one, const double *other,
                         std::uint32_t last) const {
    // Copies, so that the stores through `faces` cannot be taken to change them.
    const double dt = m_dt;
    const double vf = m_vf;
    for (std::uint32_t i = 1; i <= last; ++i) {
        faces[i] = faces[i] + dt * vf * drive[i] * 0.5 * (one[i] + other[i]);
    }
}

namespace {

void dampFaceRow(double *faces, std::uint32_t last, double factor) {
    for (std::uint32_t i = 1; i <= last; ++i) {
        faces[i] = faces[i] * factor;
    }
}

} // namespace

// The driving force, the attenuation or both: every interior face becomes
// u + dt vf drive (face density) when pushed, that value times 1 - dt vd when
// damped, with each expression evaluated as written. Several smoke fields
// push in turn, so a face becomes ((u + f_1) + f_2) + ... before it is damped:
// the force on the fluid is the sum of what each field's smoke feels.
void Solver::updateFaces(FaceUpdate update) {
    const bool push = update != FaceUpdate::Attenuation;
    const bool damp = update != FaceUpdate::Force;
    velloran::Stepping &run = *m_stepping;
    const velloran::Lattice &lattice = run.m_lattice;
    const std::uint32_t n = lattice.n;
    Grid &u = *m_u;
    Grid &v = *m_v;
    velloran::requireShape(u, lattice.xFaces());
    velloran::requireShape(v, lattice.yFaces());
    if (push) {
        m_blur->setWorkers(run.poolFor(n));
        for (const auto &smoke : m_smoke) {
            m_blur->apply(*smoke->m_density, *smoke->m_blurDensity);
            velloran::requireShape(*smoke->m_blurDensity, lattice.cells());
            velloran::requireShape(*smoke->m_driveU, lattice.xFaces());
            velloran::requireShape(*smoke->m_driveV, lattice.yFaces());
        }
    }

    const double factor = 1 - m_dt * m_vd;
    // x-faces in rows 1..n, y-faces in rows 1..n+1.
    run.forSimpleRows(1, static_cast<int>(lattice.cellSide), [&](int begin, int end, int) {
        for (auto j = static_cast<std::uint32_t>(begin); j < static_cast<std::uint32_t>(end); ++j) {
            double *uRow = j <= n ? velloran::rowOf(u, j) : nullptr;
            double *vRow = velloran::rowOf(v, j);
            for (const auto &smoke : m_smoke) {
                if (!push) {
                    break;
                }
                const Grid &blurDensity = *smoke->m_blurDensity;
                const double *bd = velloran::rowOf(blurDensity, j);
                if (uRow != nullptr) {
                    // The x-face i lies between the cells i - 1 and i of the row.
                    pushFaceRow(uRow, velloran::rowOf(*smoke->m_driveU, j), bd, bd - 1,
                                lattice.wall);
                }
                pushFaceRow(vRow, velloran::rowOf(*smoke->m_driveV, j), bd,
                            velloran::rowOf(blurDensity, j - 1), n);
            }
            if (damp) {
                if (uRow != nullptr) {
                    dampFaceRow(uRow, lattice.wall, factor);
                }
                dampFaceRow(vRow, n, factor);
            }
        }
    });
    velloran::fillBoundary(velloran::kXFace, u);
    velloran::fillBoundary(velloran::kYFace, v);
}
