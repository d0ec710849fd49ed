#pragma once

// NumPy .npy files (format version 1.0) holding one grid as float64.
//
// Array shape (rows, cols) in C order, dtype '<f8', element [j][i] = grid(i, j):
// the grid's own row-by-row storage, so numpy.load gives a[j, i] with row 0 at
// the bottom of the picture.

#include "grid.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace velloran {

// The complete file contents for a grid.
QByteArray npyBytes(const Grid &grid);

// Writes the file through a temporary that replaces `path` only when complete.
bool writeNpy(const QString &path, const Grid &grid, QString *error);

// Reads what writeNpy writes (float64 little-endian, C order, 2-D); anything
// else gives nothing.
std::optional<Grid> parseNpy(const QByteArray &bytes);

} // namespace velloran
