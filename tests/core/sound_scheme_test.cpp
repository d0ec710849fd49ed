// The sound scheme's invariants: mass kept to rounding, no negative density,
// nothing moves at rest, uniform stays uniform, mirror images stay mirrored,
// the projection leaves no divergence, and a run that cannot be sub-cycled
// says so instead of drifting into NaN.

#include "neumannpoisson.h"
#include "solver.h"
#include "targetdistance.h"
#include "test_grids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using velloran::Scheme;

namespace {

long double interiorMass(const Solver &s) {
    const Grid &rho = *s.m_density;
    const std::uint32_t n = rho.NumCols() - 2;
    long double mass = 0.0L;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            mass += rho(i, j);
        }
    }
    return mass;
}

double interiorMinimum(const Grid &rho) {
    const std::uint32_t n = rho.NumCols() - 2;
    double lowest = rho(1, 1);
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            lowest = std::min(lowest, rho(i, j));
        }
    }
    return lowest;
}

// Root mean square of the discrete divergence over the cells, in units of h.
double rmsDivergence(const Solver &s) {
    const Grid &u = *s.m_u;
    const Grid &v = *s.m_v;
    const std::uint32_t n = u.NumRows() - 2;
    double sum = 0.0;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double d = u(i + 1, j) - u(i, j) + v(i, j + 1) - v(i, j);
            sum += d * d;
        }
    }
    return std::sqrt(sum / (static_cast<double>(n) * n));
}

Grid randomDensity(std::uint32_t n, std::mt19937 &random, double emptyFraction) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    return makeGrid(n, n, [&](std::uint32_t, std::uint32_t) {
        return unit(random) < emptyFraction ? 0.0 : unit(random);
    });
}

std::unique_ptr<Solver> soundSolver(const Grid &src, const Grid &tgt, double vf, double vd,
                                    double vg, double sigma, double dt,
                                    velloran::Gathering gathering = velloran::Gathering::Implicit) {
    auto s = std::make_unique<Solver>(src, tgt);
    s->setGathering(gathering);
    s->m_vf = vf;
    s->m_vd = vd;
    s->m_vg = vg;
    s->setSigma(sigma);
    s->setTimeStep(dt);
    s->setScheme(Scheme::Sound);
    return s;
}

} // namespace

// Every step keeps the total to 1e-12 of the start and no cell below zero, on
// random fields (a third of the cells empty) with the default parameters and
// with strong, fast ones that need several sub-cycles of every stage.
TEST(SoundScheme, KeepsMassAndPositivityOnRandomFields) {
    std::mt19937 random(17);
    struct Case {
        std::uint32_t n;
        double vf, vd, vg, sigma, dt;
        int steps;
    };
    const Case cases[] = {
        {8, 2, 30, 0.3, 1.0, 0.001, 300},
        {21, 2, 30, 0.3, 1.0, 0.001, 300},
        {32, 40, 3, 1.0, 0.5, 0.01, 150},
        {17, 500, 0, 0.05, 3.0, 0.02, 100},
    };
    for (const Case &c : cases) {
        for (velloran::Gathering gathering :
             {velloran::Gathering::Implicit, velloran::Gathering::Explicit}) {
            // Drawn one after the other: the order in which a call's
            // arguments are evaluated differs between compilers.
            const Grid source = randomDensity(c.n, random, 0.3);
            const Grid target = randomDensity(c.n, random, 0.5);
            auto s = soundSolver(source, target, c.vf, c.vd, c.vg, c.sigma, c.dt, gathering);
            const long double start = interiorMass(*s);
            long double previous = start;
            int mostCycles = 0;
            for (int step = 1; step <= c.steps; ++step) {
                s->step();
                ASSERT_FALSE(s->hitSubcycleCap()) << "n " << c.n << " step " << step;
                const long double mass = interiorMass(*s);
                ASSERT_LE(std::fabs(static_cast<double>((mass - previous) / start)), 1e-12)
                    << "n " << c.n << " step " << step;
                ASSERT_GE(interiorMinimum(*s->m_density), 0.0) << "n " << c.n << " step " << step;
                previous = mass;
                const auto &cycles = s->lastSubsteps();
                mostCycles = std::max({mostCycles, cycles.velocity, cycles.density,
                                       cycles.balancing, cycles.gathering});
            }
            EXPECT_LE(std::fabs(static_cast<double>((previous - start) / start)), 1e-12) << c.n;
            if (c.vf >= 40) {
                EXPECT_GT(mostCycles, 1) << "the fast case should need sub-cycles, n " << c.n;
            }
        }
    }
}

