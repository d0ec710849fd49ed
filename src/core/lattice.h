#pragma once

// The solver's lattice, stated once for the fast solver and the reference.
//
// For N x N input images the domain is the unit square with cell size h = 1/N.
// Every grid carries a frame of one ghost entry around its interior. Shapes
// are rows x columns; entry (i, j) is column i (x), row j (y):
//
//   cell-centred grids  (N+2) x (N+2)  entry (i, j) = centre of cell (i, j);
//                                      interior columns 1..N, rows 1..N
//   x-components        (N+2) x (N+3)  entry (i, j) = face between cells
//                                      (i-1, j) and (i, j); interior columns
//                                      1..N+1 (1 and N+1 are the walls), rows 1..N
//   y-components        (N+3) x (N+2)  entry (i, j) = face between cells
//                                      (i, j-1) and (i, j); interior columns
//                                      1..N, rows 1..N+1 (1 and N+1 are the walls)
//
// Only fillBoundary writes a frame (the literal density advection aside,
// which zeroes its border). Interior cell (i, j) holds input element
// (i - 1, j - 1).

#include "grid.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velloran {

// Kinds of boundary fill: a scalar is copied across every side; an
// x-component is mirrored with flipped sign across the left and right sides;
// a y-component across the lower and upper sides.
enum BoundaryKind : int { kScalar = 0, kXFace = 1, kYFace = 2 };

struct Shape {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
};

// The sizes of one lattice, from which every loop bound and stride is taken.
struct Lattice {
    explicit Lattice(std::uint32_t side)
        : n(side)
        , wall(side + 1)
        , cellSide(side + 2)
        , faceSide(side + 3) {}
    // The lattice a cell-centred grid belongs to.
    static Lattice of(const Grid &cellGrid) { return Lattice(cellGrid.NumCols() - 2); }

    Shape cells() const { return {cellSide, cellSide}; }
    Shape xFaces() const { return {cellSide, faceSide}; }
    Shape yFaces() const { return {faceSide, cellSide}; }
    Shape corners() const { return {faceSide, faceSide}; } // the cells' corners

    std::uint32_t n;        // interior cells per side
    std::uint32_t wall;     // n + 1: the far wall face, the far frame line of a cell grid
    std::uint32_t cellSide; // n + 2: entries per side of a cell-centred grid
    std::uint32_t faceSide; // n + 3: entries across the faces of a face grid
};

std::unique_ptr<Grid> makeGrid(Shape shape);

// The fast loops walk raw rows; before they do, each grid is proved to have
// the shape the lattice gives it, and its last entry is proved in range with
// the accessors' own checks.
void requireShape(const Grid &grid, Shape shape);

inline double *rowOf(Grid &grid, std::uint32_t j) {
    return grid.data() + static_cast<std::size_t>(j) * grid.NumCols();
}
inline const double *rowOf(const Grid &grid, std::uint32_t j) {
    return grid.data() + static_cast<std::size_t>(j) * grid.NumCols();
}

// Overwrites the frame of one grid from the entries next to it.
void fillBoundary(int kind, Grid &grid);

// Copies an N x N input grid into the interior of a framed cell grid.
void copyIntoFrame(const Grid &input, Grid &framed);

// Scales the heavier of density and target down so that both interior sums
// agree; the smoke can then form the target without surplus or shortage.
void equaliseMass(Grid &density, Grid &target);

// Scales a cell grid's interior to the given sum; an empty one stays empty.
void scaleInteriorTo(Grid &cells, double mass);

// A new N x N target in place of the old, scaled to the mass the density has
// now (the density is left alone); a target without smoke stays empty.
void retarget(const Grid &input, const Grid &density, Grid &target);

// Sum of a cell grid's interior, columns outer and rows inner.
double interiorSum(const Grid &cells);

} // namespace velloran
