// Several smoke fields carried by one flow.

#include "lattice.h"
#include "reference_solver.h"
#include "solver.h"
#include "test_grids.h"
#include "test_parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using velloran::Scheme;

// The sound scheme's defaults, and a literal set that keeps a small run stable.
const Parameters kSound{2.0, 30.0, 0.3, 1.0, 0.001, Scheme::Sound};
const Parameters kLiteral{1.0, 3.0, 0.0001, 1.0, 0.001, Scheme::Literal};

// Two fields that cross on their way, the yin-yang of a colour run, made
// lopsided so that they differ in mass and shape.
struct Exchange {
    static constexpr std::uint32_t n = 32;
    Grid left = discGrid(n, 10, 16, 6);
    Grid right = discGrid(n, 23, 15, 4);
    Grid dot = discGrid(n, 25, 14, 2);
    std::vector<SmokeInput> inputs() const { return {{&left, &right}, {&dot, &left}}; }
};

// Each field carried by the one flow is its own conserved quantity: mass to
// rounding, never negative, through a run where the fields cross.
TEST(SmokeFields, SoundRunKeepsEachFieldsMassAndSign) {
    const Exchange e;
    Solver s(e.inputs());
    configure(s, kSound);
    ASSERT_EQ(s.smokeCount(), 2);
    const double mass0 = velloran::interiorSum(s.smokeDensity(0));
    const double mass1 = velloran::interiorSum(s.smokeDensity(1));
    // Each field equalised with its own target, not with the other's.
    EXPECT_NEAR(mass0, velloran::interiorSum(s.smokeTarget(0)), 1e-12 * mass0);
    EXPECT_NEAR(mass1, velloran::interiorSum(s.smokeTarget(1)), 1e-12 * mass1);
    EXPECT_GT(std::fabs(mass0 - mass1), 0.1 * mass1);
    for (int step = 0; step < 300; ++step) {
        s.step();
    }
    ASSERT_FALSE(s.hitSubcycleCap());
    EXPECT_NEAR(velloran::interiorSum(s.smokeDensity(0)), mass0, 1e-12 * mass0);
    EXPECT_NEAR(velloran::interiorSum(s.smokeDensity(1)), mass1, 1e-12 * mass1);
    for (int field = 0; field < 2; ++field) {
        const Grid &rho = s.smokeDensity(field);
        for (std::uint32_t j = 1; j <= Exchange::n; ++j) {
            for (std::uint32_t i = 1; i <= Exchange::n; ++i) {
                ASSERT_GE(rho(i, j), 0.0) << "field " << field << " at " << i << ", " << j;
            }
        }
    }
}

// The fields are stepped alike: the same inputs give the same bits, in both
// schemes, and the first field is what the solver's own grids show.
TEST(SmokeFields, IdenticalInputsGiveIdenticalFields) {
    const Exchange e;
    for (const Parameters &p : {kSound, kLiteral}) {
        Solver s(std::vector<SmokeInput>{{&e.left, &e.right}, {&e.left, &e.right}});
        configure(s, p);
        for (int step = 0; step < 100; ++step) {
            s.step();
        }
        EXPECT_TRUE(equalBits(s.smokeDensity(0), s.smokeDensity(1)));
        EXPECT_TRUE(equalBits(s.smokeDensity(0), *s.m_density));
    }
}

// The plain reference carries one field; two of them, sharing one flow by
// copying it across, are stepped as the fast solver steps two fields: each
// field's force added in turn, one attenuation, each field's balancing, the
// flow's stages once, then each field carried and gathered.
void referenceStep(ReferenceSolver &a, ReferenceSolver &b, Scheme scheme) {
    const auto shareFlow = [](const ReferenceSolver &from, ReferenceSolver &to) {
        *to.m_u = *from.m_u;
        *to.m_v = *from.m_v;
    };
    a.applyDrivingForce();
    shareFlow(a, b);
    b.applyDrivingForce();
    shareFlow(b, a);
    a.attenuateMomentum();
    if (scheme == Scheme::Sound) {
        a.applyBalancingForce();
        shareFlow(a, b);
        b.applyBalancingForce();
        shareFlow(b, a);
        a.closeWalls();
        a.advectVelocitySound();
        a.projectNeumann();
    } else {
        a.advectVelocity();
        a.project();
    }
    shareFlow(a, b);
    for (ReferenceSolver *field : {&a, &b}) {
        if (scheme == Scheme::Sound) {
            field->carrySmokeSound();
        } else {
            field->advectDensity();
            field->gatherSmoke();
        }
    }
    a.centreVelocity();
}

