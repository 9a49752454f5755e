// GetDP as a solver of studies: the nodal conduction problems (heat, electrostatics, electric
// current), written as a readable .pro file and solved by GetDP as a child process.
#pragma once

#include "../Solver.h"

namespace nimbo::detail {

/// GetDP, for the physics it solves.
const Solver &getdpSolver();

}  // namespace nimbo::detail
