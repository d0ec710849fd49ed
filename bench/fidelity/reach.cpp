#include "reach.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

namespace fidelity {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Exact squared Euclidean distance transform along one line (lower envelope
// of parabolas): f holds 0 on visible cells and infinity elsewhere, or the
// previous pass's squared distances.
void squaredDistanceLine(const std::vector<double> &f, std::vector<double> &out) {
    const int n = static_cast<int>(f.size());
    std::vector<int> vertex(static_cast<std::size_t>(n));
    std::vector<double> bound(static_cast<std::size_t>(n) + 1);
    int k = -1;
    for (int q = 0; q < n; ++q) {
        if (!std::isfinite(f[static_cast<std::size_t>(q)])) {
            continue;
        }
        double s = -kInfinity;
        while (k >= 0) {
            const int p = vertex[static_cast<std::size_t>(k)];
            s = ((f[static_cast<std::size_t>(q)] + q * q) -
                 (f[static_cast<std::size_t>(p)] + p * p)) /
                (2.0 * (q - p));
            if (s > bound[static_cast<std::size_t>(k)]) {
                break;
            }
            --k;
        }
        ++k;
        vertex[static_cast<std::size_t>(k)] = q;
        bound[static_cast<std::size_t>(k)] = k == 0 ? -kInfinity : s;
        bound[static_cast<std::size_t>(k) + 1] = kInfinity;
    }
    if (k < 0) {
        std::fill(out.begin(), out.end(), kInfinity);
        return;
    }
    int at = 0;
    for (int q = 0; q < n; ++q) {
        while (bound[static_cast<std::size_t>(at) + 1] < q) {
            ++at;
        }
        const int p = vertex[static_cast<std::size_t>(at)];
        out[static_cast<std::size_t>(q)] = (q - p) * (q - p) + f[static_cast<std::size_t>(p)];
    }
}

// Distance through open cells (solid: framed, non-zero where solid) from the
// cells where `distance` is 0: shortest paths of straight moves to the cells
// one step or a knight's move away (lengths 1, sqrt 2, sqrt 5), each only
// where the cells it passes over are open, so a path never slips through the
// corner of a wall. Where nothing is in the way it is within 3 % of the
// straight distance (moves to the eight neighbours alone overshoot by up to
// 8 %, which over a hundred cells would fail the check by themselves).
void geodesicDistance(std::vector<double> &distance, const Grid &solid, std::size_t n) {
    const auto open = [&](long i, long j) {
        return i >= 0 && j >= 0 && i < static_cast<long>(n) && j < static_cast<long>(n) &&
               solid(static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(j + 1)) == 0.0;
    };
    struct Move {
        long di, dj;
    };
    std::vector<Move> moves;
    for (long di = -2; di <= 2; ++di) {
        for (long dj = -2; dj <= 2; ++dj) {
            const long a = std::labs(di);
            const long b = std::labs(dj);
            if ((a == 0 && b == 0) || (a == 2 && b != 1) || (b == 2 && a != 1)) {
                continue;
            }
            moves.push_back({di, dj});
        }
    }
    // The cells a move passes over besides its ends: for a diagonal the two
    // beside it, for a knight's move the two next to its start along its
    // longer leg and across.
    const auto clear = [&](long i, long j, const Move &m) {
        const long si = m.di > 0 ? 1 : (m.di < 0 ? -1 : 0);
        const long sj = m.dj > 0 ? 1 : (m.dj < 0 ? -1 : 0);
        if (std::labs(m.di) == 2) {
            return open(i + si, j) && open(i + si, j + sj);
        }
        if (std::labs(m.dj) == 2) {
            return open(i, j + sj) && open(i + si, j + sj);
        }
        return si == 0 || sj == 0 || (open(i + si, j) && open(i, j + sj));
    };
    using Entry = std::pair<double, std::size_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (std::size_t k = 0; k < distance.size(); ++k) {
        if (distance[k] == 0.0) {
            queue.push({0.0, k});
        }
    }
    while (!queue.empty()) {
        const auto [d, k] = queue.top();
        queue.pop();
        if (d > distance[k]) {
            continue;
        }
        const long i = static_cast<long>(k % n);
        const long j = static_cast<long>(k / n);
        for (const Move &m : moves) {
            if (!open(i + m.di, j + m.dj) || !clear(i, j, m)) {
                continue;
            }
            const double next = d + std::sqrt(static_cast<double>(m.di * m.di + m.dj * m.dj));
            const std::size_t to =
                static_cast<std::size_t>(i + m.di) + static_cast<std::size_t>(j + m.dj) * n;
            if (next < distance[to]) {
                distance[to] = next;
                queue.push({next, to});
            }
        }
    }
}

} // namespace

double maxSpeed(const Solver &s) {
    const Grid &u = *s.m_uCentre;
    const Grid &v = *s.m_vCentre;
    const std::uint32_t n = u.NumCols() - 2;
    double largest = 0.0;
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            largest = std::max(largest, u(i, j) * u(i, j) + v(i, j) * v(i, j));
        }
    }
    return std::sqrt(largest);
}

void Reach::start(const Solver &s, int field) {
    m_field = field;
    const Grid &rho = s.smokeDensity(field);
    const Grid &target = s.smokeTarget(field);
    m_n = static_cast<int>(rho.NumCols()) - 2;
    const auto n = static_cast<std::size_t>(m_n);
    double peak = 0.0;
    double densest = 0.0;
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            peak = std::max(peak, target(i, j));
            densest = std::max(densest, rho(i, j));
        }
    }
    m_threshold = 0.1 * peak;
    // Smoke spread thinner than that (a large source for a small target) has
    // nothing visible yet; its own 10 % contour is where it starts from.
    const double startThreshold = std::min(m_threshold, 0.1 * densest);
    m_travelled = 0.0;
    m_distance.assign(n * n, kInfinity);
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            if (rho(i, j) >= startThreshold) {
                m_distance[(i - 1) + (j - 1) * n] = 0.0;
            }
        }
    }
    if (const Grid *solid = s.obstacles()) {
        geodesicDistance(m_distance, *solid, n);
        return;
    }
    std::vector<double> line(n);
    std::vector<double> out(n);
    for (std::size_t j = 0; j < n; ++j) {
        std::copy(m_distance.begin() + static_cast<std::ptrdiff_t>(j * n),
                  m_distance.begin() + static_cast<std::ptrdiff_t>(j * n + n), line.begin());
        squaredDistanceLine(line, out);
        std::copy(out.begin(), out.end(), m_distance.begin() + static_cast<std::ptrdiff_t>(j * n));
    }
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            line[j] = m_distance[i + j * n];
        }
        squaredDistanceLine(line, out);
        for (std::size_t j = 0; j < n; ++j) {
            m_distance[i + j * n] = std::sqrt(out[j]);
        }
    }
}

void Reach::afterStep(const Solver &s, double dt) {
    m_travelled += maxSpeed(s) * dt * m_n;
    const Grid &rho = s.smokeDensity(m_field);
    const auto n = static_cast<std::size_t>(m_n);
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            if (rho(i, j) >= m_threshold) {
                m_worst =
                    std::max(m_worst, m_distance[(i - 1) + (j - 1) * n] - (m_travelled + kSlack));
            }
        }
    }
}

} // namespace fidelity
