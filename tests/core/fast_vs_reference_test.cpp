// The fast core against its literal twin: every kernel on random inputs and
// whole runs of 100 steps, with every vector flavour the processor has and with
// one and two threads. Equality is bit for bit (memcmp) on every entry of every
// grid.

#include "blurfilter.h"
#include "neumannpoisson.h"
#include "reference_blurfilter.h"
#include "reference_poisson.h"
#include "reference_solver.h"
#include "solver.h"
#include "test_grids.h"
#include "test_parameters.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using velloran::SimdLevel;

std::vector<SimdLevel> availableLevels() {
    std::vector<SimdLevel> levels;
    for (const SimdLevel level : {SimdLevel::Baseline, SimdLevel::Avx2, SimdLevel::Avx512}) {
        if (static_cast<int>(level) <= static_cast<int>(velloran::bestSimdLevel())) {
            levels.push_back(level);
        }
    }
    return levels;
}

std::string label(SimdLevel level, int threads) {
    return std::string(velloran::simdLevelName(level)) + ", " + std::to_string(threads) +
           " thread(s)";
}

// Smoke-like random fields: patches of positive values in a zero background
// (the blur and the fluxes treat exact zeros specially), sometimes with
// negative values as advection produces them.
Grid randomField(std::mt19937_64 &rng, std::uint32_t rows, std::uint32_t cols, bool signedValues) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Grid g(rows, cols);
    // A random rectangle that always covers the centre, filled at a random
    // density, so that no field is empty and most leave zero margins.
    const double density = 0.3 + 0.7 * unit(rng);
    const auto i0 = static_cast<std::uint32_t>(unit(rng) * (cols / 2));
    const auto j0 = static_cast<std::uint32_t>(unit(rng) * (rows / 2));
    const auto i1 = cols / 2 + 1 + static_cast<std::uint32_t>(unit(rng) * ((cols + 1) / 2));
    const auto j1 = rows / 2 + 1 + static_cast<std::uint32_t>(unit(rng) * ((rows + 1) / 2));
    for (std::uint32_t j = j0; j < std::min(j1, rows); ++j) {
        for (std::uint32_t i = i0; i < std::min(i1, cols); ++i) {
            if (unit(rng) < density) {
                g(i, j) = signedValues ? 2.0 * unit(rng) - 0.5 : unit(rng);
            }
        }
    }
    return g;
}

void fillRandom(std::mt19937_64 &rng, Grid &g, double scale) {
    std::uniform_real_distribution<double> value(-scale, scale);
    for (std::uint32_t j = 0; j < g.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < g.NumCols(); ++i) {
            g(i, j) = value(rng);
        }
    }
}

template <class S> std::array<Grid *, 15> gridsOf(S &s) {
    return {s.m_density.get(),    s.m_target.get(),      s.m_blurDensity.get(),
            s.m_blurTarget.get(), s.m_densityDiff.get(), s.m_densityTmp.get(),
            s.m_pressure.get(),   s.m_u.get(),           s.m_v.get(),
            s.m_driveU.get(),     s.m_driveV.get(),      s.m_uTmp.get(),
            s.m_vTmp.get(),       s.m_uCentre.get(),     s.m_vCentre.get()};
}

const std::array<const char *, 15> kGridNames = {
    "m_density",    "m_target",   "m_blurDensity", "m_blurTarget", "m_densityDiff",
    "m_densityTmp", "m_pressure", "m_u",           "m_v",          "m_driveU",
    "m_driveV",     "m_uTmp",     "m_vTmp",        "m_uCentre",    "m_vCentre"};

// Equal bits, except that any NaN matches any NaN. Which NaN an operation on
// two NaNs returns depends on the order in which the compiler happened to put
// the operands of an addition or multiplication, so even two builds of the
// literal loops may differ there; the sign and payload of a NaN carry nothing.
bool equalBitsOrBothNaN(const Grid &a, const Grid &b) {
    if (a.NumRows() != b.NumRows() || a.NumCols() != b.NumCols()) {
        return false;
    }
    for (std::uint32_t j = 0; j < a.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < a.NumCols(); ++i) {
            const double x = a(i, j);
            const double y = b(i, j);
            if (std::memcmp(&x, &y, sizeof x) != 0 && !(std::isnan(x) && std::isnan(y))) {
                return false;
            }
        }
    }
    return true;
}

