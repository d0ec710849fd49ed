#include "obstaclepoisson.h"

#include "check.h"
#include "obstaclemap.h"

// The factorisation only; the solves below are the project's own loops. No
// packet code, so the factor has the same bits on every processor.
#define EIGEN_MPL2_ONLY
#define EIGEN_DONT_VECTORIZE
#define EIGEN_DONT_PARALLELIZE
// Debian keeps the headers under eigen3/; the build names that folder, a
// plain compiler line does not.
#if __has_include(<Eigen/SparseCholesky>)
#include <Eigen/OrderingMethods>
#include <Eigen/SparseCholesky>
#else
#include <eigen3/Eigen/OrderingMethods>
#include <eigen3/Eigen/SparseCholesky>
#endif

#include <algorithm>

namespace velloran {

namespace {

struct Box {
    std::uint32_t i0, j0, i1, j1; // places [i0, i1) x [j0, j1), 0-based
};

// Appends the unknown nodes of the box's places in nested dissection order:
// the two halves on either side of the middle line across its longer side,
// each dissected in turn, then the line itself. The minimum degree ordering
// breaks its ties by this numbering: its factor then holds about 10 % fewer
// entries than from cells numbered row by row. (Factorised in this order
// itself, the factor held 25 to 30 % more entries than the minimum degree
// order's and a solve took twice as long, even with the independent halves
// swept on two threads.)
void dissect(const Box &box, const NeumannGraph &graph, const std::vector<bool> &isUnknown,
             std::vector<int> &order) {
    const std::uint32_t width = box.i1 - box.i0;
    const std::uint32_t height = box.j1 - box.j0;
    const auto append = [&](const Box &part) {
        for (std::uint32_t j = part.j0; j < part.j1; ++j) {
            for (std::uint32_t i = part.i0; i < part.i1; ++i) {
                const std::size_t place = i + static_cast<std::size_t>(j) * graph.side;
                for (int node = graph.placeStart[place]; node < graph.placeStart[place + 1];
                     ++node) {
                    if (isUnknown[static_cast<std::size_t>(node)]) {
                        order.push_back(node);
                    }
                }
            }
        }
    };
    if (width * height <= 16 || width < 3 || height < 3) {
        append(box);
        return;
    }
    if (width >= height) {
        const std::uint32_t middle = box.i0 + width / 2;
        dissect({box.i0, box.j0, middle, box.j1}, graph, isUnknown, order);
        dissect({middle + 1, box.j0, box.i1, box.j1}, graph, isUnknown, order);
        append({middle, box.j0, middle + 1, box.j1});
    } else {
        const std::uint32_t middle = box.j0 + height / 2;
        dissect({box.i0, box.j0, box.i1, middle}, graph, isUnknown, order);
        dissect({box.i0, middle + 1, box.i1, box.j1}, graph, isUnknown, order);
        append({box.i0, middle, box.i1, middle + 1});
    }
}

using Matrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

// Minus the weighted Laplacian on the unknowns (nodeOf: the node of each):
// each edge adds its weight to both ends' diagonals and minus it off the
// diagonal between two unknowns (a pinned end only to the other's diagonal).
Matrix negativeLaplacian(const NeumannGraph &graph, const std::vector<int> &nodeOf) {
    std::vector<int> unknown(graph.region.size(), -1);
    for (std::size_t k = 0; k < nodeOf.size(); ++k) {
        unknown[static_cast<std::size_t>(nodeOf[k])] = static_cast<int>(k);
    }
    const int size = static_cast<int>(nodeOf.size());
    std::vector<double> diagonal(nodeOf.size(), 0.0);
    std::vector<Eigen::Triplet<double, int>> entries;
    entries.reserve(graph.edges.size() * 2 + nodeOf.size());
    for (const NeumannGraph::Edge &edge : graph.edges) {
        const int a = unknown[static_cast<std::size_t>(edge.a)];
        const int b = unknown[static_cast<std::size_t>(edge.b)];
        if (a >= 0) {
            diagonal[static_cast<std::size_t>(a)] += edge.weight;
        }
        if (b >= 0) {
            diagonal[static_cast<std::size_t>(b)] += edge.weight;
        }
        if (a >= 0 && b >= 0) {
            entries.emplace_back(a, b, -edge.weight);
            entries.emplace_back(b, a, -edge.weight);
        }
    }
    for (int k = 0; k < size; ++k) {
        entries.emplace_back(k, k, diagonal[static_cast<std::size_t>(k)]);
    }
    Matrix matrix(size, size);
    matrix.setFromTriplets(entries.begin(), entries.end());
    return matrix;
}

// The open cells as a graph: a node per interior cell (row by row), an edge
// per open face.
NeumannGraph cellGraph(const ObstacleMap &obstacles) {
    const std::uint32_t n = obstacles.m_lattice.n;
    NeumannGraph graph;
    graph.side = n;
    graph.regions = obstacles.m_regions;
    const std::size_t cells = static_cast<std::size_t>(n) * n;
    graph.placeStart.resize(cells + 1);
    graph.region.resize(cells);
    graph.size.assign(cells, 1.0);
    for (std::size_t cell = 0; cell <= cells; ++cell) {
        graph.placeStart[cell] = static_cast<int>(cell);
    }
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            const int cell = static_cast<int>((i - 1) + static_cast<std::size_t>(j - 1) * n);
            graph.region[static_cast<std::size_t>(cell)] =
                obstacles.m_region[obstacles.index(i, j)];
            if (!obstacles.isOpen(i, j)) {
                continue;
            }
            if (i < n && obstacles.isOpen(i + 1, j)) {
                graph.edges.push_back({cell, cell + 1, 1.0});
            }
            if (j < n && obstacles.isOpen(i, j + 1)) {
                graph.edges.push_back({cell, cell + static_cast<int>(n), 1.0});
            }
        }
    }
    return graph;
}

} // namespace

