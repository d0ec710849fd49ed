#pragma once

// The solver's row-sharing loops, for the files that implement its sub-steps.
// Internal to the core.

#include "solver.h"
#include "workerpool.h"

// Handing a job to the pool costs a few microseconds (more when the helper
// has to be woken), which only pays off for enough rows: the flux kernels and
// the blur from the threshold side on, the simple elementwise loops (memory
// bound) from twice that side, where the grids no longer fit a core's cache
// (at N = 512 sharing them makes a step about 3 % faster).
template <class Body> void Solver::forRows(int begin, int end, Body &&body) {
    if ((m_density->NumCols() - 2) >= m_parallelSide) {
        m_workers->forRows(begin, end, body);
    } else if (begin < end) {
        body(begin, end, 0);
    }
}

template <class Body> void Solver::forSimpleRows(int begin, int end, Body &&body) {
    if ((m_density->NumCols() - 2) >= 2 * m_parallelSide) {
        m_workers->forRows(begin, end, body);
    } else if (begin < end) {
        body(begin, end, 0);
    }
}
