// nimbo's route from parts to a mesh: healed for the element size when asked, imprinted with the
// glue chosen from how the parts meet, meshed with every retry Gmsh and healing offer. The tool, the
// Python module and studies all take it, so that one file gives one mesh whichever way it comes in.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/heal/Heal.h>
#include <nimbo/mesh/Mesh.h>

#include <Message_ProgressRange.hxx>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nimbo {

/// How the parts go from read to meshed.
struct RouteOptions {
  /// Heal the parts for the element size (mesh.size, else Gmsh's default) before they are imprinted.
  bool heal = false;
  ImprintOptions imprint;
  /// How to mesh; its size is also the one healing works for.
  MeshOptions mesh;
};

/// The parts as imprinted.
struct Prepared {
  std::vector<Part> parts;         ///< as given, or as healed: the parts the imprint numbers
  std::optional<Healing> healing;  ///< what healing did, when the parts were healed
  Imprint imprint;
};

/// Heals the parts when asked, then imprints them. Throws nimbo_exception when no part holds a solid
/// after healing (the faces do not close), and whatever healParts and imprintAssembly throw.
Prepared prepareParts(const std::vector<Part> &parts, const RouteOptions &options,
                      const Message_ProgressRange &progress = Message_ProgressRange());

/// The parts as meshed.
struct Routed {
  Prepared prepared;     ///< the imprint that was meshed
  MeshSummary summary;   ///< its retries include the healing with wider tolerances, when it came to that
  double imprintSeconds = 0.0;  ///< healing, imprint, and the caller's surfaces
  double meshSeconds = 0.0;     ///< every try of Gmsh, and the healing between
};

/// The surface groups to mesh on an imprint (a study's boundaries), asked of the caller once per
/// imprint before it is meshed: a refusal thrown here comes before any meshing.
using SurfacesOf = std::function<std::vector<SurfaceGroup>(const Prepared &)>;

/// Prepares the parts and meshes the imprint into `output`, with meshAssembly's own retries. When
/// those fail, heals the parts as given with ten times the tolerances (edges up to a hundredth of the
/// size merged, gaps up to a tenth closed), imprints and meshes again, and says so in the retries;
/// when that fails too, throws the first failure. Surface groups come from `surfacesOf` alone, which
/// names them on each imprint: options.mesh.surfaces must be empty. Built with Gmsh only, as
/// meshAssembly is.
Routed meshParts(const std::vector<Part> &parts, const std::string &output, const RouteOptions &options,
                 const SurfacesOf &surfacesOf = nullptr,
                 const Message_ProgressRange &progress = Message_ProgressRange());

}  // namespace nimbo