// The two gathering integrators agree on where the smoke goes: one implicit
// step per step against explicit sub-steps, a disc gathering into a bar at
// 48 x 48 with the default parameters; the distances to the target stay
// within a few per cent of each other.
TEST(SoundScheme, ImplicitAndExplicitGatheringAgree) {
    const std::uint32_t n = 48;
    const Grid bar = makeGrid(n, n, [](std::uint32_t i, std::uint32_t j) {
        return i > 14 && i < 24 && j > 8 && j < 40 ? 1.0 : 0.0;
    });
    double distances[2] = {};
    int k = 0;
    for (velloran::Gathering gathering :
         {velloran::Gathering::Implicit, velloran::Gathering::Explicit}) {
        auto s = soundSolver(discGrid(n, 30, 26, 9), bar, 2, 30, 0.3, 1.0, 0.001, gathering);
        for (int step = 0; step < 400; ++step) {
            s->step();
        }
        distances[k++] = distanceToTarget(*s->m_density, *s->m_target);
        EXPECT_EQ(s->lastSubsteps().gathering > 1, gathering == velloran::Gathering::Explicit);
    }
    EXPECT_LT(distances[0], 0.5);
    EXPECT_NEAR(distances[0], distances[1], 0.05 * distances[1]);
}

// A thousand steps of a disc gathering into a ring: the total after all of
// them still agrees with the start to 1e-12.
TEST(SoundScheme, KeepsMassOverAThousandSteps) {
    const std::uint32_t n = 32;
    const Grid ring = makeGrid(n, n, [n](std::uint32_t i, std::uint32_t j) {
        const double r = std::hypot((i + 0.5) / n - 0.5, (j + 0.5) / n - 0.5);
        return r > 0.25 && r < 0.35 ? 1.0 : 0.0;
    });
    auto s = soundSolver(discGrid(n, 12, 18, 6), ring, 2, 30, 0.3, 1.0, 0.001);
    const long double start = interiorMass(*s);
    for (int step = 0; step < 1000; ++step) {
        s->step();
    }
    EXPECT_LE(std::fabs(static_cast<double>((interiorMass(*s) - start) / start)), 1e-12);
    EXPECT_GE(interiorMinimum(*s->m_density), 0.0);
}

// With no force and no gathering, smoke at rest stays exactly where it is: the
// transport terms all vanish with the speed (unlike the literal correction).
TEST(SoundScheme, FieldAtRestIsUnchangedBitForBit) {
    std::mt19937 random(5);
    const std::uint32_t n = 24;
    auto s = soundSolver(randomDensity(n, random, 0.2), randomDensity(n, random, 0.2), 0.0, 30.0,
                         0.0, 1.0, 0.01);
    const Grid before = *s->m_density;
    for (int step = 0; step < 20; ++step) {
        s->step();
    }
    const Grid &after = *s->m_density;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            const double x = before(i, j);
            const double y = after(i, j);
            ASSERT_EQ(0, std::memcmp(&x, &y, sizeof x)) << i << ", " << j;
        }
    }
}

