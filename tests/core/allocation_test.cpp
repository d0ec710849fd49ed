// A time step allocates nothing: the blur's scratch and every other buffer are
// sized when the solver is built (or on the first step, for the pool's
// threads). Counted by replacing the global allocation functions.

#include "solver.h"
#include "test_grids.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
} // namespace

void *operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void *p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept {
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}

TEST(SolverAllocation, StepsAllocateNothingAfterTheFirst) {
    for (const int threads : {1, 2}) {
        Solver s(discGrid(40, 22, 20, 8), discGrid(40, 15, 18, 6));
        s.setThreadCount(threads);
        s.setParallelSide(0);
        s.m_vf = 1.0;
        s.m_vd = 3.0;
        s.m_vg = 0.0001;
        s.setSigma(2.0);
        s.setTimeStep(0.001);
        s.step();
        g_allocations = 0;
        g_counting = true;
        for (int k = 0; k < 5; ++k) {
            s.step();
        }
        g_counting = false;
        EXPECT_EQ(g_allocations.load(), 0) << threads << " thread(s)";
    }
}
