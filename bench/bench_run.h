#pragma once

// The run every core benchmark times: a disc of smoke gathering into a bar,
// with parameters that stay finite at every size (the time step shrinks with h).
// Works for the fast Solver and for its literal twin alike.

#include "grid.h"

#include <cmath>
#include <cstdint>
#include <memory>

namespace bench {

inline Grid disc(std::uint32_t n, double cx, double cy, double r) {
    Grid g(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double dx = (i + 0.5) / n - cx;
            const double dy = (j + 0.5) / n - cy;
            g(i, j) = std::sqrt(dx * dx + dy * dy) < r ? 1.0 : 0.0;
        }
    }
    return g;
}

inline Grid bar(std::uint32_t n) {
    Grid g(n, n);
    for (std::uint32_t j = 0; j < n; ++j) {
        for (std::uint32_t i = 0; i < n; ++i) {
            const double x = (i + 0.5) / n;
            const double y = (j + 0.5) / n;
            g(i, j) = x > 0.3 && x < 0.45 && y > 0.2 && y < 0.8 ? 1.0 : 0.0;
        }
    }
    return g;
}

template <class S> std::unique_ptr<S> makeSolver(std::uint32_t n, double sigma) {
    auto solver = std::make_unique<S>(disc(n, 0.6, 0.55, 0.2), bar(n));
    solver->m_vf = 1.0;
    solver->m_vd = 3.0;
    solver->m_vg = 0.0;
    solver->setSigma(sigma);
    solver->setTimeStep(0.064 / n);
    return solver;
}

} // namespace bench
