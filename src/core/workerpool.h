#pragma once

// WorkerPool: a small persistent team of threads for the row-parallel kernels.
//
// A job is a number of chunks (bands of rows); the calling thread and the
// helpers claim chunks one at a time until none is left, and the call returns
// when every chunk is done. The caller never waits for a helper to wake up: on
// a busy machine, where a helper may not get a core for a while, the caller
// simply does the chunks itself. The pool owns size() - 1 helper threads,
// started with the first job (so they are created by the thread that steps the
// solver and inherit its scheduling priority, not by the thread that built
// it). Between jobs a helper polls briefly, then sleeps on a condition
// variable; a job allocates nothing.
//
// Jobs partition their outputs between chunks; a chunk never sums into
// another chunk's results, so results do not depend on who ran which chunk.
//
// A helper that has claimed a chunk and then loses its core (the machine is
// busy with other programs) holds the whole job up; when that happens the pool
// runs the next jobs on the caller alone for a while before trying again.

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

    // Chunks worth splitting a job into: one per thread would leave a thread
    // idle whenever the other one is slow to start.
    int chunksPerJob() const { return m_size == 1 ? 1 : 4 * m_size; }

    // Runs body(chunk, thread) once for every chunk in [0, chunks), on the
    // calling thread (thread 0) and the helpers (1 .. size() - 1), and returns
    // when all are done. Not reentrant.
    template <class Body> void run(int chunks, Body &&body) {
        if (chunks <= 0) {
            return;
        }
        if (m_size == 1 || chunks == 1 || m_aloneJobs > 0) {
            if (m_aloneJobs > 0) {
                --m_aloneJobs;
            }
            for (int chunk = 0; chunk < chunks; ++chunk) {
                body(chunk, 0);
            }
            return;
        }
        using Fn = std::remove_reference_t<Body>;
        dispatch([](void *context, int chunk,
                    int thread) { (*static_cast<Fn *>(context))(chunk, thread); },
                 const_cast<void *>(static_cast<const void *>(&body)), chunks);
    }

    // Runs body(bandBegin, bandEnd, thread) over contiguous bands that cover
    // [begin, end) once, as a job of chunksPerJob() chunks at most.
    template <class Body> void forRows(int begin, int end, Body &&body) {
        const int rows = end - begin;
        if (rows <= 0) {
            return;
        }
        const int chunks = rows < chunksPerJob() ? rows : chunksPerJob();
        run(chunks, [&](int part, int thread) {
            int bandBegin = 0;
            int bandEnd = 0;
            chunk(begin, end, part, chunks, bandBegin, bandEnd);
            body(bandBegin, bandEnd, thread);
        });
    }

    // Splits [begin, end) into parts contiguous chunks, as even as possible.
    static void chunk(int begin, int end, int part, int parts, int &chunkBegin, int &chunkEnd) {
        const std::int64_t length = end - begin;
        chunkBegin = begin + static_cast<int>(length * part / parts);
        chunkEnd = begin + static_cast<int>(length * (part + 1) / parts);
    }

private:
    using JobFn = void (*)(void *, int, int);

    void dispatch(JobFn fn, void *context, int chunks);
    void startHelpers();
    void helperLoop(int thread);
    // Claims and runs chunks of job `generation` until none is left.
    void work(std::uint64_t generation, int thread);

    int m_size = 1;
    std::vector<std::thread> m_helpers;

    // The job: its function and context, valid while any of its chunks is
    // unfinished, and one word holding generation, chunk count and next chunk
    // so that a chunk is claimed, with its job, in a single step.
    JobFn m_fn = nullptr;
    void *m_context = nullptr;
    std::atomic<std::uint64_t> m_work{0};
    std::atomic<int> m_unfinished{0};
    std::uint64_t m_generation = 0;

    // When a helper keeps the caller waiting far longer than the work took
    // (it lost its core to other programs), the next jobs run on the caller
    // alone; the count doubles each time this repeats, up to a limit.
    int m_aloneJobs = 0;
    int m_aloneBackoff = 0;

    std::atomic<int> m_sleeping{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

} // namespace velloran
