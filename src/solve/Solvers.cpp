// Which solver solves which physics: the one entry a new solver adds.
#include "Solver.h"

#include "calculix/Calculix.h"
#include "getdp/Getdp.h"

namespace nimbo::detail {

const Solver &solverFor(Physics physics) {
  switch (physics) {
    case Physics::heat:
    case Physics::electrostatic:
    case Physics::current:
      return getdpSolver();
    case Physics::elasticity:
    case Physics::modal:
      return calculixSolver();
  }
  return getdpSolver();
}

}  // namespace nimbo::detail