enum class NaNs { Exact, AnyPayload };

// Empty when every grid matches bit for bit; else the first grid that differs.
std::string firstDifference(Solver &fast, ReferenceSolver &reference, NaNs nans = NaNs::Exact) {
    const auto a = gridsOf(fast);
    const auto b = gridsOf(reference);
    for (std::size_t k = 0; k < a.size(); ++k) {
        const bool same =
            nans == NaNs::Exact ? equalBits(*a[k], *b[k]) : equalBitsOrBothNaN(*a[k], *b[k]);
        if (!same) {
            return kGridNames[k];
        }
    }
    return {};
}

// Parameters over the sound scheme's working range and beyond: strong forces
// and gathering that need sub-cycles.
Parameters randomSoundParameters(std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Parameters p{};
    p.vf = 50.0 * unit(rng);
    p.vd = 40.0 * unit(rng);
    p.vg = unit(rng) < 0.2 ? 0.0 : unit(rng);
    p.sigma = 0.3 + 3.7 * unit(rng);
    p.dt = 1e-4 + 3e-3 * unit(rng);
    p.scheme = velloran::Scheme::Sound;
    p.gathering = unit(rng) < 0.5 ? velloran::Gathering::Implicit : velloran::Gathering::Explicit;
    return p;
}

Parameters randomParameters(std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Parameters p{};
    p.vf = 40.0 * unit(rng);
    p.vd = 10.0 * unit(rng);
    p.vg = unit(rng) < 0.5 ? 0.0 : 1e-3 * unit(rng);
    p.sigma = unit(rng) < 0.1 ? 0.02 : 0.1 + 9.9 * unit(rng);
    p.dt = 1e-4 + 2e-3 * unit(rng);
    return p;
}

} // namespace

// ---------------------------------------------------------------------------
// Blur

namespace {

// The fast blur of src equals the literal one bit for bit with every flavour
// this processor has, on one thread and on two.
void expectBlurredAlike(BlurFilter &fast, ReferenceBlurFilter &reference,
                        velloran::WorkerPool &pair, const Grid &src, const std::string &what) {
    Grid expected(src.NumRows(), src.NumCols());
    reference.apply(src, expected);
    for (const SimdLevel level : availableLevels()) {
        for (int threads = 1; threads <= 2; ++threads) {
            fast.setSimdLevel(level);
            fast.setWorkers(threads == 2 ? &pair : nullptr);
            Grid actual(src.NumRows(), src.NumCols());
            fast.apply(src, actual);
            EXPECT_TRUE(equalBits(actual, expected)) << what << ", " << label(level, threads);
        }
    }
}

} // namespace

TEST(FastBlur, EqualsTheLiteralBlurOnRandomFields) {
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::vector<std::uint32_t> sides = {1, 2, 3, 4, 5, 7, 8, 31, 64, 67, 130};
    std::vector<double> sigmas = {0.02, 0.1, 0.3, 0.5, 1.0, 2.2, 4.0, 10.0};
    for (int extra = 0; extra < 6; ++extra) {
        sigmas.push_back(0.1 + 9.9 * unit(rng));
    }
    velloran::WorkerPool pair(2);
    for (const double sigma : sigmas) {
        ReferenceBlurFilter reference;
        reference.setSigma(sigma);
        BlurFilter fast;
        fast.setSigma(sigma);
        ASSERT_EQ(fast.kernel(), reference.kernel());
        for (int trial = 0; trial < 4; ++trial) {
            const std::uint32_t rows = sides[rng() % sides.size()];
            const std::uint32_t cols = trial == 0 ? rows : sides[rng() % sides.size()];
            const Grid src = randomField(rng, rows, cols, trial % 2 == 1);
            expectBlurredAlike(fast, reference, pair, src,
                               "sigma " + std::to_string(sigma) + ", " + std::to_string(rows) +
                                   " x " + std::to_string(cols));
        }
    }
}

