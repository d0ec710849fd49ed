#include "workerpool.h"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELLORAN_CPU_RELAX() _mm_pause()
#else
#define VELLORAN_CPU_RELAX() std::this_thread::yield()
#endif

namespace velloran {

namespace {

// How long an idle helper keeps polling for the next job before it sleeps.
// Short: a helper that wakes late only takes fewer chunks, while one that
// polls through the serial parts of a step takes a core's share away from the
// stepping thread whenever other programs keep the machine busy.
constexpr auto kSpinTime = std::chrono::microseconds(50);

// A wait for a helper's chunk that exceeds both this and the caller's own
// share of the job means the helper lost its core.
constexpr auto kSlowHelper = std::chrono::microseconds(200);
// Jobs then run on the caller alone: a few time steps at first, up to about
// twenty while it keeps happening (a step runs about a dozen jobs).
constexpr int kAloneJobs = 32;
constexpr int kMaxAloneJobs = 256;

// The job word: generation (24 bits), chunk count (20 bits), next chunk (20 bits).
constexpr int kChunkBits = 20;
constexpr std::uint64_t kChunkMask = (std::uint64_t{1} << kChunkBits) - 1;
constexpr std::uint64_t kGenerationMask = (std::uint64_t{1} << 24) - 1;

std::uint64_t generationOf(std::uint64_t word) {
    return word >> (2 * kChunkBits);
}
std::uint64_t chunksOf(std::uint64_t word) {
    return (word >> kChunkBits) & kChunkMask;
}
std::uint64_t nextOf(std::uint64_t word) {
    return word & kChunkMask;
}

} // namespace

WorkerPool::WorkerPool(int threads)
    : m_size(threads < 1 ? 1 : threads) {}

WorkerPool::~WorkerPool() {
    if (m_helpers.empty()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop.store(true);
    }
    m_wake.notify_all();
    for (std::thread &helper : m_helpers) {
        helper.join();
    }
}

void WorkerPool::startHelpers() {
    m_helpers.reserve(static_cast<std::size_t>(m_size - 1));
    for (int thread = 1; thread < m_size; ++thread) {
        m_helpers.emplace_back([this, thread] { helperLoop(thread); });
    }
}

void WorkerPool::dispatch(JobFn fn, void *context, int chunks) {
    if (m_helpers.empty()) {
        startHelpers();
    }
    m_generation = (m_generation + 1) & kGenerationMask;
    m_fn = fn;
    m_context = context;
    m_unfinished.store(chunks, std::memory_order_relaxed);
    // Publishing the word releases the job; a helper about to sleep either
    // sees it or is counted in m_sleeping and gets woken (both seq_cst).
    m_work.store(m_generation << (2 * kChunkBits) |
                 (static_cast<std::uint64_t>(chunks) & kChunkMask) << kChunkBits);
    if (m_sleeping.load() > 0) {
        { std::lock_guard<std::mutex> lock(m_mutex); }
        m_wake.notify_all();
    }

    const auto started = std::chrono::steady_clock::now();
    work(m_generation, 0);
    const auto worked = std::chrono::steady_clock::now();

    // Chunks a helper claimed may still be running.
    int spins = 0;
    while (m_unfinished.load(std::memory_order_acquire) != 0) {
        if (++spins < 4096) {
            VELLORAN_CPU_RELAX();
        } else {
            std::this_thread::yield();
        }
    }
    if (spins >= 4096) {
        const auto waited = std::chrono::steady_clock::now() - worked;
        if (waited > kSlowHelper && waited > worked - started) {
            m_aloneBackoff = std::min(std::max(2 * m_aloneBackoff, kAloneJobs), kMaxAloneJobs);
            m_aloneJobs = m_aloneBackoff;
        }
    } else if (m_aloneBackoff > 0) {
        m_aloneBackoff = std::max(m_aloneBackoff / 2, 0);
    }
}

void WorkerPool::work(std::uint64_t generation, int thread) {
    std::uint64_t word = m_work.load(std::memory_order_acquire);
    for (;;) {
        if (generationOf(word) != generation || nextOf(word) >= chunksOf(word)) {
            return;
        }
        if (!m_work.compare_exchange_weak(word, word + 1, std::memory_order_acq_rel,
                                          std::memory_order_acquire)) {
            continue;
        }
        // The claimed chunk keeps the job alive: its function and context stay
        // in place until every chunk has finished.
        m_fn(m_context, static_cast<int>(nextOf(word)), thread);
        m_unfinished.fetch_sub(1, std::memory_order_acq_rel);
        word = m_work.load(std::memory_order_acquire);
    }
}

void WorkerPool::helperLoop(int thread) {
    std::uint64_t seen = 0;
    const auto newJob = [&] { return generationOf(m_work.load()) != seen; };
    for (;;) {
        // Poll for a while, then sleep until the next job or the end.
        const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
        int polls = 0;
        while (!newJob() && !m_stop.load()) {
            VELLORAN_CPU_RELAX();
            if ((++polls & 63) == 0 && std::chrono::steady_clock::now() > spinUntil) {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_sleeping.fetch_add(1);
                m_wake.wait(lock, [&] { return newJob() || m_stop.load(); });
                m_sleeping.fetch_sub(1);
                break;
            }
        }
        if (m_stop.load()) {
            return;
        }
        seen = generationOf(m_work.load(std::memory_order_acquire));
        work(seen, thread);
    }
}

} // namespace velloran