// A uniform density under a uniform target: the driving force still acts
// near the walls (the blurred target fades there), but a divergence-free flow
// carries uniform smoke unchanged and gathering finds nothing to move.
TEST(SoundScheme, UniformDensityStaysUniform) {
    const std::uint32_t n = 32;
    auto s = soundSolver(uniformGrid(n, 0.4), uniformGrid(n, 0.4), 2, 30, 0.3, 1.0, 0.001);
    for (int step = 0; step < 200; ++step) {
        s->step();
    }
    double lowest = 1e300;
    double highest = -1e300;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            lowest = std::min(lowest, (*s->m_density)(i, j));
            highest = std::max(highest, (*s->m_density)(i, j));
        }
    }
    EXPECT_GT(maxAbs(*s->m_u), 1e-6) << "the force should have moved the flow";
    EXPECT_LE(highest - lowest, 1e-12);
    EXPECT_NEAR(lowest, 0.4, 1e-12);
}

// Inputs symmetric under x -> 1 - x give results symmetric to rounding: the
// density mirrors, the x-velocity mirrors with its sign flipped.
TEST(SoundScheme, MirrorSymmetricInputsGiveMirrorSymmetricResults) {
    // 130 balances on 2 x 2 blocks.
    for (const std::uint32_t n : {40U, 130U}) {
        const Grid source = makeGrid(n, n, [n](std::uint32_t i, std::uint32_t j) {
            const double x = (i + 0.5) / n - 0.5;
            const double y = (j + 0.5) / n - 0.4;
            return std::exp(-40 * (x * x + y * y));
        });
        const Grid target = makeGrid(n, n, [n](std::uint32_t i, std::uint32_t j) {
            const double x = std::fabs((i + 0.5) / n - 0.5);
            const double y = (j + 0.5) / n;
            return (x > 0.15 && x < 0.3 && y > 0.2 && y < 0.8) ? 1.0 : 0.0;
        });
        auto s = soundSolver(source, target, 2, 30, 0.3, 1.0, 0.001);
        const int steps = n < 100 ? 300 : 100;
        for (int step = 0; step < steps; ++step) {
            s->step();
        }
        const Grid &rho = *s->m_density;
        const Grid &u = *s->m_u;
        const double scale = maxAbs(rho);
        const double speed = maxAbs(u);
        ASSERT_GT(speed, 0.0);
        for (std::uint32_t i = 1; i <= n; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                ASSERT_NEAR(rho(i, j), rho(n + 1 - i, j), 1e-12 * scale) << i << ", " << j;
            }
        }
        for (std::uint32_t i = 1; i <= n + 1; ++i) {
            for (std::uint32_t j = 1; j <= n; ++j) {
                ASSERT_NEAR(u(i, j), -u(n + 2 - i, j), 1e-10 * speed) << i << ", " << j;
            }
        }
    }
}

// After a step the flow is divergence-free to rounding and the walls carry
// nothing; the projection alone removes all but 1e-6 of the divergence.
TEST(SoundScheme, ProjectionLeavesNoDivergenceAndClosedWalls) {
    std::mt19937 random(11);
    for (std::uint32_t n : {1u, 2u, 5u, 16u, 33u, 64u}) {
        auto s = soundSolver(randomDensity(n, random, 0.2), randomDensity(n, random, 0.2), 0, 0, 0,
                             1.0, 0.001);
        std::uniform_real_distribution<double> speed(-1.0, 1.0);
        Grid &u = *s->m_u;
        Grid &v = *s->m_v;
        for (std::uint32_t j = 1; j <= n; ++j) {
            for (std::uint32_t i = 2; i <= n; ++i) {
                u(i, j) = speed(random);
            }
        }
        for (std::uint32_t j = 2; j <= n; ++j) {
            for (std::uint32_t i = 1; i <= n; ++i) {
                v(i, j) = speed(random);
            }
        }
        s->closeWalls();
        const double before = rmsDivergence(*s);
        s->projectNeumann();
        const double after = rmsDivergence(*s);
        if (n > 1) {
            EXPECT_GT(before, 0.0);
        }
        EXPECT_LE(after, 1e-6 * before + 1e-300) << "n " << n;
        EXPECT_LE(after, 1e-13) << "n " << n;
        for (std::uint32_t j = 1; j <= n; ++j) {
            EXPECT_EQ(u(1, j), 0.0);
            EXPECT_EQ(u(n + 1, j), 0.0);
        }
        for (std::uint32_t i = 1; i <= n; ++i) {
            EXPECT_EQ(v(i, 1), 0.0);
            EXPECT_EQ(v(i, n + 1), 0.0);
        }
    }
}