// Infinities and NaNs must travel exactly as through the literal loops, where
// even the underflowed weights of the tail multiply them (0 * inf is NaN).
TEST(FastBlur, NonFiniteValuesSpreadExactlyAsInTheLiteralBlur) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double bad : {inf, -inf, nan, 1e308}) {
        for (const double sigma : {0.3, 1.0, 4.0}) {
            Grid src = discGrid(40, 20, 18, 9);
            src(33, 5) = bad;
            src(2, 30) = bad == 1e308 ? 1e308 : 1.0;
            ReferenceBlurFilter reference;
            reference.setSigma(sigma);
            Grid expected(40, 40);
            reference.apply(src, expected);
            for (const SimdLevel level : availableLevels()) {
                BlurFilter fast;
                fast.setSigma(sigma);
                fast.setSimdLevel(level);
                Grid actual(40, 40);
                fast.apply(src, actual);
                EXPECT_TRUE(equalBits(actual, expected))
                    << "value " << bad << ", sigma " << sigma << ", " << label(level, 1);
            }
        }
    }
}

// The walk past a block's centre stops once no term still to come can change
// its sums. Fields whose far terms do matter (values growing along the rows
// and columns, a huge value in the far tail, sums near the bottom of the
// normal range, signed values that cancel) must still come out exact.
TEST(FastBlur, FarTailTermsAreLeftOutOnlyWhereTheyCannotChangeASum) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto fieldOf = [&](int kind, std::uint32_t rows, std::uint32_t cols) {
        Grid g(rows, cols);
        for (std::uint32_t j = 0; j < rows; ++j) {
            for (std::uint32_t i = 0; i < cols; ++i) {
                double x = 0.0;
                switch (kind) {
                case 0: // growing by a factor of 4 along both axes
                    x = std::ldexp(1.0, static_cast<int>(2 * (i + j)) - 600);
                    break;
                case 1: // ones, and a huge value near the far end of every row
                    x = i + 3 == cols ? 1e250 : 1.0;
                    break;
                case 2: // magnitudes spread over 300 decades, both signs
                    x = (unit(rng) < 0.5 ? -1.0 : 1.0) * std::pow(10.0, -300.0 * unit(rng));
                    break;
                case 3: // near the bottom of the normal range
                    x = 1e-300 * unit(rng);
                    break;
                default: // large values that cancel
                    x = ((i + j) % 2 == 0 ? 1e10 : -1e10) + unit(rng);
                    break;
                }
                g(i, j) = x;
            }
        }
        return g;
    };
    velloran::WorkerPool pair(2);
    for (const double sigma : {0.3, 1.0, 2.5, 4.0, 10.0}) {
        ReferenceBlurFilter reference;
        reference.setSigma(sigma);
        BlurFilter fast;
        fast.setSigma(sigma);
        for (int kind = 0; kind < 5; ++kind) {
            for (const auto &[rows, cols] :
                 {std::pair<std::uint32_t, std::uint32_t>{70, 70}, {130, 9}, {9, 130}}) {
                expectBlurredAlike(fast, reference, pair, fieldOf(kind, rows, cols),
                                   "field " + std::to_string(kind) + ", sigma " +
                                       std::to_string(sigma) + ", " + std::to_string(rows) + " x " +
                                       std::to_string(cols));
            }
        }
    }
}

TEST(FastBlur, ReusesItsScratchAcrossShapes) {
    std::mt19937_64 rng(7);
    ReferenceBlurFilter reference;
    reference.setSigma(1.5);
    BlurFilter fast;
    fast.setSigma(1.5);
    for (const std::uint32_t side : {50U, 9U, 70U, 3U, 50U}) {
        const Grid src = randomField(rng, side, side + 1, false);
        Grid expected(side, side + 1);
        reference.apply(src, expected);
        Grid actual(side, side + 1);
        fast.apply(src, actual);
        EXPECT_TRUE(equalBits(actual, expected)) << side;
    }
}

// ---------------------------------------------------------------------------
// Sub-steps, each on random contents of every grid (frames included)

