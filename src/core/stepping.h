#pragma once

// What every scheme's steps share: the run's parameters, the threads and the
// vector flavour the loops run with, and what the last step did. Internal to
// the core; the Solver owns one and hands it to its scheme.

#include "blurfilter.h"
#include "lanes.h"
#include "lattice.h"
#include "scheme.h"
#include "soundkernels.h"
#include "workerpool.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace velloran {

class Stepping {
public:
    explicit Stepping(const Lattice &lattice);
    ~Stepping();
    Stepping(const Stepping &) = delete;
    Stepping &operator=(const Stepping &) = delete;

    void setThreadCount(int threads);

    // The pool when a grid of this interior side is worth sharing, else none.
    WorkerPool *poolFor(std::uint32_t side) const {
        return side >= m_parallelSide ? m_workers.get() : nullptr;
    }

    // Handing a job to the pool costs a few microseconds (more when the helper
    // has to be woken), which only pays off for enough rows: the flux kernels
    // and the blur from the threshold side on, the simple elementwise loops
    // (memory bound) from twice that side, where the grids no longer fit a
    // core's cache (at N = 512 sharing them makes a step about 3 % faster).
    template <class Body> void forRows(int begin, int end, Body &&body) {
        if (m_lattice.n >= m_parallelSide) {
            m_workers->forRows(begin, end, body);
        } else if (begin < end) {
            body(begin, end, 0);
        }
    }
    template <class Body> void forSimpleRows(int begin, int end, Body &&body) {
        if (m_lattice.n >= 2 * m_parallelSide) {
            m_workers->forRows(begin, end, body);
        } else if (begin < end) {
            body(begin, end, 0);
        }
    }
    // Largest of a row kernel's extents over rows [begin, end), shared like any
    // loop; max does not depend on the order in which the rows are met.
    template <class Kernel> kernels::Extent largestOver(int begin, int end, Kernel kernel);

    const Lattice m_lattice;

    double m_vf = 0.0;      // driving force coefficient
    double m_vd = 0.0;      // momentum attenuation coefficient
    double m_vg = 0.0;      // smoke gathering coefficient
    double m_h = 0.0;       // cell size 1/N
    double m_dt = 0.0;      // time step
    double m_dtOverH = 0.0; // dt / h, the lambda of every flux update
    double m_twoH = 0.0;    // 2 h
    double m_sigma = 0.0;   // the run's blur width (cells)
    std::unique_ptr<BlurFilter> m_blur;

    int m_threadCount = 1;
    std::uint32_t m_parallelSide = 200;
    SimdLevel m_simd = bestSimdLevel();
    std::unique_ptr<WorkerPool> m_workers;
    std::vector<kernels::Extent> m_extents; // per thread

    Gathering m_gathering = Gathering::Implicit; // the sound scheme's integrator

    SubstepCounts m_substeps;
    bool m_hitSubcycleCap = false;
    TransportAmounts m_transport;
};

template <class Kernel> kernels::Extent Stepping::largestOver(int begin, int end, Kernel kernel) {
    for (kernels::Extent &extent : m_extents) {
        extent = kernels::Extent{};
    }
    forRows(begin, end, [&](int bandBegin, int bandEnd, int thread) {
        const kernels::Extent band = kernel(bandBegin, bandEnd);
        kernels::Extent &mine = m_extents[static_cast<std::size_t>(thread)];
        mine.nan = mine.nan || band.nan;
        if (mine.largest < band.largest) {
            mine.largest = band.largest;
        }
    });
    kernels::Extent all;
    for (const kernels::Extent &extent : m_extents) {
        all.nan = all.nan || extent.nan;
        if (all.largest < extent.largest) {
            all.largest = extent.largest;
        }
    }
    return all;
}

} // namespace velloran
