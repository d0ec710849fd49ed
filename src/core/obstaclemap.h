#pragma once

// The open cells and faces of a run with obstacles (shapes: lattice.h).
//
// A cell is solid where the N x N obstacle grid holds more than one half.
// A face is open when it joins two open interior cells; the faces between a
// solid cell and any other cell are closed like the domain's walls: they
// carry no flow and no smoke. The open cells fall into connected regions
// (through open faces); smoke cannot pass from one region to another.
// Internal to the core.

#include "grid.h"
#include "lattice.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

namespace velloran {

// True where an obstacle grid's value makes a cell solid.
inline bool isSolidValue(double value) {
    return value > 0.5;
}

struct ObstacleMap {
    // solid: N x N, only read.
    ObstacleMap(const Lattice &lattice, const Grid &solid);

    bool isOpen(std::uint32_t i, std::uint32_t j) const { return m_region[index(i, j)] >= 0; }
    // Offset of cell (i, j) in a framed cell grid, and in m_region.
    std::size_t index(std::uint32_t i, std::uint32_t j) const {
        return i + static_cast<std::size_t>(j) * m_lattice.cellSide;
    }

    // Sets the closed faces of u and v (not the domain's walls) to 0.
    void closeFaces(Grid &u, Grid &v) const;
    // The same for one face grid of either kind.
    void closeXFaces(Grid &u) const;
    void closeYFaces(Grid &v) const;

    // Moves the smoke of every solid cell into the open cell nearest to it
    // (steps through solid cells, ties to the cell met first) so that no
    // smoke is lost; solid cells are left empty.
    void moveOutOfSolids(Grid &density) const;
    // Zeroes the solid cells of a framed cell grid.
    void clearSolids(Grid &cells) const;

    // Per region, the sum of a framed cell grid's values over its cells,
    // columns outer and rows inner.
    std::vector<double> regionSums(const Grid &cells) const;

    Lattice m_lattice;
    std::unique_ptr<Grid> m_solid; // framed cells: 1 solid, 0 open
    std::vector<int> m_region;     // per framed cell: its open region, -1 solid or frame
    int m_regions = 0;
    std::vector<std::size_t> m_nearestOpen; // per framed cell: where a solid cell's smoke goes
    std::vector<std::size_t> m_closedU;     // offsets of the closed interior x-faces
    std::vector<std::size_t> m_closedV;     // and y-faces

private:
    void labelRegions();
    void findNearestOpen();
    void listClosedFaces();
    template <class Visit> void walk(std::deque<std::size_t> &queue, Visit visit) const;
};

} // namespace velloran