namespace {

// The fast solver in one vector flavour and thread count, sharing every loop
// however small the grid, and its reference, both with the parameters p.
void configurePair(Solver &fast, ReferenceSolver &reference, const Parameters &p, SimdLevel level,
                   int threads) {
    fast.setSimdLevel(level);
    fast.setThreadCount(threads);
    fast.setParallelSide(0);
    configure(fast, p);
    configure(reference, p);
}

void randomiseState(std::mt19937_64 &rng, Solver &fast, ReferenceSolver &reference) {
    const auto a = gridsOf(fast);
    const auto b = gridsOf(reference);
    for (std::size_t k = 0; k < a.size(); ++k) {
        fillRandom(rng, *b[k], k == 0 || k == 1 || k == 3 ? 1.0 : 3.0);
        *a[k] = *b[k];
    }
    // Exact zeros and equal neighbours exercise the minmod and upwind branches.
    for (Grid *g : b) {
        for (std::uint32_t j = 0; j < g->NumRows(); j += 3) {
            for (std::uint32_t i = 0; i < g->NumCols(); i += 2) {
                (*g)(i, j) = (i + j) % 4 == 0 ? 0.0 : (*g)(i > 0 ? i - 1 : i, j);
            }
        }
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        *a[k] = *b[k];
    }
}

} // namespace

TEST(FastSubSteps, EachEqualsItsLiteralTwinOnRandomState) {
    std::mt19937_64 rng(424242);
    const std::vector<void (Solver::*)()> fastSteps = {
        &Solver::applyDrivingForce, &Solver::attenuateMomentum, &Solver::advectVelocity,
        &Solver::project,           &Solver::advectDensity,     &Solver::gatherSmoke,
        &Solver::centreVelocity};
    const std::vector<void (ReferenceSolver::*)()> referenceSteps = {
        &ReferenceSolver::applyDrivingForce, &ReferenceSolver::attenuateMomentum,
        &ReferenceSolver::advectVelocity,    &ReferenceSolver::project,
        &ReferenceSolver::advectDensity,     &ReferenceSolver::gatherSmoke,
        &ReferenceSolver::centreVelocity};
    const std::vector<const char *> names = {
        "applyDrivingForce", "attenuateMomentum", "advectVelocity", "project",
        "advectDensity",     "gatherSmoke",       "centreVelocity"};
    for (const std::uint32_t n : {1U, 2U, 3U, 4U, 5U, 6U, 9U, 16U, 33U}) {
        const Grid src = randomField(rng, n, n, false);
        const Grid tgt = randomField(rng, n, n, false);
        const Parameters p = randomParameters(rng);
        for (const SimdLevel level : availableLevels()) {
            for (int threads = 1; threads <= 2; ++threads) {
                Solver fast(src, tgt);
                ReferenceSolver reference(src, tgt);
                configurePair(fast, reference, p, level, threads);
                for (std::size_t k = 0; k < fastSteps.size(); ++k) {
                    randomiseState(rng, fast, reference);
                    (fast.*fastSteps[k])();
                    (reference.*referenceSteps[k])();
                    EXPECT_EQ(firstDifference(fast, reference), "")
                        << names[k] << ", N " << n << ", " << label(level, threads);
                }
            }
        }
    }
}

namespace {

// The sound scheme's own sub-steps, fast and plain, in step order.
const std::vector<void (Solver::*)()> kFastSoundSteps = {
    &Solver::applyBalancingForce, &Solver::closeWalls,         &Solver::advectVelocitySound,
    &Solver::projectNeumann,      &Solver::advectDensitySound, &Solver::gatherSmokeSound};
const std::vector<void (ReferenceSolver::*)()> kReferenceSoundSteps = {
    &ReferenceSolver::applyBalancingForce, &ReferenceSolver::closeWalls,
    &ReferenceSolver::advectVelocitySound, &ReferenceSolver::projectNeumann,
    &ReferenceSolver::advectDensitySound,  &ReferenceSolver::gatherSmokeSound};

} // namespace

