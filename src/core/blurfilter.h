#pragma once

// BlurFilter: a sampled Gaussian of width sigma (in cells), applied as two
// one-dimensional passes (rows, then columns).
//
// The kernel reaches 40 sigma to each side and is deliberately not normalised:
// the weights are the Gaussian density at integer offsets. Positions outside the
// grid count as 0 and the weights are not renormalised near the edges, so a
// blurred field falls off towards the border. Every output value carries a
// floor of 1e-256, which keeps later divisions by blurred values finite.
//
// The convolution is exact and direct with the full kernel: the far tail is what
// drives smoke that is far away from the target. The passes are vectorised
// across neighbouring outputs (each output still sums its own taps in
// increasing order) and leave out only terms that provably change nothing:
// exact zeros, and the far right tail of a sum once the sum is more than 2^57
// times any term still to come (adding such a term rounds back to the same
// sum). Every value equals that of the plain double loop bit for bit. Inputs
// with an infinity or a NaN take the plain loop itself.

#include "grid.h"
#include "lanes.h"

#include <cstdint>
#include <vector>

namespace velloran {
class WorkerPool;
namespace kernels {
struct BlurPlan;
}
} // namespace velloran

class BlurFilter {
public:
    BlurFilter() = default;

    // Builds the kernel for width sigma; replaces any previous kernel.
    // Ends the program unless sigma > 0.
    void setSigma(double sigma);

    // Writes the blur of src into dst; both must have the same shape. src may
    // be the same grid as dst: it is read completely before dst is written.
    // The scratch is kept between calls, so only the first call for a shape
    // allocates. Twin: ReferenceBlurFilter::apply.
    void apply(const Grid &src, Grid &dst);

    std::int32_t radius() const { return m_radius; }
    const std::vector<double> &kernel() const { return m_kernel; }

    // Threads to share the passes with (not owned; null: the calling thread
    // alone) and the compiled flavour of the loops (default: the best one).
    void setWorkers(velloran::WorkerPool *workers) { m_workers = workers; }
    void setSimdLevel(velloran::SimdLevel level) { m_simd = level; }

private:
    void applyPlain(const Grid &src, Grid &dst);
    velloran::kernels::BlurPlan makePlan(const Grid &src, Grid &dst);
    void blurRow(const velloran::kernels::BlurPlan &plan, int j);
    void plainColumns(const velloran::kernels::BlurPlan &plan) const;
    double *alignedShifted(); // the first copy, on a 64-byte boundary

    std::int32_t m_radius = 0;
    std::vector<double> m_kernel; // 2r + 1 weights; index k stands for offset k - r

    std::int32_t m_reach = 0;      // largest |offset| with a weight that is not zero
    bool m_kernelFinite = true;    // false only for absurdly small widths
    std::vector<double> m_padded;  // the kernel with zeros around it
    std::vector<double> m_shifted; // shifted copies of the reversed kernel, see setSigma
    std::size_t m_shiftedStride = 0;
    std::vector<double> m_tmp;     // horizontal pass, rows padded to whole blocks
    std::vector<int> m_smokeFirst; // per row: first and last column that is not zero
    std::vector<int> m_smokeLast;
    std::vector<unsigned char> m_rowFinite;   // per row: the source row is finite
    std::vector<unsigned char> m_rowOverflow; // per row: the horizontal pass overflowed
    std::vector<double> m_tailMax;            // largest weight at each kernel index and beyond
    std::vector<double> m_srcRowMax;          // per row: largest |value| of the source
    std::vector<double> m_tmpRowMax;          // per row: largest |value| of the horizontal pass
    std::vector<double> m_tmpTailMax;         // per row: the same over the row and all above
    velloran::WorkerPool *m_workers = nullptr;
    velloran::SimdLevel m_simd = velloran::bestSimdLevel();
};
