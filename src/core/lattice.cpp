#include "lattice.h"

#include "check.h"

namespace velloran {

std::unique_ptr<Grid> makeGrid(Shape shape) {
    return std::make_unique<Grid>(shape.rows, shape.cols);
}

void requireShape(const Grid &grid, Shape shape) {
    VELLORAN_CHECK(grid.NumRows() == shape.rows);
    VELLORAN_CHECK(grid.NumCols() == shape.cols);
    if (shape.rows > 0 && shape.cols > 0) {
        (void)grid(shape.cols - 1, shape.rows - 1);
    }
}

void fillBoundary(int kind, Grid &grid) {
    const std::uint32_t rows = grid.NumRows();
    const std::uint32_t cols = grid.NumCols();

    // Lower and upper edges: a y-component flips sign across them, the rest copy.
    if (cols >= 3) {
        for (std::uint32_t i = 1; i <= cols - 2; ++i) {
            if (kind == kYFace) {
                grid(i, 0) = -grid(i, 1);
                grid(i, rows - 1) = -grid(i, rows - 2);
            } else {
                grid(i, 0) = grid(i, 1);
                grid(i, rows - 1) = grid(i, rows - 2);
            }
        }
    }
    // Left and right edges: an x-component flips sign across them, the rest copy.
    if (rows >= 3) {
        for (std::uint32_t j = 1; j <= rows - 2; ++j) {
            if (kind == kXFace) {
                grid(0, j) = -grid(1, j);
                grid(cols - 1, j) = -grid(cols - 2, j);
            } else {
                grid(0, j) = grid(1, j);
                grid(cols - 1, j) = grid(cols - 2, j);
            }
        }
    }
    // Corners: the mean of the two edge entries next to each.
    grid(0, 0) = 0.5 * (grid(0, 1) + grid(1, 0));
    grid(cols - 1, 0) = 0.5 * (grid(cols - 2, 0) + grid(cols - 1, 1));
    grid(0, rows - 1) = 0.5 * (grid(0, rows - 2) + grid(1, rows - 1));
    grid(cols - 1, rows - 1) = 0.5 * (grid(cols - 2, rows - 1) + grid(cols - 1, rows - 2));
}

void copyIntoFrame(const Grid &input, Grid &framed) {
    VELLORAN_CHECK(framed.NumRows() == input.NumRows() + 2);
    VELLORAN_CHECK(framed.NumCols() == input.NumCols() + 2);
    for (std::uint32_t k = 0; k < input.NumCols(); ++k) {
        for (std::uint32_t l = 0; l < input.NumRows(); ++l) {
            framed(k + 1, l + 1) = input(k, l);
        }
    }
}

double interiorSum(const Grid &cells) {
    const std::uint32_t last = cells.NumCols() - 1;
    double sum = 0.0;
    for (std::uint32_t i = 1; i < last; ++i) {
        for (std::uint32_t j = 1; j < last; ++j) {
            sum += cells(i, j);
        }
    }
    return sum;
}

void equaliseMass(Grid &density, Grid &target) {
    const std::uint32_t last = density.NumCols() - 1;
    const double densitySum = interiorSum(density);
    const double targetSum = interiorSum(target);

    if (targetSum > densitySum) {
        for (std::uint32_t i = 1; i < last; ++i) {
            for (std::uint32_t j = 1; j < last; ++j) {
                target(i, j) = target(i, j) * densitySum / targetSum;
            }
        }
    } else {
        // Black source and black target: 0 / 0 would fill the density with
        // NaN. Both are zero already, so there is nothing to equalise.
        if (densitySum == 0.0 && targetSum == 0.0) {
            return;
        }
        for (std::uint32_t i = 1; i < last; ++i) {
            for (std::uint32_t j = 1; j < last; ++j) {
                density(i, j) = density(i, j) * targetSum / densitySum;
            }
        }
    }
}

void scaleInteriorTo(Grid &cells, double mass) {
    const double sum = interiorSum(cells);
    if (sum == 0.0 || sum == mass) {
        return;
    }
    const std::uint32_t last = cells.NumCols() - 1;
    for (std::uint32_t i = 1; i < last; ++i) {
        for (std::uint32_t j = 1; j < last; ++j) {
            cells(i, j) = cells(i, j) * mass / sum;
        }
    }
}

void retarget(const Grid &input, const Grid &density, Grid &target) {
    copyIntoFrame(input, target);
    const std::uint32_t last = target.NumCols() - 1;
    // The sums run over columns, rows inner, like the equalisation at
    // construction (the order fixes their rounding).
    const double densitySum = interiorSum(density);
    const double targetSum = interiorSum(target);
    if (targetSum != 0.0) {
        for (std::uint32_t i = 1; i < last; ++i) {
            for (std::uint32_t j = 1; j < last; ++j) {
                target(i, j) = target(i, j) * densitySum / targetSum;
            }
        }
    }
}

} // namespace velloran
