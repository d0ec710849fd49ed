#pragma once

// The target set the schemes are judged on: sources and targets drawn at any
// size, so one definition serves 128, 256 and 512. Shapes are white on black
// (density 1 inside); letters and the word use DejaVu Sans Bold.

#include "grid.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <vector>

namespace fidelity {

struct Shape {
    QString name;
    bool compact = true; // one connected blob of smoke (noise is not)
};

// Every shape the set knows, sources and targets alike.
std::vector<Shape> shapes();

// The shape drawn at n x n pixels (Format_RGB32, white on black); a name
// ending in .png is read from that file and scaled to n x n.
QImage drawShape(const QString &name, int n);

// Pairs of the fidelity table, "source->target", optionally with a keyframe:
// "source->target|next@step" (a cut) or "...@step/blend" (blended in), and
// optionally with obstacles: "source->target#obstacles" (a shape drawn like
// the others, solid where it is white).
struct Pair {
    QString source;
    QString target;
    QString next;           // the keyframe's target, empty for none
    int step = 0;           // first step computed with it
    int blend = 0;          // steps it is blended in over (0 cuts)
    QString obstacles = {}; // empty for none
    QString label() const {
        QString text = source + QStringLiteral("->") + target;
        if (!obstacles.isEmpty()) {
            text += QStringLiteral("#") + obstacles;
        }
        if (!next.isEmpty()) {
            text += QStringLiteral("|%1@%2").arg(next).arg(step);
            if (blend > 0) {
                text += QStringLiteral("/%1").arg(blend);
            }
        }
        return text;
    }
};
std::vector<Pair> pairs();

// The pairs of `labels` (all of pairs() when empty): a label of the set, or
// one read as source->target[|next@step[/blend]] (names of image files).
std::vector<Pair> pairsToRun(const QStringList &labels);

} // namespace fidelity
