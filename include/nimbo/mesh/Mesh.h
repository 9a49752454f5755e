// nimbo meshing: an imprinted assembly meshed with Gmsh into solver input, its regions and
// interfaces named after the parts.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <Message_ProgressRange.hxx>

#include <cstddef>
#include <string>
#include <vector>

namespace nimbo {

/// How meshAssembly meshes.
struct MeshOptions {
  double size = 0.0;     ///< the largest element size in mm; 0 leaves it to Gmsh (from the model's size)
  int order = 1;         ///< 1 for linear elements, 2 for quadratic
  bool verbose = false;  ///< Gmsh's messages to standard error, a stage at a time
};

/// One part's region of the mesh.
struct MeshedPart {
  std::string path;      ///< the part's, which names its physical volume
  std::size_t elements;  ///< volume elements
  std::size_t nodes;     ///< nodes of those elements
};

/// One interface of the mesh, a physical surface.
struct MeshedInterface {
  std::string name;   ///< "P1 | P2"
  std::size_t nodes;  ///< on its faces
};

/// What the written mesh holds.
struct MeshSummary {
  std::size_t nodes = 0;                    ///< of the volume elements
  std::size_t elements = 0;                 ///< volume elements
  std::vector<MeshedPart> parts;            ///< in the order of the imprint's parts
  std::vector<MeshedInterface> interfaces;  ///< in the order of the imprint's interfaces
};

/// Meshes the imprinted compound in 3D with Gmsh and writes it to `output` in Gmsh's .msh format 4.1
/// (an existing file is replaced only by a complete one). Physical groups: one volume per part named
/// by its path, one surface per interface named "P1 | P2", one surface per part's outer boundary
/// named by its path. Gmsh writes nothing to standard output. Gmsh keeps one model per process, so
/// calls must not overlap. Throws nimbo_exception with Gmsh's message when it fails.
MeshSummary meshAssembly(const Imprint &imprinted, const std::string &output, const MeshOptions &options = {},
                         const Message_ProgressRange &progress = Message_ProgressRange());

}  // namespace nimbo