TEST(FastSoundSubSteps, EachEqualsItsReferenceOnRandomState) {
    std::mt19937_64 rng(777);
    const auto &fastSteps = kFastSoundSteps;
    const auto &referenceSteps = kReferenceSoundSteps;
    const std::vector<const char *> names = {"applyBalancingForce", "closeWalls",
                                             "advectVelocitySound", "projectNeumann",
                                             "advectDensitySound",  "gatherSmokeSound"};
    for (const std::uint32_t n : {1U, 2U, 3U, 4U, 5U, 6U, 9U, 16U, 33U}) {
        const Grid src = randomField(rng, n, n, false);
        const Grid tgt = randomField(rng, n, n, false);
        const Parameters p = randomSoundParameters(rng);
        for (const SimdLevel level : availableLevels()) {
            for (int threads = 1; threads <= 2; ++threads) {
                Solver fast(src, tgt);
                ReferenceSolver reference(src, tgt);
                configurePair(fast, reference, p, level, threads);
                for (std::size_t k = 0; k < fastSteps.size(); ++k) {
                    randomiseState(rng, fast, reference);
                    (fast.*fastSteps[k])();
                    (reference.*referenceSteps[k])();
                    EXPECT_EQ(firstDifference(fast, reference), "")
                        << names[k] << ", N " << n << ", " << label(level, threads)
                        << (p.gathering == velloran::Gathering::Explicit ? ", explicit" : "");
                    EXPECT_EQ(fast.lastSubsteps().total(), reference.lastSubsteps().total())
                        << names[k] << ", N " << n << ", " << label(level, threads);
                }
            }
        }
    }
}

// The balancing force on grids of whole cells (63, and 131, a prime) and of
// blocks (2 x 2 at 128, 3 x 3 at 192 and at 258): misfit sums, the block
// solve, the force interpolated onto the faces and added to the velocity all
// equal the plain loops.
TEST(FastSoundSubSteps, BalancingEqualsItsReferenceOnBlocks) {
    std::mt19937_64 rng(4141);
    for (const std::uint32_t n : {63U, 128U, 131U, 192U, 258U}) {
        const Grid src = randomField(rng, n, n, false);
        const Grid tgt = randomField(rng, n, n, false);
        Parameters p = randomSoundParameters(rng);
        p.vf = 2.0;
        for (const SimdLevel level : availableLevels()) {
            for (int threads = 1; threads <= 2; ++threads) {
                Solver fast(src, tgt);
                ReferenceSolver reference(src, tgt);
                configurePair(fast, reference, p, level, threads);
                randomiseState(rng, fast, reference);
                fast.applyBalancingForce();
                reference.applyBalancingForce();
                EXPECT_EQ(firstDifference(fast, reference), "")
                    << "N " << n << ", " << label(level, threads);
                EXPECT_EQ(fast.lastSubsteps().balancing, reference.lastSubsteps().balancing)
                    << "N " << n << ", " << label(level, threads);
            }
        }
    }
}