TEST(SmokeFields, TwoFieldsEqualTheReferenceSharingOneFlow) {
    const Exchange e;
    for (const Parameters &p : {kSound, kLiteral}) {
        Solver fast(e.inputs());
        ReferenceSolver a(e.left, e.right);
        ReferenceSolver b(e.dot, e.left);
        fast.setThreadCount(2);
        fast.setParallelSide(0);
        for (auto *field : {&a, &b}) {
            configure(*field, p);
        }
        configure(fast, p);
        for (int step = 0; step < 60; ++step) {
            fast.step();
            referenceStep(a, b, p.scheme);
        }
        const std::string scheme = velloran::schemeName(p.scheme);
        EXPECT_TRUE(equalBits(fast.smokeDensity(0), *a.m_density)) << scheme;
        EXPECT_TRUE(equalBits(fast.smokeDensity(1), *b.m_density)) << scheme;
        EXPECT_TRUE(equalBits(*fast.m_u, *a.m_u)) << scheme;
        EXPECT_TRUE(equalBits(*fast.m_v, *a.m_v)) << scheme;
        EXPECT_TRUE(equalBits(*fast.m_uCentre, *a.m_uCentre)) << scheme;
    }
}

} // namespace

// A run carried over through its checkpointed grids alone goes on bit for bit
// as the unbroken run: the further fields' densities and their targets travel
// (a retarget of field 1 halfway makes its target one the inputs do not give),
// and the solver restored into has stepped before, so a gathering weight
// cached from its old target would show (sigma 0.5 is narrower than that
// weight's blur at this side).
TEST(SmokeFields, CheckpointedGridsCarryEveryField) {
    const Exchange e;
    const std::vector<SmokeInput> inputs{
        {&e.left, &e.right}, {&e.dot, &e.left}, {&e.right, &e.dot}};
    Parameters p = kSound;
    p.sigma = 0.5;
    Solver unbroken(inputs);
    Solver resumed(inputs);
    configure(unbroken, p);
    configure(resumed, p);
    for (int step = 0; step < 40; ++step) {
        if (step == 20) {
            unbroken.setTarget(1, e.dot);
        }
        unbroken.step();
        if (step < 5) {
            resumed.step();
        }
    }
    for (const SolverField &field : unbroken.fields()) {
        if (field.checkpointed) {
            resumed.restoreField(field.name, *field.grid);
        }
    }
    for (int step = 0; step < 40; ++step) {
        unbroken.step();
        resumed.step();
    }
    ASSERT_FALSE(unbroken.hitSubcycleCap());
    const std::vector<SolverField> fields = unbroken.fields();
    // Five grids of each further field are listed and checkpointed, then the
    // gathering's credits (without them the resumed gathering would differ).
    EXPECT_EQ(fields.size(), 11u + 2u * Solver::kSmokeGridCount);
    EXPECT_STREQ(fields.back().name, "gatherCredit");
    for (const SolverField &field : fields) {
        EXPECT_TRUE(equalBits(*field.grid, resumed.field(field.name))) << field.name;
    }
    // Each field's share of what the last step moved, adding up in field order.
    double advected = 0.0;
    double gathered = 0.0;
    for (int k = 0; k < unbroken.smokeCount(); ++k) {
        EXPECT_GT(unbroken.lastTransport(k).advected, 0.0) << k;
        advected += unbroken.lastTransport(k).advected;
        gathered += unbroken.lastTransport(k).gathered;
    }
    EXPECT_EQ(unbroken.lastTransport().advected, advected);
    EXPECT_EQ(unbroken.lastTransport().gathered, gathered);
}
