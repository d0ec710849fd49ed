#include "reference_poisson.h"

#include <cmath>
#include <cstddef>

namespace velloran {

ReferenceNeumannPoisson::ReferenceNeumannPoisson(int n)
    : m_n(n)
    , m_dct(n)
    , m_eigen(static_cast<std::size_t>(n))
    , m_column(static_cast<std::size_t>(n)) {
    const double pi = 3.14159265358979323846;
    for (int k = 0; k < n; ++k) {
        m_eigen[static_cast<std::size_t>(k)] = 2.0 * std::cos(pi * k / n) - 2.0;
    }
}

void ReferenceNeumannPoisson::solve(const double *r, double *p) {
    const int n = m_n;
    const auto stride = static_cast<std::size_t>(n);
    if (p != r) {
        for (std::size_t k = 0; k < stride * stride; ++k) {
            p[k] = r[k];
        }
    }
    // Columns, then rows, into the cosine basis.
    double *column = m_column.data();
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            column[j] = p[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * stride];
        }
        m_dct.forward(column);
        for (int j = 0; j < n; ++j) {
            p[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * stride] = column[j];
        }
    }
    for (int j = 0; j < n; ++j) {
        m_dct.forward(p + static_cast<std::size_t>(j) * stride);
    }
    // Divide by the eigenvalues; the constant mode carries the free mean, set
    // to zero.
    for (int l = 0; l < n; ++l) {
        for (int k = 0; k < n; ++k) {
            double &value = p[static_cast<std::size_t>(k) + static_cast<std::size_t>(l) * stride];
            if (k == 0 && l == 0) {
                value = 0.0;
            } else {
                value = value / (m_eigen[static_cast<std::size_t>(k)] +
                                 m_eigen[static_cast<std::size_t>(l)]);
            }
        }
    }
    for (int j = 0; j < n; ++j) {
        m_dct.inverse(p + static_cast<std::size_t>(j) * stride);
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            column[j] = p[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * stride];
        }
        m_dct.inverse(column);
        for (int j = 0; j < n; ++j) {
            p[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * stride] = column[j];
        }
    }
}

} // namespace velloran
