// The worker pool and the solver across threads. Built as its own executable
// so that these tests also run, quickly, under ThreadSanitizer.

#include "reference_solver.h"
#include "solver.h"
#include "test_grids.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using velloran::WorkerPool;

TEST(WorkerPool, ChunksCoverTheRangeOnceAndInOrder) {
    for (const int parts : {1, 2, 3, 8}) {
        for (const int length : {0, 1, 2, 5, 257}) {
            int expected = 3;
            for (int part = 0; part < parts; ++part) {
                int begin = 0;
                int end = 0;
                WorkerPool::chunk(3, 3 + length, part, parts, begin, end);
                EXPECT_EQ(begin, expected) << parts << " parts, length " << length;
                EXPECT_LE(begin, end);
                EXPECT_LE(end - begin, length / parts + 1);
                expected = end;
            }
            EXPECT_EQ(expected, 3 + length);
        }
    }
}

TEST(WorkerPool, EveryChunkRunsOncePerJobAcrossManyJobsAndPauses) {
    WorkerPool pool(2);
    ASSERT_EQ(pool.size(), 2);
    EXPECT_EQ(pool.chunksPerJob(), 8);
    const std::thread::id caller = std::this_thread::get_id();
    std::array<std::atomic<int>, 17> runs{};
    std::atomic<bool> threadsRight{true};
    for (int job = 0; job < 2000; ++job) {
        const int chunks = 1 + job % 17;
        for (auto &r : runs) {
            r = 0;
        }
        pool.run(chunks, [&](int chunk, int thread) {
            ++runs[static_cast<std::size_t>(chunk)];
            const bool onCaller = std::this_thread::get_id() == caller;
            if ((thread == 0) != onCaller || thread < 0 || thread > 1) {
                threadsRight = false;
            }
        });
        for (int chunk = 0; chunk < 17; ++chunk) {
            ASSERT_EQ(runs[static_cast<std::size_t>(chunk)].load(), chunk < chunks ? 1 : 0)
                << "job " << job << ", chunk " << chunk;
        }
        if (job % 500 == 0) {
            // Long enough for the helper to stop polling and sleep.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_TRUE(threadsRight.load());
}

TEST(WorkerPool, BandsCoverTheRowsOnce) {
    WorkerPool pool(2);
    for (const int rows : {0, 1, 3, 8, 9, 100}) {
        std::vector<int> covered(static_cast<std::size_t>(rows), 0);
        pool.forRows(5, 5 + rows, [&](int begin, int end, int) {
            for (int j = begin; j < end; ++j) {
                ++covered[static_cast<std::size_t>(j - 5)];
            }
        });
        for (int j = 0; j < rows; ++j) {
            EXPECT_EQ(covered[static_cast<std::size_t>(j)], 1) << rows << " rows, row " << j;
        }
    }
}

TEST(WorkerPool, SingleThreadRunsInlineAndOddCountsAreTakenAsOne) {
    for (const int threads : {1, 0, -3}) {
        WorkerPool pool(threads);
        EXPECT_EQ(pool.size(), 1);
        EXPECT_EQ(pool.chunksPerJob(), 1);
        std::vector<int> order;
        pool.run(3, [&](int chunk, int thread) {
            EXPECT_EQ(thread, 0);
            order.push_back(chunk);
        });
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    }
}

// A helper that holds a job up (here: it sleeps in its chunk, as if it had
// lost its core) makes the pool run the next jobs on the caller alone.
TEST(WorkerPool, RunsAloneForAWhileAfterAHelperHeldAJobUp) {
    WorkerPool pool(2);
    std::atomic<bool> helperHeldUp{false};
    for (int attempt = 0; attempt < 200 && !helperHeldUp; ++attempt) {
        pool.run(8, [&](int, int thread) {
            if (thread == 1) {
                helperHeldUp = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            } else {
                // Slow enough for the helper to wake and claim a chunk.
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    }
    if (!helperHeldUp) {
        GTEST_SKIP() << "the helper never got a chunk";
    }
    std::atomic<int> onHelper{0};
    for (int job = 0; job < 20; ++job) {
        pool.run(8, [&](int, int thread) {
            if (thread != 0) {
                ++onHelper;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        });
    }
    EXPECT_EQ(onHelper.load(), 0);
}

TEST(WorkerPool, DestroysCleanlyBeforeAndAfterItsFirstJob) {
    { WorkerPool unused(2); }
    WorkerPool used(2);
    std::atomic<int> total{0};
    used.run(4, [&](int chunk, int) { total += chunk + 1; });
    EXPECT_EQ(total.load(), 10);
}

// The simulation builds the solver in one thread and steps it in another; the
// pool's threads start with the first step and are joined on destruction.
TEST(SolverThreads, BuiltInOneThreadSteppedInAnotherMatchesTheLiteralSolver) {
    const std::uint32_t n = 20;
    const Grid src = discGrid(n, 12, 10, 5);
    const Grid tgt = discGrid(n, 7, 9, 4);
    auto fast = std::make_unique<Solver>(src, tgt);
    ReferenceSolver reference(src, tgt);
    for (Solver *s : {fast.get()}) {
        s->setThreadCount(2);
        s->setParallelSide(0);
        s->m_vf = 1.0;
        s->m_vd = 3.0;
        s->m_vg = 0.0001;
        s->setSigma(1.0);
        s->setTimeStep(0.001);
    }
    reference.m_vf = 1.0;
    reference.m_vd = 3.0;
    reference.m_vg = 0.0001;
    reference.setSigma(1.0);
    reference.setTimeStep(0.001);

    std::thread stepper([&] {
        for (int k = 0; k < 10; ++k) {
            fast->step();
        }
    });
    stepper.join();
    for (int k = 0; k < 10; ++k) {
        reference.step();
    }
    EXPECT_TRUE(equalBits(*fast->m_density, *reference.m_density));
    EXPECT_TRUE(equalBits(*fast->m_uCentre, *reference.m_uCentre));
    EXPECT_TRUE(equalBits(*fast->m_vCentre, *reference.m_vCentre));
    EXPECT_TRUE(equalBits(*fast->m_pressure, *reference.m_pressure));
    fast.reset();
}

TEST(SolverThreads, ThreadCountIsClampedAndCanChangeBetweenSteps) {
    Solver s(discGrid(12, 6, 6, 3), discGrid(12, 5, 7, 3));
    s.setSigma(1.0);
    s.setTimeStep(0.001);
    EXPECT_GE(Solver::defaultThreadCount(), 1);
    EXPECT_LE(Solver::defaultThreadCount(), 2);
    s.setThreadCount(0);
    EXPECT_EQ(s.threadCount(), 1);
    s.step();
    s.setThreadCount(2);
    EXPECT_EQ(s.threadCount(), 2);
    s.step();
    s.setThreadCount(100);
    EXPECT_EQ(s.threadCount(), 8);
    s.step();
    EXPECT_TRUE(allFinite(*s.m_density));
}
