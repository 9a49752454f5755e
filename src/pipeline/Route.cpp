// The route from parts to a mesh, with its last resort: healing with wider tolerances.
#include <nimbo/pipeline/Pipeline.h>

#include "Prepare.h"

#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <Message_ProgressScope.hxx>
#include <Standard_Failure.hxx>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>

namespace nimbo {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// What Gmsh could not mesh may mesh once the parts are healed with ten times the tolerances.
constexpr double widening = 10.0;

// The failure as the user reads it, with the dump it left.
std::string messageOf(const std::exception_ptr &failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const nimbo_exception &error) {
    const std::string &dump = error.dump_path();
    std::string text = error.what();
    while (!dump.empty() && !text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return dump.empty() ? text : text + "; dump " + dump;
  } catch (const Standard_Failure &error) {
    return kernelFailureText(error);
  }
}

std::string figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

}  // namespace

Routed meshParts(const std::vector<Part> &parts, const std::string &output, const RouteOptions &options,
                 const SurfacesOf &surfacesOf, const Message_ProgressRange &progress) {
  // Face numbers hold for one imprint only, and the last resort makes another.
  if (!surfacesOf && !options.mesh.surfaces.empty()) {
    throw nimbo_exception("meshParts: give surface groups through surfacesOf, which is asked on every imprint");
  }
  Message_ProgressScope scope(progress, "Meshing", 10);
  Routed result;
  auto started = Clock::now();
  result.prepared = detail::prepare(parts, options, 1.0, scope.Next(3));
  MeshOptions mesh = options.mesh;
  if (surfacesOf) mesh.surfaces = surfacesOf(result.prepared);
  result.imprintSeconds = secondsSince(started);
  started = Clock::now();
  std::exception_ptr first;
  try {
    result.summary = meshAssembly(result.prepared.imprint, output, mesh, scope.Next(4));
  } catch (const input_error &) {
    throw;  // what was asked for, which healing cannot change
  } catch (const nimbo_exception &) {
    first = std::current_exception();
  } catch (const Standard_Failure &) {
    first = std::current_exception();
  }
  // A stop asked for is not a failure to work around.
  if (first && scope.UserBreak()) std::rethrow_exception(first);
  if (first) {
    try {
      Prepared healed = detail::prepare(parts, options, widening, scope.Next(1));
      // Healed parts that even wide tolerances leave as they were mesh as they failed.
      const std::vector<PartHealing> &report = healed.healing->report;
      const bool unchanged = options.heal && std::all_of(report.begin(), report.end(), [](const PartHealing &part) {
                               return part.steps.empty();
                             });
      if (unchanged) std::rethrow_exception(first);
      if (surfacesOf) mesh.surfaces = surfacesOf(healed);
      result.summary = meshAssembly(healed.imprint, output, mesh, scope.Next(2));
      result.summary.retries.push_back("healed with tolerances of " + figure(0.01 * healed.healing->size) +
                                       " mm after: " + messageOf(first));
      result.prepared = std::move(healed);
    } catch (const nimbo_exception &) {
      std::rethrow_exception(first);
    } catch (const Standard_Failure &) {
      std::rethrow_exception(first);
    }
  }
  result.meshSeconds = secondsSince(started);
  return result;
}

}  // namespace nimbo
