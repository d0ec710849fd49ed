#include "stepping.h"

#include <algorithm>

namespace velloran {

Stepping::Stepping(const Lattice &lattice)
    : m_lattice(lattice)
    , m_h(1.0 / lattice.n)
    , m_twoH(2 * m_h)
    , m_blur(std::make_unique<BlurFilter>()) {
    m_blur->setSimdLevel(m_simd);
}

Stepping::~Stepping() = default;

void Stepping::setThreadCount(int threads) {
    m_threadCount = std::clamp(threads, 1, 8);
    m_blur->setWorkers(nullptr);
    m_workers = std::make_unique<WorkerPool>(m_threadCount);
    m_extents.assign(static_cast<std::size_t>(m_threadCount), kernels::Extent{});
}

} // namespace velloran