// The direct pressure solve: lanes across lines and lines shared between
// threads give the plain one-line-at-a-time transform's bits, for lengths on
// the radix-2 path and on the chirp path.
TEST(FastNeumannPoisson, EqualsThePlainSolve) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (const int n : {1, 2, 3, 5, 8, 12, 17, 31, 64, 100}) {
        const auto count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
        std::vector<double> r(count);
        for (double &value : r) {
            value = unit(rng);
        }
        std::vector<double> expected(count);
        velloran::ReferenceNeumannPoisson plain(n);
        plain.solve(r.data(), expected.data());
        for (const SimdLevel level : availableLevels()) {
            for (int threads = 1; threads <= 2; ++threads) {
                velloran::WorkerPool pool(threads);
                velloran::NeumannPoisson fast(n, threads);
                fast.setSimdLevel(level);
                std::vector<double> p = r;
                fast.solve(p.data(), p.data(), &pool);
                EXPECT_EQ(0, std::memcmp(p.data(), expected.data(), count * sizeof(double)))
                    << "N " << n << ", " << label(level, threads);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Whole runs

namespace {

void expectRunsAgree(const Grid &src, const Grid &tgt, const Parameters &p, int steps,
                     const std::string &what, NaNs nans = NaNs::Exact,
                     const Grid *solid = nullptr) {
    ReferenceSolver reference(src, tgt);
    configure(reference, p);
    if (solid != nullptr) {
        reference.setObstacles(*solid);
    }
    for (int k = 0; k < steps; ++k) {
        reference.step();
    }
    for (const SimdLevel level : availableLevels()) {
        for (int threads = 1; threads <= 2; ++threads) {
            Solver fast(src, tgt);
            fast.setSimdLevel(level);
            fast.setThreadCount(threads);
            fast.setParallelSide(0); // share every loop, however small the grid
            configure(fast, p);
            if (solid != nullptr) {
                fast.setObstacles(*solid);
            }
            for (int k = 0; k < steps; ++k) {
                fast.step();
            }
            EXPECT_EQ(firstDifference(fast, reference, nans), "")
                << what << ", " << label(level, threads);
        }
    }
}

} // namespace

TEST(FastSolver, HundredStepsEqualTheLiteralSolverOnRandomRuns) {
    std::mt19937_64 rng(1234567);
    for (const std::uint32_t n : {3U, 8U, 21U, 40U}) {
        for (int run = 0; run < 2; ++run) {
            const Grid src = randomField(rng, n, n, false);
            const Grid tgt = randomField(rng, n, n, false);
            const Parameters p = randomParameters(rng);
            expectRunsAgree(src, tgt, p, 100,
                            "N " + std::to_string(n) + ", vf " + std::to_string(p.vf) + ", vd " +
                                std::to_string(p.vd) + ", vg " + std::to_string(p.vg) + ", sigma " +
                                std::to_string(p.sigma) + ", dt " + std::to_string(p.dt));
        }
    }
}

// The sound scheme's whole steps, sub-cycles and all, on random runs.
TEST(FastSolver, HundredSoundStepsEqualTheReferenceOnRandomRuns) {
    std::mt19937_64 rng(2468);
    for (const std::uint32_t n : {3U, 8U, 21U, 40U}) {
        for (int run = 0; run < 2; ++run) {
            const Grid src = randomField(rng, n, n, false);
            const Grid tgt = randomField(rng, n, n, false);
            const Parameters p = randomSoundParameters(rng);
            expectRunsAgree(src, tgt, p, 100,
                            "sound, N " + std::to_string(n) + ", vf " + std::to_string(p.vf) +
                                ", vd " + std::to_string(p.vd) + ", vg " + std::to_string(p.vg) +
                                ", sigma " + std::to_string(p.sigma) + ", dt " +
                                std::to_string(p.dt));
        }
    }
}

// With obstacles (about a fifth of the cells solid, scattered): every sound
// sub-step on random state, and whole runs; at 130 the balancing runs on 2 x 2
// blocks, many of them split by solid cells.
TEST(FastSolver, SoundStepsWithObstaclesEqualTheReference) {
    std::mt19937_64 rng(2323);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const std::uint32_t n : {9U, 33U, 130U}) {
        const Grid src = randomField(rng, n, n, false);
        const Grid tgt = randomField(rng, n, n, false);
        const Grid solid = makeGrid(n, n, [&](std::uint32_t, std::uint32_t) { return unit(rng); });
        const Grid sparse = makeGrid(
            n, n, [&](std::uint32_t i, std::uint32_t j) { return solid(i, j) < 0.2 ? 1.0 : 0.0; });
        Parameters p = randomSoundParameters(rng);
        expectRunsAgree(src, tgt, p, 100, "obstacles, N " + std::to_string(n), NaNs::Exact,
                        &sparse);
        p.vf = 2.0;
        for (const SimdLevel level : availableLevels()) {
            for (int threads = 1; threads <= 2; ++threads) {
                Solver fast(src, tgt);
                ReferenceSolver reference(src, tgt);
                configurePair(fast, reference, p, level, threads);
                fast.setObstacles(sparse);
                reference.setObstacles(sparse);
                for (std::size_t k = 0; k < kFastSoundSteps.size(); ++k) {
                    randomiseState(rng, fast, reference);
                    (fast.*kFastSoundSteps[k])();
                    (reference.*kReferenceSoundSteps[k])();
                    EXPECT_EQ(firstDifference(fast, reference), "")
                        << "sub-step " << k << ", N " << n << ", " << label(level, threads);
                }
            }
        }
    }
}

// A disc gathering into a bar with a known good parameter set, at a size where
// the smoke stays away from most of the grid (the zero-skipping paths matter).
TEST(FastSolver, DiscRunEqualsTheLiteralSolver) {
    const std::uint32_t n = 48;
    const Grid src = discGrid(n, 30, 26, 9);
    const Grid tgt = makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) {
        return i > 12 && i < 20 && j > 8 && j < 40 ? 1.0 : 0.0;
    });
    expectRunsAgree(src, tgt, Parameters{1.0, 3.0, 0.0, 1.0, 0.001}, 100, "set A");
    expectRunsAgree(src, tgt, Parameters{40.0, 10.0, 0.0001, 1.0, 0.0001}, 100, "set C");
    expectRunsAgree(src, tgt, Parameters{2.0, 30.0, 0.3, 1.0, 0.001, velloran::Scheme::Sound}, 100,
                    "sound defaults");
}

