#include "obstaclemap.h"

#include "check.h"

#include <deque>

namespace velloran {

ObstacleMap::ObstacleMap(const Lattice &lattice, const Grid &solid)
    : m_lattice(lattice)
    , m_solid(makeGrid(lattice.cells())) {
    const std::uint32_t n = lattice.n;
    VELLORAN_CHECK(solid.NumRows() == n && solid.NumCols() == n);
    Grid &mask = *m_solid;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            mask(i, j) = isSolidValue(solid(i - 1, j - 1)) ? 1.0 : 0.0;
        }
    }
    fillBoundary(kScalar, mask);
    labelRegions();
    findNearestOpen();
    listClosedFaces();
}

// Walks breadth first from the cells in the queue to their interior
// neighbours; visit(from, to) says whether `to` joins the walk.
template <class Visit> void ObstacleMap::walk(std::deque<std::size_t> &queue, Visit visit) const {
    const auto row = static_cast<std::ptrdiff_t>(m_lattice.cellSide);
    const std::ptrdiff_t offsets[4] = {-1, 1, -row, row};
    while (!queue.empty()) {
        const std::size_t at = queue.front();
        queue.pop_front();
        for (const std::ptrdiff_t offset : offsets) {
            const std::size_t next = at + offset;
            const auto i = static_cast<std::uint32_t>(next % m_lattice.cellSide);
            const auto j = static_cast<std::uint32_t>(next / m_lattice.cellSide);
            if (i >= 1 && i <= m_lattice.n && j >= 1 && j <= m_lattice.n && visit(at, next)) {
                queue.push_back(next);
            }
        }
    }
}

// Open regions: flood fills started in column order.
void ObstacleMap::labelRegions() {
    const std::uint32_t n = m_lattice.n;
    constexpr int kUnvisited = -2;
    m_region.assign(static_cast<std::size_t>(m_lattice.cellSide) * m_lattice.cellSide, -1);
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            if ((*m_solid)(i, j) == 0.0) {
                m_region[index(i, j)] = kUnvisited;
            }
        }
    }
    std::deque<std::size_t> queue;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            if (m_region[index(i, j)] != kUnvisited) {
                continue;
            }
            const int region = m_regions++;
            m_region[index(i, j)] = region;
            queue.push_back(index(i, j));
            walk(queue, [&](std::size_t, std::size_t next) {
                if (m_region[next] != kUnvisited) {
                    return false;
                }
                m_region[next] = region;
                return true;
            });
        }
    }
}

// Nearest open cell of every solid one: a walk from all open cells at once
// into the solid ones.
void ObstacleMap::findNearestOpen() {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    m_nearestOpen.assign(m_region.size(), kNone);
    std::deque<std::size_t> queue;
    for (std::uint32_t i = 1; i <= m_lattice.n; ++i) {
        for (std::uint32_t j = 1; j <= m_lattice.n; ++j) {
            if (isOpen(i, j)) {
                m_nearestOpen[index(i, j)] = index(i, j);
                queue.push_back(index(i, j));
            }
        }
    }
    walk(queue, [&](std::size_t at, std::size_t next) {
        if (m_nearestOpen[next] != kNone) {
            return false;
        }
        m_nearestOpen[next] = m_nearestOpen[at];
        return true;
    });
}

void ObstacleMap::listClosedFaces() {
    const std::uint32_t n = m_lattice.n;
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 2; i <= n; ++i) {
            if (!isOpen(i - 1, j) || !isOpen(i, j)) {
                m_closedU.push_back(i + static_cast<std::size_t>(j) * m_lattice.faceSide);
            }
        }
    }
    for (std::uint32_t j = 2; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            if (!isOpen(i, j - 1) || !isOpen(i, j)) {
                m_closedV.push_back(i + static_cast<std::size_t>(j) * m_lattice.cellSide);
            }
        }
    }
}

void ObstacleMap::closeXFaces(Grid &u) const {
    requireShape(u, m_lattice.xFaces());
    double *faces = u.data();
    for (const std::size_t face : m_closedU) {
        faces[face] = 0.0;
    }
}

void ObstacleMap::closeYFaces(Grid &v) const {
    requireShape(v, m_lattice.yFaces());
    double *faces = v.data();
    for (const std::size_t face : m_closedV) {
        faces[face] = 0.0;
    }
}

void ObstacleMap::closeFaces(Grid &u, Grid &v) const {
    closeXFaces(u);
    closeYFaces(v);
}

void ObstacleMap::moveOutOfSolids(Grid &density) const {
    requireShape(density, m_lattice.cells());
    VELLORAN_CHECK(m_regions > 0);
    double *cells = density.data();
    for (std::uint32_t i = 1; i <= m_lattice.n; ++i) {
        for (std::uint32_t j = 1; j <= m_lattice.n; ++j) {
            const std::size_t at = index(i, j);
            if (!isOpen(i, j) && cells[at] != 0.0) {
                cells[m_nearestOpen[at]] = cells[m_nearestOpen[at]] + cells[at];
                cells[at] = 0.0;
            }
        }
    }
    fillBoundary(kScalar, density);
}

void ObstacleMap::clearSolids(Grid &cells) const {
    requireShape(cells, m_lattice.cells());
    for (std::uint32_t i = 1; i <= m_lattice.n; ++i) {
        for (std::uint32_t j = 1; j <= m_lattice.n; ++j) {
            if (!isOpen(i, j)) {
                cells(i, j) = 0.0;
            }
        }
    }
    fillBoundary(kScalar, cells);
}

std::vector<double> ObstacleMap::regionSums(const Grid &cells) const {
    requireShape(cells, m_lattice.cells());
    std::vector<double> sums(static_cast<std::size_t>(m_regions), 0.0);
    for (std::uint32_t i = 1; i <= m_lattice.n; ++i) {
        for (std::uint32_t j = 1; j <= m_lattice.n; ++j) {
            const int region = m_region[index(i, j)];
            if (region >= 0) {
                sums[static_cast<std::size_t>(region)] += cells(i, j);
            }
        }
    }
    return sums;
}

} // namespace velloran
