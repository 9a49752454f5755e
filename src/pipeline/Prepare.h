// What the two halves of the route share.
#pragma once

#include <nimbo/pipeline/Pipeline.h>

namespace nimbo::detail {

/// The parts healed (when asked, or when `widen` widens healing's tolerances) and imprinted.
Prepared prepare(const std::vector<Part> &parts, const RouteOptions &options, double widen,
                 const Message_ProgressRange &progress);

}  // namespace nimbo::detail