// A run that blows up: once values overflow, infinities and NaNs must still
// follow the literal solver's path (the blur then takes its plain loops).
TEST(FastSolver, BlowingUpRunEqualsTheLiteralSolver) {
    const std::uint32_t n = 24;
    const Grid src = discGrid(n, 13, 12, 6);
    const Grid tgt = discGrid(n, 9, 10, 4);
    {
        ReferenceSolver probe(src, tgt);
        configure(probe, Parameters{40.0, 0.0, 50.0, 0.7, 0.1});
        for (int k = 0; k < 60; ++k) {
            probe.step();
        }
        ASSERT_FALSE(allFinite(*probe.m_density)) << "the run no longer blows up";
    }
    expectRunsAgree(src, tgt, Parameters{40.0, 0.0, 50.0, 0.7, 0.1}, 60, "unstable",
                    NaNs::AnyPayload);
}

// A filter without a width has no kernel to read: it stops with a clear
// message instead of reading past an empty weight array.
TEST(FastBlurDeathTest, ApplyBeforeAWidthIsSetEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    BlurFilter blur;
    const Grid src(4, 4);
    Grid dst(4, 4);
    EXPECT_DEATH(blur.apply(src, dst), "blurfilter\\.cpp.*!m_kernel\\.empty\\(\\)");
}

// A keyframe's new target, in the middle of a run of either scheme: scaled,
// blurred and turned into a driving field exactly as the plain code does it;
// the sound scheme's gathering weight follows the new target and a new sigma
// (a narrow blur makes it wider than the run's own).
TEST(FastSolver, SetTargetEqualsTheReference) {
    std::mt19937_64 rng(31337);
    for (const std::uint32_t n : {1U, 5U, 24U, 37U}) {
        const Grid src = randomField(rng, n, n, false);
        const Grid tgt = randomField(rng, n, n, false);
        const Grid next = randomField(rng, n, n, false);
        Parameters narrow = randomSoundParameters(rng);
        narrow.sigma = 0.4;
        for (const Parameters &p : {randomParameters(rng), randomSoundParameters(rng), narrow}) {
            Solver fast(src, tgt);
            ReferenceSolver reference(src, tgt);
            configure(fast, p);
            configure(reference, p);
            for (int k = 0; k < 10; ++k) {
                fast.step();
                reference.step();
            }
            fast.setTarget(next);
            reference.setTarget(next);
            EXPECT_EQ(firstDifference(fast, reference), "") << "N " << n;
            fast.step();
            reference.step();
            EXPECT_EQ(firstDifference(fast, reference), "") << "N " << n << ", after a step";
            fast.setSigma(p.sigma * 0.5);
            reference.setSigma(p.sigma * 0.5);
            fast.step();
            reference.step();
            EXPECT_EQ(firstDifference(fast, reference), "") << "N " << n << ", new sigma";
        }
    }
}
