// Running GetDP.
#pragma once

#include <nimbo/solve/Solve.h>

#include <string>
#include <vector>

namespace nimbo::detail {

/// The absolute path of the GetDP program `getdp` names (searched on PATH when it has no folder).
/// Throws nimbo_exception saying how to install GetDP when there is none that can run: asked
/// before meshing, which may take minutes.
std::string findGetdp(const std::string &getdp);

/// Runs the GetDP program at `getdp` with the arguments in `folder`, through the solver's environment (prepared once per
/// process). Throws nimbo_exception with GetDP's own message when it fails, one line saying how to
/// install it when it is missing, and when `progress` is stopped or its time runs out (GetDP is
/// then ended).
void runGetdp(const std::string &getdp, const std::vector<std::string> &arguments, const std::string &folder,
              const SolveOptions &options, const Message_ProgressRange &progress);

}  // namespace nimbo::detail