// The direct solve against the equations it solves, for lengths that take the
// radix-2 path and lengths that take the chirp path.
TEST(SoundScheme, NeumannSolveSatisfiesItsEquations) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int n : {1, 2, 3, 4, 7, 12, 31, 64, 100}) {
        const auto count = static_cast<std::size_t>(n) * n;
        std::vector<double> r(count);
        double sum = 0.0;
        for (double &value : r) {
            value = unit(random);
            sum += value;
        }
        const double mean = sum / static_cast<double>(count);
        for (double &value : r) {
            value -= mean;
        }
        std::vector<double> p(count);
        velloran::NeumannPoisson poisson(n, 1);
        poisson.solve(r.data(), p.data(), nullptr);
        double largest = 0.0;
        double pMean = 0.0;
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const double pc = p[i + j * n];
                double lhs = 0.0;
                if (i > 0)
                    lhs += p[i - 1 + j * n] - pc;
                if (i < n - 1)
                    lhs += p[i + 1 + j * n] - pc;
                if (j > 0)
                    lhs += p[i + (j - 1) * n] - pc;
                if (j < n - 1)
                    lhs += p[i + (j + 1) * n] - pc;
                largest = std::max(largest, std::fabs(lhs - r[i + j * n]));
                pMean += pc;
            }
        }
        EXPECT_LE(largest, 1e-11) << "n " << n;
        EXPECT_LE(std::fabs(pMean / static_cast<double>(count)), 1e-12) << "n " << n;
    }
}

// A step that would need more sub-cycles than the cap stops, leaves NaN for
// every consumer's check to find, and says so; it never continues silently.
// (Even dt vd = 3, which makes the attenuation amplify, stays bounded: the
// sub-cycled transport and the projection hold the flow in check.)
TEST(SoundScheme, StepBeyondTheSubcycleCapIsMarkedUnstable) {
    const std::uint32_t n = 16;
    for (int poison = 0; poison < 3; ++poison) {
        auto s = soundSolver(discGrid(n, 5, 5, 4), discGrid(n, 11, 11, 4), 2, 30, 0.3, 1.0, 0.001);
        s->step();
        ASSERT_FALSE(s->hitSubcycleCap());
        if (poison == 0) {
            (*s->m_u)(8, 8) = 1e30; // a Courant number far beyond the cap
        } else if (poison == 1) {
            (*s->m_v)(8, 8) = std::nan("");
        } else {
            (*s->m_density)(8, 8) = std::numeric_limits<double>::infinity();
        }
        s->step();
        EXPECT_TRUE(s->hitSubcycleCap()) << poison;
        EXPECT_FALSE(allFinite(*s->m_density)) << poison;
        EXPECT_FALSE(allFinite(*s->m_uCentre)) << poison;
    }

    auto amplified =
        soundSolver(discGrid(n, 5, 5, 4), discGrid(n, 11, 11, 4), 1000, 1000, 1.0, 1.0, 0.003);
    for (int step = 0; step < 30; ++step) {
        amplified->step();
        ASSERT_FALSE(amplified->hitSubcycleCap()) << step;
        ASSERT_TRUE(allFinite(*amplified->m_density)) << step;
        ASSERT_GE(interiorMinimum(*amplified->m_density), 0.0) << step;
    }
}

