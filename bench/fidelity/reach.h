#pragma once

// The reach check: does visible smoke stay within what the fluid could have
// carried it? "Visible" is density >= 10 % of the peak of the (mass-equalised)
// target. At the start of a segment (step 0, or the step a new target takes
// effect) d(x) is the distance in cells from cell x to the nearest visible
// cell; R(n) sums max_speed(k) dt / h over the segment's steps k <= n, with
// max_speed the largest speed of the fluid's centred velocities. A step passes
// when every visible cell has d(x) <= R(n) + 3. Where the smoke at the start
// is thinner than visible everywhere (a large source for a small target), d
// is measured from its own 10 % contour instead. In a run with obstacles d is
// the distance through open cells, around the obstacles.

#include "solver.h"

#include <vector>

namespace fidelity {

class Reach {
public:
    static constexpr double kSlack = 3.0;

    // A new segment: the visible set of the state now, R back to 0. A colour
    // run's fields are checked one by one, each against its own target.
    void start(const Solver &s, int field = 0);
    // After each step of dt: R grows by the fluid's top speed, and the worst
    // excess d(x) - (R + 3) over the visible cells is kept.
    void afterStep(const Solver &s, double dt);

    // Largest excess over all steps so far, in cells (<= 0 passes).
    double worstExcess() const { return m_worst; }
    bool passes() const { return m_worst <= 0.0; }

private:
    int m_field = 0;
    int m_n = 0;
    double m_threshold = 0.0;
    double m_travelled = 0.0;
    double m_worst = -1e300;
    std::vector<double> m_distance; // d(x), column i - 1 + n (row j - 1)
};

// Largest |(u, v)| at the interior cell centres, as the renderer's metrics.
double maxSpeed(const Solver &s);

} // namespace fidelity
