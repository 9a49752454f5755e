// Which solver solves which physics: the one entry a new solver adds.
#include "Solver.h"

#include "getdp/Getdp.h"

namespace nimbo::detail {

const Solver &solverFor(Physics physics) {
  switch (physics) {
    case Physics::heat:
    case Physics::electrostatic:
    case Physics::current:
      return getdpSolver();
  }
  return getdpSolver();
}

}  // namespace nimbo::detail
