#pragma once

// The run's obstacles drawn over the smoke, in either view mode: each solid
// cell a translucent quad of one tint, so the walls read as walls whatever the
// density or the velocity beneath them shows.

#include "grid.h"

#include <vector>

class ObstacleOverlay {
public:
    // Translucent steel blue: no grey level of the density looks like it,
    // and the velocity's segments stay visible through it.
    static constexpr float kTint[4] = {0.30f, 0.55f, 0.95f, 0.55f};

    // The solid cells (value > 0.5) of a framed (N + 2) x (N + 2) mask; null
    // or an empty grid: none.
    void setMask(const Grid *mask);
    bool empty() const { return m_vertices.empty(); }
    // Number of solid cells drawn.
    std::size_t cellCount() const { return m_vertices.size() / 12; }

    // Draws in the view's unit-square coordinates, blended over what is there.
    void draw() const;

private:
    std::vector<float> m_vertices; // x, y of two triangles per solid cell
};
