#pragma once

// The flow every smoke field of a run is carried by: the face velocities,
// their scratch, the pressure and the velocities at the cell centres (shapes:
// lattice.h). The schemes' steps move it; centreVelocity is common to them.

#include "grid.h"
#include "lattice.h"
#include "obstaclemap.h"

#include <memory>

namespace velloran {

class Stepping;

struct Flow {
    explicit Flow(const Lattice &lattice);

    // The centred velocities from the faces: the mean of the two faces of each
    // cell along the component's axis.
    void centreVelocity(Stepping &stepping);

    std::unique_ptr<Grid> m_u;        // x-velocity on vertical faces
    std::unique_ptr<Grid> m_v;        // y-velocity on horizontal faces
    std::unique_ptr<Grid> m_uTmp;     // scratch, x-faces
    std::unique_ptr<Grid> m_vTmp;     // scratch, y-faces
    std::unique_ptr<Grid> m_pressure; // pressure potential, cell-centred
    std::unique_ptr<Grid> m_uCentre;  // x-velocity at cell centres
    std::unique_ptr<Grid> m_vCentre;  // y-velocity at cell centres
    // The solid cells and closed faces; none in a run without obstacles.
    std::unique_ptr<ObstacleMap> m_obstacles;
};

} // namespace velloran