// The literal scheme is what it always was: choosing it changes nothing, and
// a solver switched to the sound scheme and back steps literally again.
TEST(SoundScheme, LiteralRemainsTheDefault) {
    const std::uint32_t n = 16;
    Solver plain(discGrid(n, 6, 7, 4), discGrid(n, 10, 9, 4));
    Solver chosen(discGrid(n, 6, 7, 4), discGrid(n, 10, 9, 4));
    for (Solver *s : {&plain, &chosen}) {
        s->m_vf = 1;
        s->m_vd = 3;
        s->setSigma(1.0);
        s->setTimeStep(0.001);
    }
    EXPECT_EQ(plain.scheme(), Scheme::Literal);
    chosen.setScheme(Scheme::Sound);
    chosen.setScheme(Scheme::Literal);
    for (int step = 0; step < 30; ++step) {
        plain.step();
        chosen.step();
    }
    EXPECT_TRUE(equalBits(*plain.m_density, *chosen.m_density));
    EXPECT_TRUE(equalBits(*plain.m_u, *chosen.m_u));
    EXPECT_EQ(plain.lastSubsteps().total(), 3);
}

TEST(SoundScheme, SchemeWords) {
    Scheme scheme = Scheme::Literal;
    EXPECT_TRUE(velloran::parseScheme("sound", &scheme));
    EXPECT_EQ(scheme, Scheme::Sound);
    EXPECT_TRUE(velloran::parseScheme("literal", &scheme));
    EXPECT_EQ(scheme, Scheme::Literal);
    for (const char *word : {"", "Sound", "sound ", "implicit"}) {
        scheme = Scheme::Sound;
        EXPECT_FALSE(velloran::parseScheme(word, &scheme)) << word;
        EXPECT_EQ(scheme, Scheme::Sound) << word;
    }
    EXPECT_STREQ(velloran::schemeName(Scheme::Sound), "sound");
    EXPECT_STREQ(velloran::schemeName(Scheme::Literal), "literal");
}

// Anywhere in the window's parameter ranges (vf and vd 0..1000, vg 0..1,
// sigma 0.1..10, dt 0..1) a sound run either stays a valid state (finite,
// nothing negative, the total kept) or stops at the sub-cycle cap and says so;
// it never drifts into NaN unannounced.
TEST(SoundScheme, AnyParametersInTheWindowsRangesStayValidOrAreReported) {
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto pick = [&](double low, double high) {
        // Half the draws near the low end, where the interesting values are.
        const double u = unit(random);
        return unit(random) < 0.5 ? low + (high - low) * u : low + (high - low) * u * u * u * u;
    };
    int reported = 0;
    for (int run = 0; run < 40; ++run) {
        const std::uint32_t n = run % 4 == 0 ? 64 : 24;
        const double vf = pick(0, 1000);
        const double vd = pick(0, 1000);
        const double vg = pick(0, 1);
        const double sigma = pick(0.1, 10);
        const double dt = pick(0, 1);
        const Grid source = randomDensity(n, random, 0.4);
        const Grid target = randomDensity(n, random, 0.6);
        auto s = soundSolver(source, target, vf, vd, vg, sigma, dt);
        const long double start = interiorMass(*s);
        for (int step = 0; step < 20; ++step) {
            s->step();
            if (s->hitSubcycleCap()) {
                EXPECT_FALSE(allFinite(*s->m_density));
                ++reported;
                break;
            }
            const std::string what = "vf " + std::to_string(vf) + " vd " + std::to_string(vd) +
                                     " vg " + std::to_string(vg) + " sigma " +
                                     std::to_string(sigma) + " dt " + std::to_string(dt) +
                                     " step " + std::to_string(step);
            ASSERT_TRUE(allFinite(*s->m_density)) << what;
            ASSERT_TRUE(allFinite(*s->m_u)) << what;
            ASSERT_TRUE(allFinite(*s->m_v)) << what;
            ASSERT_GE(interiorMinimum(*s->m_density), 0.0) << what;
            ASSERT_LE(std::fabs(static_cast<double>((interiorMass(*s) - start) / start)), 1e-12)
                << what;
        }
    }
    RecordProperty("runs stopped at the cap", reported);
}
