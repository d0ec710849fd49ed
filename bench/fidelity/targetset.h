#pragma once

// The target set the schemes are judged on: sources and targets drawn at any
// size, so one definition serves 128, 256 and 512. Shapes are white on black
// (density 1 inside); letters and the word use DejaVu Sans Bold.

#include "grid.h"

#include <QImage>
#include <QString>

#include <vector>

namespace fidelity {

struct Shape {
    QString name;
    bool compact = true; // one connected blob of smoke (noise is not)
};

// Every shape the set knows, sources and targets alike.
std::vector<Shape> shapes();

// The shape drawn at n x n pixels (Format_RGB32, white on black).
QImage drawShape(const QString &name, int n);

// Pairs of the fidelity table, "source->target".
struct Pair {
    QString source;
    QString target;
    QString label() const { return source + QStringLiteral("->") + target; }
};
std::vector<Pair> pairs();

} // namespace fidelity
