#pragma once

// The hot loops of the blur and the solver, vectorised across neighbouring
// outputs. Each kernel takes a plan (raw row pointers and strides, proved in
// range by its caller with the grid checks) and a range of rows to produce, so
// that the rows can be shared between threads. Internal to the core.

#include "lanes.h"

#include <cstddef>

namespace velloran::kernels {

// Blur of one grid: horizontal pass src -> tmp, vertical pass tmp -> dst.
struct BlurPlan {
    const double *src = nullptr;
    double *tmp = nullptr; // rows x tmpStride, tmpStride a multiple of kBlurBlock
    double *dst = nullptr;
    int rows = 0;
    int cols = 0;
    std::size_t tmpStride = 0;
    const double *kernel = nullptr; // the 2r + 1 weights
    const double *padded = nullptr; // padded[k] = kernel[k], zero outside 0..2r
    // The kernel reversed, in kBlurShifts copies: copy m, 64-byte aligned at
    // shifted + m * shiftedStride, has kernel[2r - (y + m - kBlurPad)] as entry
    // y, zero outside the kernel.
    const double *shifted = nullptr;
    std::size_t shiftedStride = 0;
    int radius = 0;                     // r
    int reach = 0;                      // largest |offset| whose weight is not zero
    const int *smokeFirst = nullptr;    // per src row: first column that is not zero
    const int *smokeLast = nullptr;     // per src row: last column that is not zero (< first: none)
    const double *tailMax = nullptr;    // tailMax[k]: largest weight at index k or above (k >= r)
    const double *srcRowMax = nullptr;  // per src row: largest |value|
    double *tmpRowMax = nullptr;        // per tmp row: largest |value|, written by the rows pass
    const double *tmpTailMax = nullptr; // per tmp row: largest |value| in it and the rows above
    int firstSmokyRow = 0;              // rows outside [first, last] are entirely zero
    int lastSmokyRow = -1;
    unsigned char *rowOverflow = nullptr; // per row: the horizontal pass produced inf or NaN
};

// Row padding of the blur's scratch and the zeros around its kernels: at least
// as wide as a block of outputs (8 vectors of the widest lanes).
constexpr int kBlurBlock = 64;
// Zero entries kept in front of the kernel in BlurPlan::shifted and BlurPlan::padded.
constexpr int kBlurPad = kBlurBlock;
// Shifted copies of the reversed kernel: one per lane of the widest vectors.
constexpr std::size_t kBlurShifts = 8;

// Pressure: all Gauss-Seidel sweeps in one wavefront (see pressureSweeps).
struct PressurePlan {
    int n = 0;
    double weight = 0.0;
    double *ring[3] = {nullptr, nullptr, nullptr}; // (n + 2) rows x laneStride, zeroed
    std::size_t laneStride = 0;                    // kPressureLanes + 1
    const double *skew[2] = {nullptr, nullptr};    // h * divergence, by column parity
    std::size_t skewStride = 0;
    int skewOrigin = 0;
    double *pressure = nullptr; // the (n + 2) x (n + 2) grid; the kernel fills its interior
    std::size_t pressureStride = 0;
};
constexpr int kPressureLanes = 24;
// Gauss-Seidel sweeps per projection, each a lane of the wavefront.
constexpr int kPressureSweeps = 20;
static_assert(kPressureSweeps <= kPressureLanes, "every sweep needs a lane");

// Per-thread rows of face terms for the flux kernels.
struct FaceRows {
    double *px = nullptr;
    double *cx = nullptr;
    double *pLow = nullptr;
    double *cLow = nullptr;
    double *pHigh = nullptr;
    double *cHigh = nullptr;
};

// Unsplit transport of a cell-centred field q along x and y with the limited
// flux, over the block of cells 2..n-1, in one of three forms.
enum class CellFluxMode : int {
    AdvectDensity, // out = q - lambda (Fy + Fx)
    GatherFirst,   // out = (blurTarget rho) (q + lambda (Fy + Fx))
    GatherSecond,  // out = out + vg (q + lambda (Fy + Fx))
};

struct CellFluxPlan {
    CellFluxMode mode = CellFluxMode::AdvectDensity;
    int n = 0;
    const double *q = nullptr;
    const double *speedX = nullptr; // on x-faces, (n + 2) x (n + 3)
    const double *speedY = nullptr; // on y-faces, (n + 3) x (n + 2)
    const double *rho = nullptr;
    const double *blurTarget = nullptr;
    double *out = nullptr;
    std::size_t cellStride = 0; // n + 2
    std::size_t xStride = 0;    // n + 3
    double lambda = 0.0;
    double vg = 0.0;
    FaceRows *scratch = nullptr; // one per thread
};

// Velocity transport along its own axis: uTmp from u and uCentre (rows
// 2..n-1), or vTmp from v and vCentre (rows 2..n).
struct FaceFluxPlan {
    int n = 0;
    const double *q = nullptr;
    const double *speed = nullptr; // centred velocity, (n + 2) x (n + 2)
    double *out = nullptr;
    std::size_t stride = 0;      // of q and out
    std::size_t speedStride = 0; // n + 2
    double lambda = 0.0;
    FaceRows *scratch = nullptr; // one per thread
};

// Differences across the faces of a cell-centred field c, on the x-faces
// (rows 1..n, columns 1..n+1) and the y-faces (rows 1..n+1, columns 1..n):
//   Subtract:  face = face - (c - c') / divisor        (pressure gradient)
//   Speed:     face = (c - c') * (b + b') / divisor    (gathering speeds)
// where c' and b' are the values across the face on the low side.
enum class FaceDifferenceMode : int { Subtract, Speed };

struct FaceDifferencePlan {
    FaceDifferenceMode mode = FaceDifferenceMode::Subtract;
    int n = 0;
    const double *cells = nullptr;   // (n + 2) x (n + 2)
    const double *weights = nullptr; // (n + 2) x (n + 2), Speed only
    double *xFaces = nullptr;        // (n + 2) x (n + 3)
    double *yFaces = nullptr;        // (n + 3) x (n + 2)
    double divisor = 1.0;
};

// The largest |value| of a row and whether any value is infinite or NaN.
struct RowExtentPlan {
    const double *row = nullptr;
    int count = 0;
    double *largest = nullptr; // NaN left out
    bool *notFinite = nullptr;
};

// The entry points. Each runs its loop with the lanes of the given level (the
// best the processor has at most); `part` is the index of the calling thread in
// its pool and selects the thread's scratch. Their plain twins:
// ReferenceBlurFilter::apply (blurRows, blurColumns), ReferenceSolver::project
// (pressureSweeps, faceDifferences Subtract), ReferenceSolver::advectDensity and
// gatherSmoke (cellFlux, faceDifferences Speed), ReferenceSolver::advectVelocity
// (advectXFaces, advectYFaces).
void rowExtent(SimdLevel level, const RowExtentPlan &plan);
void blurRows(SimdLevel level, const BlurPlan &plan, int begin, int end);    // src rows
void blurColumns(SimdLevel level, const BlurPlan &plan, int begin, int end); // dst rows
void pressureSweeps(SimdLevel level, const PressurePlan &plan);              // whole grid
void cellFlux(SimdLevel level, const CellFluxPlan &plan, int begin, int end, // within 2..n-1
              int part);
void advectXFaces(SimdLevel level, const FaceFluxPlan &plan, int begin, int end,
                  int part); // rows within 2..n-1
void advectYFaces(SimdLevel level, const FaceFluxPlan &plan, int begin, int end,
                  int part); // rows within 2..n
void faceDifferences(SimdLevel level, const FaceDifferencePlan &plan, int begin,
                     int end); // rows within 1..n+1

} // namespace velloran::kernels
