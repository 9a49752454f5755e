// Running GetDP.
#pragma once

#include <nimbo/solve/Solve.h>

#include <string>
#include <vector>

namespace nimbo::detail {

/// Throws nimbo_exception saying how to install GetDP unless `getdp` names a program that can run
/// (found on PATH when it has no folder): checked before meshing, which may take minutes.
void findGetdp(const std::string &getdp);

/// Runs GetDP with the arguments in `folder`, through the solver's environment (prepared once per
/// process). Throws nimbo_exception with GetDP's own message when it fails, one line saying how to
/// install it when it is missing, and when `progress` is stopped or its time runs out (GetDP is
/// then ended).
void runGetdp(const std::vector<std::string> &arguments, const std::string &folder, const SolveOptions &options,
              const Message_ProgressRange &progress);

}  // namespace nimbo::detail
