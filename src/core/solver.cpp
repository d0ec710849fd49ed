#include "solver.h"

#include "flow.h"
#include "literalscheme.h"
#include "obstaclemap.h"
#include "schemesteps.h"
#include "smokefield.h"
#include "soundscheme.h"
#include "stepping.h"

#include <cmath>
#include <thread>

namespace {

// The interior side of every input grid, proved square and alike, of 1 to
// kMaxSmokeFields fields.
std::uint32_t inputSide(const std::vector<SmokeInput> &smoke) {
    VELLORAN_CHECK(!smoke.empty());
    VELLORAN_CHECK(smoke.size() <= static_cast<std::size_t>(Solver::kMaxSmokeFields));
    const std::uint32_t side = smoke[0].source->NumRows();
    VELLORAN_CHECK(side > 0);
    for (const SmokeInput &input : smoke) {
        for (const Grid *grid : {input.source, input.target}) {
            VELLORAN_CHECK(grid->NumRows() == side);
            VELLORAN_CHECK(grid->NumCols() == side);
        }
    }
    return side;
}

velloran::SmokeFields makeSmoke(const velloran::Lattice &lattice,
                                const std::vector<SmokeInput> &smoke) {
    velloran::SmokeFields fields;
    for (const SmokeInput &input : smoke) {
        fields.push_back(
            std::make_unique<velloran::SmokeField>(lattice, *input.source, *input.target));
    }
    return fields;
}

} // namespace

Solver::Solver(const Grid &srcDensity, const Grid &tgtDensity)
    : Solver(std::vector<SmokeInput>{{&srcDensity, &tgtDensity}}) {}

Solver::Solver(const std::vector<SmokeInput> &smoke)
    : m_stepping(std::make_unique<velloran::Stepping>(velloran::Lattice(inputSide(smoke))))
    , m_flow(std::make_unique<velloran::Flow>(m_stepping->m_lattice))
    , m_smoke(makeSmoke(m_stepping->m_lattice, smoke))
    , m_gatherCredits(std::make_unique<Grid>(1, static_cast<std::uint32_t>(m_smoke.size())))
    , m_density(m_smoke[0]->m_density)
    , m_target(m_smoke[0]->m_target)
    , m_blurDensity(m_smoke[0]->m_blurDensity)
    , m_blurTarget(m_smoke[0]->m_blurTarget)
    , m_densityDiff(m_smoke[0]->m_densityDiff)
    , m_densityTmp(m_smoke[0]->m_densityTmp)
    , m_pressure(m_flow->m_pressure)
    , m_u(m_flow->m_u)
    , m_v(m_flow->m_v)
    , m_driveU(m_smoke[0]->m_driveU)
    , m_driveV(m_smoke[0]->m_driveV)
    , m_uTmp(m_flow->m_uTmp)
    , m_vTmp(m_flow->m_vTmp)
    , m_uCentre(m_flow->m_uCentre)
    , m_vCentre(m_flow->m_vCentre)
    , m_blur(m_stepping->m_blur)
    , m_vf(m_stepping->m_vf)
    , m_vd(m_stepping->m_vd)
    , m_vg(m_stepping->m_vg)
    , m_h(m_stepping->m_h)
    , m_dt(m_stepping->m_dt)
    , m_dtOverH(m_stepping->m_dtOverH)
    , m_twoH(m_stepping->m_twoH) {
    m_stepping->setThreadCount(defaultThreadCount());
    m_steps = velloran::schemeEntry(m_scheme).make(*m_stepping, *m_flow);
}

Solver::~Solver() = default;

