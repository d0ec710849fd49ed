#pragma once

// The sound scheme's hot loops, vectorised across neighbouring columns like
// the literal ones (kernels.h). Every kernel reads one buffer and writes
// another, row by row, so rows can be shared between threads in any way and
// every value is computed from the same operands in the same order as the
// plain loops of the reference solver. Internal to the core. Their twins:
// ReferenceSolver::momentumCycleX and momentumCycleY (momentumXRows,
// momentumYRows), advectDensitySound (densityTransportRows, cellOutflowRows),
// largestVolumeOutflow (uVolumeOutflowRows, vVolumeOutflowRows),
// largestGatherRate and gatherSubstep (gatherRateRows, gatherUpdateRows),
// gatherImplicit (gatherLines).

#include "simdlevel.h"

#include <cstddef>

namespace velloran::kernels {

// Transport of the x-component of the velocity through its face-centred
// control volumes: rows [begin, end) within 1..n of out from q. Needs per
// thread two rows of n + 3 corner fluxes and one of cell fluxes.
struct MomentumPlan {
    int n = 0;
    const double *q = nullptr;  // the component being carried (u or v grid)
    double *out = nullptr;      // same shape as q
    const double *ua = nullptr; // frozen advecting x-velocity, (n + 2) x (n + 3)
    const double *va = nullptr; // frozen advecting y-velocity, (n + 3) x (n + 2)
    double lambda = 0.0;        // dt_s / h
    double *scratch = nullptr;  // per thread: 3 rows of scratchStride
    std::size_t scratchStride = 0;
};
void momentumXRows(SimdLevel level, const MomentumPlan &plan, int begin, int end, int part);
// The y-component: rows [begin, end) within 2..n.
void momentumYRows(SimdLevel level, const MomentumPlan &plan, int begin, int end, int part);

// Transport of the density by the face velocities u, v: rows [begin, end)
// within 1..n.
struct DensityTransportPlan {
    int n = 0;
    const double *q = nullptr; // (n + 2) x (n + 2), frame filled
    double *out = nullptr;
    const double *u = nullptr; // (n + 2) x (n + 3)
    const double *v = nullptr; // (n + 3) x (n + 2)
    double lambda = 0.0;
    double *scratch = nullptr; // per thread: 3 rows of scratchStride
    std::size_t scratchStride = 0;
};
void densityTransportRows(SimdLevel level, const DensityTransportPlan &plan, int begin, int end,
                          int part);
// The same with the donor-cell flux a+ qL + a- qR alone (lambda unused by the
// fluxes): non-negative for any face speeds within the outflow Courant limit.
void donorTransportRows(SimdLevel level, const DensityTransportPlan &plan, int begin, int end,
                        int part);

// Gathering. The rate pass finds the largest K_c over rows [begin, end) within
// 1..n (and whether any is NaN); the update pass moves smoke across the faces
// for one sub-step and writes the new density and its difference from the
// target, rows [begin, end) within 1..n.
struct GatherPlan {
    int n = 0;
    const double *rho = nullptr;  // (n + 2) x (n + 2)
    const double *diff = nullptr; // rho - target
    const double *target = nullptr;
    const double *coefX = nullptr; // (vg / h) b_f on x-faces, (n + 2) x (n + 3)
    const double *coefY = nullptr; // on y-faces, (n + 3) x (n + 2)
    const double *rateX = nullptr; // vg b_f / h^2 on x-faces
    const double *rateY = nullptr;
    double *rhoOut = nullptr;
    double *diffOut = nullptr;
    double lambda = 0.0;       // dt_s / h
    double *scratch = nullptr; // per thread: 3 rows of scratchStride
    std::size_t scratchStride = 0;
};
struct Extent {
    double largest = 0.0; // largest value seen, NaN left out
    bool nan = false;     // some value was NaN
};
Extent gatherRateRows(SimdLevel level, const GatherPlan &plan, int begin, int end);
void gatherUpdateRows(SimdLevel level, const GatherPlan &plan, int begin, int end, int part);

// Implicit gathering along lines: the lines [begin, end) of a family of
// parallel lines of m cells each (rows: cellStep 1, lineStep N + 2; columns:
// cellStep N + 2, lineStep 1), faces k = 1 .. m - 1 between cells k - 1 and k
// with coefficients at coef + k coefCellStep (+ line coefLineStep). rho and
// target point at cell 0 of line 0. See Solver::gatherImplicit.
struct GatherLinesPlan {
    int m = 0;
    double *rho = nullptr;
    const double *target = nullptr;
    const double *coef = nullptr;
    std::ptrdiff_t cellStep = 1;
    std::ptrdiff_t lineStep = 1;
    std::ptrdiff_t coefCellStep = 1;
    std::ptrdiff_t coefLineStep = 1;
    double lambda = 0.0;           // dt / h
    double *scratch = nullptr;     // per thread: scratchStride doubles
    std::size_t scratchStride = 0; // at least 9 (m + 2) 8
};
void gatherLines(SimdLevel level, const GatherLinesPlan &plan, int begin, int end, int part);

// Largest outflow sums: of the cells (density transport, rows within 1..n) and
// of the u and v control volumes (velocity transport: u-volumes in rows 1..n,
// v-volumes in rows 2..n).
struct OutflowPlan {
    int n = 0;
    const double *u = nullptr; // (n + 2) x (n + 3)
    const double *v = nullptr; // (n + 3) x (n + 2)
};
Extent cellOutflowRows(SimdLevel level, const OutflowPlan &plan, int begin, int end);
Extent uVolumeOutflowRows(SimdLevel level, const OutflowPlan &plan, int begin, int end);
Extent vVolumeOutflowRows(SimdLevel level, const OutflowPlan &plan, int begin, int end);

} // namespace velloran::kernels
