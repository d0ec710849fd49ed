#include "workerpool.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELLORAN_CPU_RELAX() _mm_pause()
#else
#define VELLORAN_CPU_RELAX() std::this_thread::yield()
#endif

namespace velloran {

namespace {

// How long an idle helper keeps polling for the next job before it sleeps. A
// time step runs a dozen short jobs separated by serial work of well under a
// millisecond; polling across those gaps avoids a wake-up per job, while a
// paused or finished run costs no more than this once.
constexpr auto kSpinTime = std::chrono::microseconds(200);

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
    for (int part = 1; part < m_size; ++part) {
        m_helpers.emplace_back([this, part] { helperLoop(part); });
    }
}

void WorkerPool::dispatch(JobFn fn, void *context) {
    if (m_helpers.empty()) {
        startHelpers();
    }
    m_fn = fn;
    m_context = context;
    m_pending.store(m_size - 1, std::memory_order_relaxed);
    // Publishes the job; a helper that is about to sleep either sees the new
    // generation or is counted in m_sleeping and gets woken (both seq_cst).
    m_generation.fetch_add(1);
    if (m_sleeping.load() > 0) {
        { std::lock_guard<std::mutex> lock(m_mutex); }
        m_wake.notify_all();
    }

    fn(context, 0, m_size);

    int spins = 0;
    while (m_pending.load(std::memory_order_acquire) != 0) {
        if (++spins < 4096) {
            VELLORAN_CPU_RELAX();
        } else {
            std::this_thread::yield();
        }
    }
}

void WorkerPool::helperLoop(int part) {
    std::uint64_t seen = 0;
    for (;;) {
        // Poll for a while, then sleep until the next job or the end.
        const auto spinUntil = std::chrono::steady_clock::now() + kSpinTime;
        int polls = 0;
        while (m_generation.load(std::memory_order_acquire) == seen && !m_stop.load()) {
            VELLORAN_CPU_RELAX();
            if ((++polls & 63) == 0 && std::chrono::steady_clock::now() > spinUntil) {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_sleeping.fetch_add(1);
                m_wake.wait(lock, [&] { return m_generation.load() != seen || m_stop.load(); });
                m_sleeping.fetch_sub(1);
                break;
            }
        }
        if (m_stop.load()) {
            return;
        }
        seen = m_generation.load(std::memory_order_acquire);
        m_fn(m_context, part, m_size);
        m_pending.fetch_sub(1, std::memory_order_release);
    }
}

} // namespace velloran