int Solver::defaultThreadCount() {
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

void Solver::setThreadCount(int threads) {
    m_stepping->setThreadCount(threads);
    m_steps->threadsChanged();
}

int Solver::threadCount() const {
    return m_stepping->m_threadCount;
}

void Solver::setParallelSide(std::uint32_t side) {
    m_stepping->m_parallelSide = side;
}

void Solver::setSimdLevel(velloran::SimdLevel level) {
    if (static_cast<int>(level) > static_cast<int>(velloran::bestSimdLevel())) {
        level = velloran::bestSimdLevel();
    }
    m_stepping->m_simd = level;
    m_blur->setSimdLevel(level);
    m_steps->simdChanged();
}

velloran::SimdLevel Solver::simdLevel() const {
    return m_stepping->m_simd;
}

void Solver::setScheme(velloran::Scheme scheme) {
    // The literal scheme knows no obstacles.
    VELLORAN_CHECK(!m_flow->m_obstacles || scheme == velloran::Scheme::Sound);
    const bool changed = scheme != m_scheme;
    m_scheme = scheme;
    m_stepping->m_substeps = velloran::SubstepCounts{};
    if (!changed) {
        return;
    }
    m_steps = velloran::schemeEntry(scheme).make(*m_stepping, *m_flow);
    if (m_stepping->m_sigma > 0.0) {
        computeTargetFields(); // the schemes' driving fields may differ
    }
}

void Solver::setObstacles(const Grid &solid) {
    VELLORAN_CHECK(m_scheme == velloran::Scheme::Sound);
    replaceObstacles(solid);
    for (const auto &smoke : m_smoke) {
        smoke->applyObstacles(*m_flow->m_obstacles);
    }
    if (m_stepping->m_sigma > 0.0) {
        computeTargetFields();
    }
}

void Solver::replaceObstacles(const Grid &solid) {
    auto obstacles = std::make_unique<velloran::ObstacleMap>(m_stepping->m_lattice, solid);
    VELLORAN_CHECK(obstacles->m_regions > 0);
    m_flow->m_obstacles = std::move(obstacles);
    m_steps->obstaclesChanged();
}

const Grid *Solver::obstacles() const {
    return m_flow->m_obstacles ? m_flow->m_obstacles->m_solid.get() : nullptr;
}

void Solver::setGathering(velloran::Gathering gathering) {
    m_stepping->m_gathering = gathering;
}

velloran::Gathering Solver::gathering() const {
    return m_stepping->m_gathering;
}

const velloran::SubstepCounts &Solver::lastSubsteps() const {
    return m_stepping->m_substeps;
}

void Solver::setTransportMeasured(bool measured) {
    for (const auto &smoke : m_smoke) {
        smoke->setTransportMeasured(measured);
    }
}

const velloran::TransportAmounts &Solver::lastTransport() const {
    return m_stepping->m_transport;
}

const velloran::TransportAmounts &Solver::lastTransport(int field) const {
    VELLORAN_CHECK(field >= 0 && field < smokeCount());
    return m_smoke[static_cast<std::size_t>(field)]->m_lastTransport;
}

bool Solver::hitSubcycleCap() const {
    return m_stepping->m_hitSubcycleCap;
}

void Solver::setSigma(double sigma) {
    m_blur->setSigma(sigma);
    m_stepping->m_sigma = sigma;
    computeTargetFields();
}

void Solver::computeTargetFields() {
    const bool floored = velloran::schemeEntry(m_scheme).floorsDrive;
    for (const auto &smoke : m_smoke) {
        smoke->computeTargetFields(*m_stepping, floored);
    }
}

void Solver::setTarget(const Grid &tgtDensity) {
    setTarget(0, tgtDensity);
}

void Solver::setTarget(int field, const Grid &tgtDensity) {
    VELLORAN_CHECK(field >= 0 && field < smokeCount());
    velloran::SmokeField &smoke = *m_smoke[static_cast<std::size_t>(field)];
    if (m_flow->m_obstacles) {
        Grid open = tgtDensity;
        const Grid &solid = *m_flow->m_obstacles->m_solid;
        for (std::uint32_t i = 0; i < open.NumCols(); ++i) {
            for (std::uint32_t j = 0; j < open.NumRows(); ++j) {
                if (solid(i + 1, j + 1) != 0.0) {
                    open(i, j) = 0.0;
                }
            }
        }
        smoke.replaceTarget(open);
    } else {
        smoke.replaceTarget(tgtDensity);
    }
    smoke.computeTargetFields(*m_stepping, velloran::schemeEntry(m_scheme).floorsDrive);
}

const Grid &Solver::smokeDensity(int field) const {
    VELLORAN_CHECK(field >= 0 && field < smokeCount());
    return *m_smoke[static_cast<std::size_t>(field)]->m_density;
}

const Grid &Solver::smokeTarget(int field) const {
    VELLORAN_CHECK(field >= 0 && field < smokeCount());
    return *m_smoke[static_cast<std::size_t>(field)]->m_target;
}

void Solver::setTimeStep(double dt) {
    m_dt = dt;
    m_dtOverH = dt / m_h;
}

void Solver::step() {
    m_stepping->m_transport = velloran::TransportAmounts{};
    // The force and the attenuation in one pass: (u + force) * a is what the
    // two sub-steps compute, and the boundary fill in between is overwritten.
    applyDrivingForceAndAttenuation();
    m_steps->step(m_smoke);
    if (m_stepping->m_hitSubcycleCap) {
        markUnstable();
        return;
    }
    centreVelocity();
}

// A stage that needed more sub-cycles than allowed: the state is no longer a
// solution of anything, so it is marked as blown up rather than left looking
// plausible.
void Solver::markUnstable() {
    m_stepping->m_hitSubcycleCap = true;
    std::vector<Grid *> grids{m_uCentre.get(), m_vCentre.get()};
    for (const auto &smoke : m_smoke) {
        grids.push_back(smoke->m_density.get());
    }
    for (Grid *grid : grids) {
        double *data = grid->data();
        std::fill(data, data + static_cast<std::size_t>(grid->NumRows()) * grid->NumCols(),
                  std::nan(""));
    }
}

std::vector<SolverField> Solver::fields() const {
    // Each further field's grids, by the field's index; names must outlive
    // the list, hence the tables.
    static const char *const kNames[kSmokeGridCount][kMaxSmokeFields] = {
        {"density", "density.1", "density.2", "density.3", "density.4", "density.5", "density.6",
         "density.7"},
        {"target", "target.1", "target.2", "target.3", "target.4", "target.5", "target.6",
         "target.7"},
        {"blurTarget", "blurTarget.1", "blurTarget.2", "blurTarget.3", "blurTarget.4",
         "blurTarget.5", "blurTarget.6", "blurTarget.7"},
        {"driveU", "driveU.1", "driveU.2", "driveU.3", "driveU.4", "driveU.5", "driveU.6",
         "driveU.7"},
        {"driveV", "driveV.1", "driveV.2", "driveV.3", "driveV.4", "driveV.5", "driveV.6",
         "driveV.7"},
    };
    std::vector<SolverField> list = {
        {"density", m_density.get(), true},
        {"u", m_u.get(), true},
        {"v", m_v.get(), true},
        {"target", m_target.get(), true},
        {"blurTarget", m_blurTarget.get(), true},
        {"driveU", m_driveU.get(), true},
        {"driveV", m_driveV.get(), true},
        {"pressure", m_pressure.get(), true},
    };
    if (const Grid *solid = obstacles()) {
        list.push_back({"solid", solid, true});
    }
    list.push_back({"uCentre", m_uCentre.get(), false});
    list.push_back({"vCentre", m_vCentre.get(), false});
    // A further field's target cannot be rebuilt from the inputs once a
    // palette split or a retarget shaped it, so it travels with its density.
    for (std::size_t k = 1; k < m_smoke.size(); ++k) {
        const velloran::SmokeField &smoke = *m_smoke[k];
        const Grid *grids[kSmokeGridCount] = {smoke.m_density.get(), smoke.m_target.get(),
                                              smoke.m_blurTarget.get(), smoke.m_driveU.get(),
                                              smoke.m_driveV.get()};
        for (int g = 0; g < kSmokeGridCount; ++g) {
            list.push_back({kNames[g][k], grids[g], true});
        }
    }
    if (m_scheme == velloran::Scheme::Sound) {
        Grid &credits = *m_gatherCredits;
        for (std::size_t k = 0; k < m_smoke.size(); ++k) {
            credits(static_cast<std::uint32_t>(k), 0) = m_smoke[k]->m_gatherCredit;
        }
        list.push_back({"gatherCredit", &credits, true});
    }
    return list;
}

const Grid &Solver::field(const std::string &name) const {
    for (const SolverField &field : fields()) {
        if (name == field.name) {
            return *field.grid;
        }
    }
    VELLORAN_CHECK(!"a field the solver has");
    return *m_density;
}

void Solver::restoreField(const std::string &name, const Grid &saved) {
    for (const SolverField &field : fields()) {
        if (name == field.name) {
            VELLORAN_CHECK(field.checkpointed);
            VELLORAN_CHECK(saved.NumRows() == field.grid->NumRows());
            VELLORAN_CHECK(saved.NumCols() == field.grid->NumCols());
            if (name == "gatherCredit") {
                for (std::size_t k = 0; k < m_smoke.size(); ++k) {
                    m_smoke[k]->m_gatherCredit = saved(static_cast<std::uint32_t>(k), 0);
                }
                return;
            }
            if (name == "solid") {
                // The mask is not a state of its own: the closed faces and the
                // solvers follow from it.
                const std::uint32_t n = m_stepping->m_lattice.n;
                Grid interior(n, n);
                for (std::uint32_t i = 0; i < n; ++i) {
                    for (std::uint32_t j = 0; j < n; ++j) {
                        interior(i, j) = saved(i + 1, j + 1);
                    }
                }
                replaceObstacles(interior);
                return;
            }
            // The list hands out const grids; this is the one writer.
            *const_cast<Grid *>(field.grid) = saved;
            // The gathering weight is cached from the target it was made from.
            for (const auto &smoke : m_smoke) {
                if (field.grid == smoke->m_target.get()) {
                    smoke->markTargetChanged();
                }
            }
            return;
        }
    }
    VELLORAN_CHECK(!"a field the solver has");
}

template <class Steps> Steps &Solver::steps() {
    auto *steps = dynamic_cast<Steps *>(m_steps.get());
    VELLORAN_CHECK(steps != nullptr);
    return *steps;
}

void Solver::advectVelocity() {
    steps<velloran::LiteralScheme>().advectVelocity();
}
void Solver::project() {
    steps<velloran::LiteralScheme>().project();
}
void Solver::advectDensity() {
    steps<velloran::LiteralScheme>().advectDensity(*m_smoke[0]);
}
void Solver::gatherSmoke() {
    steps<velloran::LiteralScheme>().gatherSmoke(*m_smoke[0]);
}
void Solver::closeWalls() {
    steps<velloran::SoundScheme>().closeWalls();
}
void Solver::advectVelocitySound() {
    steps<velloran::SoundScheme>().advectVelocitySound();
}
void Solver::projectNeumann() {
    steps<velloran::SoundScheme>().projectNeumann();
}
void Solver::advectDensitySound() {
    steps<velloran::SoundScheme>().advectDensitySound(*m_smoke[0]);
}
void Solver::applyBalancingForce() {
    steps<velloran::SoundScheme>().applyBalancingForce(*m_smoke[0]);
}
void Solver::gatherSmokeSound() {
    steps<velloran::SoundScheme>().gatherSmokeSound(*m_smoke[0]);
}
