// Whole runs whose grids must hash to fingerprints recorded with GCC 12 in a
// Release build on x86-64. The other core tests compare the fast solver with
// its literal twin built by the same compiler with the same flags, which
// cannot notice a compiler, a build type or a processor that changes both in
// the same way (a fused multiply-add, an optimiser that reorders a sum, a
// different vector flavour); these fingerprints do. Each run goes through
// every vector flavour the processor has, with one and with two threads.
//
// A deliberate change to the numerics changes the fingerprints: the failure
// message prints the new value to record.

#include "solver.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using velloran::SimdLevel;

Grid shape(std::uint32_t n, bool (*inside)(double x, double y)) {
    Grid grid(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            grid(i, j) = inside((i + 0.5) / n, (j + 0.5) / n) ? 1.0 : 0.0;
        }
    }
    return grid;
}

bool disc(double x, double y) {
    const double dx = x - 0.6;
    const double dy = y - 0.55;
    return dx * dx + dy * dy <= 0.05;
}

bool letterL(double x, double y) {
    const bool bar = x > 0.25 && x < 0.42 && y > 0.2 && y < 0.8;
    const bool foot = x > 0.25 && x < 0.75 && y > 0.2 && y < 0.37;
    return bar || foot;
}

// A wall down the middle with a gap, through the disc and the letter's foot.
bool wall(double x, double y) {
    return x > 0.47 && x < 0.53 && !(y > 0.7 && y < 0.8);
}

// FNV-1a over the bit patterns of every entry, frame included.
std::uint64_t fingerprint(const Grid &grid, std::uint64_t hash) {
    for (std::uint32_t j = 0; j < grid.NumRows(); ++j) {
        for (std::uint32_t i = 0; i < grid.NumCols(); ++i) {
            const double value = grid(i, j);
            std::uint64_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            for (int byte = 0; byte < 8; ++byte) {
                hash ^= (bits >> (8 * byte)) & 0xffu;
                hash *= 0x100000001b3u;
            }
        }
    }
    return hash;
}

struct RecordedRun {
    std::uint32_t n;
    double vf, vd, vg, sigma, dt;
    int steps;
    std::uint64_t expected;
    velloran::Scheme scheme = velloran::Scheme::Literal;
    bool obstacles = false; // the wall
};

std::uint64_t runFingerprint(const RecordedRun &run, SimdLevel level, int threads) {
    Solver solver(shape(run.n, disc), shape(run.n, letterL));
    solver.setScheme(run.scheme);
    if (run.obstacles) {
        solver.setObstacles(shape(run.n, wall));
    }
    solver.setSimdLevel(level);
    solver.setThreadCount(threads);
    solver.setParallelSide(1); // share every step, whatever the size
    solver.m_vf = run.vf;
    solver.m_vd = run.vd;
    solver.m_vg = run.vg;
    solver.setSigma(run.sigma);
    solver.setTimeStep(run.dt);
    for (int step = 0; step < run.steps; ++step) {
        solver.step();
    }
    // A run that blew up would hash NaNs and prove little.
    EXPECT_FALSE(solver.hitSubcycleCap()) << "N = " << run.n << ", sigma " << run.sigma;
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char *name : {"density", "u", "v"}) {
        hash = fingerprint(solver.field(name), hash);
    }
    return hash;
}

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016" PRIx64, value);
    return text;
}

} // namespace

// Sizes that fill whole vectors and sizes that leave remainders; a wide and a
// narrow blur; gathering off and on; both schemes, the sound one also with a
// blur narrower than its gathering weight, with a long step (dt 0.02) and on a
// grid whose balancing runs on blocks, and with a wall in the way. (The sound
// fingerprints were recorded anew whenever the sound scheme changed: the
// balancing as a force, the smoke's own limiter and then superbee in its
// place, the gathering paid for by the flow, its amounts summed by columns,
// the velocity carried by the donor cell.)
TEST(SameBits, WholeRunsMatchTheRecordedFingerprints) {
    const std::vector<RecordedRun> runs = {
        {64, 1.0, 3.0, 0.0, 1.0, 0.001, 60, 0x3049f073f22c418fu},
        {37, 0.5, 5.0, 0.0, 2.2, 0.001, 60, 0x79320c8b1eda3f52u},
        {50, 40.0, 10.0, 0.0001, 0.7, 0.0001, 60, 0x6103344e4580a23fu},
        {37, 1.0, 3.0, 0.0001, 1.0, 0.001, 60, 0x203001dbb1c762cau, velloran::Scheme::Sound},
        {64, 2.0, 30.0, 1.0, 0.5, 0.001, 60, 0xd9c16335eca8001du, velloran::Scheme::Sound},
        {40, 2.0, 30.0, 1.0, 1.0, 0.02, 30, 0x015fa6d3d492c248u, velloran::Scheme::Sound},
        {130, 2.0, 30.0, 1.0, 1.0, 0.001, 20, 0x6db99cd7fc2a6663u, velloran::Scheme::Sound},
        {50, 2.0, 30.0, 0.15, 1.0, 0.001, 60, 0xcbb072add6ad9c8cu, velloran::Scheme::Sound, true},
    };
    std::vector<SimdLevel> levels;
    for (const SimdLevel level : {SimdLevel::Baseline, SimdLevel::Avx2, SimdLevel::Avx512}) {
        if (static_cast<int>(level) <= static_cast<int>(velloran::bestSimdLevel())) {
            levels.push_back(level);
        }
    }
    for (const RecordedRun &run : runs) {
        for (const SimdLevel level : levels) {
            for (const int threads : {1, 2}) {
                const std::uint64_t actual = runFingerprint(run, level, threads);
                EXPECT_EQ(hex(actual), hex(run.expected))
                    << "N = " << run.n << ", sigma " << run.sigma << ", "
                    << velloran::schemeName(run.scheme) << ", " << velloran::simdLevelName(level)
                    << ", " << threads << " thread(s)";
            }
        }
    }
}
