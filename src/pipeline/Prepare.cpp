// The parts healed when asked, then imprinted: the first half of the route, which imprint takes alone.
#include <nimbo/pipeline/Pipeline.h>

#include "Prepare.h"

#include <nimbo/nimbo_exception.h>

#include <Message_ProgressScope.hxx>

namespace nimbo {
namespace detail {

Prepared prepare(const std::vector<Part> &parts, const RouteOptions &options, double widen,
                 const Message_ProgressRange &progress) {
  const bool healing = options.heal || widen != 1.0;
  Message_ProgressScope scope(progress, "Imprinting", healing ? 2 : 1);
  Prepared result{parts, std::nullopt, {}};
  if (healing) {
    HealOptions heal;
    heal.size = options.mesh.size;
    heal.smallFraction *= widen;
    heal.gapFraction *= widen;
    result.healing = healParts(parts, heal, scope.Next());
    result.parts = result.healing->parts;
    std::size_t solids = 0;
    for (const PartHealing &part : result.healing->report) solids += part.solidsAfter;
    if (solids == 0) {
      throw input_error(
          "Nothing to imprint: no part holds a solid, and healing made none (the faces do not close; check names the "
          "free edges)");
    }
  }
  result.imprint = imprintAssembly(result.parts, options.imprint, scope.Next());
  return result;
}

}  // namespace detail

Prepared prepareParts(const std::vector<Part> &parts, const RouteOptions &options,
                      const Message_ProgressRange &progress) {
  return detail::prepare(parts, options, 1.0, progress);
}

}  // namespace nimbo