// The nodes' regions and sizes, the order of the regions' sums; the
// unknowns: the nodes of the regions less the first of each, whose p is held
// at 0, as each region's Neumann problem fixes p only up to a constant;
// numbered in nested dissection order (see dissect).
std::vector<int> ObstaclePoisson::numberNodes(const NeumannGraph &graph) {
    const std::size_t nodes = graph.region.size();
    m_region = graph.region;
    m_size = graph.size;
    m_sizeOf.assign(static_cast<std::size_t>(graph.regions), 0.0);
    m_rhsSum.assign(m_sizeOf.size(), 0.0);
    m_sumOrder.clear();
    for (std::uint32_t i = 0; i < graph.side; ++i) {
        for (std::uint32_t j = 0; j < graph.side; ++j) {
            const std::size_t place = i + static_cast<std::size_t>(j) * graph.side;
            for (int node = graph.placeStart[place]; node < graph.placeStart[place + 1]; ++node) {
                m_sumOrder.push_back(node);
            }
        }
    }
    std::vector<bool> isUnknown(nodes, false);
    std::vector<bool> regionSeen(m_sizeOf.size(), false);
    for (std::size_t node = 0; node < nodes; ++node) {
        const int region = m_region[node];
        if (region < 0) {
            continue;
        }
        m_sizeOf[static_cast<std::size_t>(region)] += m_size[node];
        isUnknown[node] = regionSeen[static_cast<std::size_t>(region)];
        regionSeen[static_cast<std::size_t>(region)] = true;
    }
    std::vector<int> nodeOf;
    dissect({0, 0, graph.side, graph.side}, graph, isUnknown, nodeOf);
    return nodeOf;
}

ObstaclePoisson::ObstaclePoisson(const ObstacleMap &obstacles)
    : ObstaclePoisson(cellGraph(obstacles)) {}

ObstaclePoisson::ObstaclePoisson(const NeumannGraph &graph) {
    const std::vector<int> nodeOf = numberNodes(graph);
    const int size = static_cast<int>(nodeOf.size());
    const Matrix matrix = negativeLaplacian(graph, nodeOf);

    Eigen::SimplicialLDLT<Matrix, Eigen::Lower, Eigen::AMDOrdering<int>> factor(matrix);
    VELLORAN_CHECK(factor.info() == Eigen::Success);

    // The factor in the permuted order: unknown k of the factor is the
    // original unknown perm^-1(k).
    const auto &permutation = factor.permutationP().indices();
    m_unknownNode.assign(nodeOf.size(), 0);
    for (int k = 0; k < size; ++k) {
        m_unknownNode[static_cast<std::size_t>(permutation[k])] =
            nodeOf[static_cast<std::size_t>(k)];
    }
    const Matrix lower = factor.matrixL();
    m_columnStart.assign(static_cast<std::size_t>(size) + 1, 0);
    for (int column = 0; column < size; ++column) {
        for (Matrix::InnerIterator it(lower, column); it; ++it) {
            if (it.row() > column) {
                m_row.push_back(static_cast<int>(it.row()));
                m_value.push_back(it.value());
            }
        }
        m_columnStart[static_cast<std::size_t>(column) + 1] = static_cast<int>(m_row.size());
    }
    const auto &diagonal = factor.vectorD();
    m_diagonal.assign(diagonal.data(), diagonal.data() + size);
    m_work.assign(nodeOf.size(), 0.0);
}

void ObstaclePoisson::solve(const double *r, double *p) {
    std::fill(m_rhsSum.begin(), m_rhsSum.end(), 0.0);
    for (const int node : m_sumOrder) {
        const int region = m_region[static_cast<std::size_t>(node)];
        if (region >= 0) {
            m_rhsSum[static_cast<std::size_t>(region)] += r[node];
        }
    }
    // A x = b with A minus the Laplacian: b = size mean - r.
    double *x = m_work.data();
    const std::size_t size = m_work.size();
    for (std::size_t k = 0; k < size; ++k) {
        const auto node = static_cast<std::size_t>(m_unknownNode[k]);
        const auto region = static_cast<std::size_t>(m_region[node]);
        x[k] = m_rhsSum[region] / m_sizeOf[region] * m_size[node] - r[node];
    }
    // L y = b, column by column.
    const int *start = m_columnStart.data();
    const int *row = m_row.data();
    const double *value = m_value.data();
    for (std::size_t column = 0; column < size; ++column) {
        const double xc = x[column];
        for (int e = start[column]; e < start[column + 1]; ++e) {
            x[row[e]] = x[row[e]] - value[e] * xc;
        }
    }
    for (std::size_t k = 0; k < size; ++k) {
        x[k] = x[k] / m_diagonal[k];
    }
    // L^T x = z, from the last column back.
    for (std::size_t column = size; column-- > 0;) {
        double sum = x[column];
        for (int e = start[column]; e < start[column + 1]; ++e) {
            sum = sum - value[e] * x[row[e]];
        }
        x[column] = sum;
    }
    for (std::size_t node = 0; node < m_region.size(); ++node) {
        p[node] = 0.0;
    }
    for (std::size_t k = 0; k < size; ++k) {
        p[m_unknownNode[k]] = x[k];
    }
}

} // namespace velloran
