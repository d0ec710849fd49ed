#pragma once

// WorkerPool: a small persistent team of threads for the row-parallel kernels.
//
// The calling thread always takes part 0 of a job; the pool owns size() - 1
// helper threads, started on the first job that needs them (so they are
// created by the thread that steps the solver and inherit its scheduling
// priority, not by the thread that built the solver). Between jobs a helper
// spins briefly, then sleeps on a condition variable; a job therefore costs no
// allocation and, in a busy step, usually no system call.
//
// Jobs partition their outputs between parts; a part never sums into another
// part's results, so results do not depend on the number of threads.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace velloran {

class WorkerPool {
public:
    // threads >= 1 counts the caller; values below 1 are taken as 1.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    int size() const { return m_size; }

    // Runs body(part, parts) once for every part in [0, size()), part 0 on the
    // calling thread, and returns when all parts are done. Not reentrant.
    template <class Body> void run(Body &&body) {
        if (m_size == 1) {
            body(0, 1);
            return;
        }
        using Fn = std::remove_reference_t<Body>;
        dispatch(
            [](void *context, int part, int parts) { (*static_cast<Fn *>(context))(part, parts); },
            const_cast<void *>(static_cast<const void *>(&body)));
    }

    // Splits [begin, end) into size() contiguous chunks, as even as possible.
    static void chunk(int begin, int end, int part, int parts, int &chunkBegin, int &chunkEnd) {
        const std::int64_t length = end - begin;
        chunkBegin = begin + static_cast<int>(length * part / parts);
        chunkEnd = begin + static_cast<int>(length * (part + 1) / parts);
    }

private:
    using JobFn = void (*)(void *, int, int);

    void dispatch(JobFn fn, void *context);
    void startHelpers();
    void helperLoop(int part);

    int m_size = 1;
    std::vector<std::thread> m_helpers;

    JobFn m_fn = nullptr;
    void *m_context = nullptr;
    std::atomic<std::uint64_t> m_generation{0};
    std::atomic<int> m_pending{0};
    std::atomic<int> m_sleeping{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

} // namespace velloran
