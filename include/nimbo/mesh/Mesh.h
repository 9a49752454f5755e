// nimbo meshing: an imprinted assembly meshed with Gmsh into solver input, its regions and
// interfaces named after the parts.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <Message_ProgressRange.hxx>

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nimbo {

/// The .msh format written.
enum class MeshFormat {
  msh41,  ///< Gmsh's current format
  msh22,  ///< the older one, which solvers built without Gmsh (such as Debian's GetDP) read
};

/// "msh4" or "msh2".
const char *toString(MeshFormat format);

/// The format of that name (as toString gives it); none for another name.
std::optional<MeshFormat> meshFormatNamed(const std::string &name);

/// Faces of the imprinted compound meshed as one more named physical surface.
struct SurfaceGroup {
  std::string name;
  std::vector<int> faces;  ///< in the compound's numbering
  double size = 0.0;       ///< a smaller element size on its faces and their edges, in mm; 0 for none
};

/// How meshAssembly meshes.
struct MeshOptions {
  double size = 0.0;  ///< the largest element size in mm; 0 leaves it to Gmsh (from the model's size)
  int order = 1;      ///< 1 for linear elements, 2 for quadratic
  MeshFormat format = MeshFormat::msh41;
  /// The written coordinates are the model's (in mm) times this: 0.001 writes metres.
  double scale = 1.0;
  std::vector<SurfaceGroup> surfaces;  ///< physical surfaces besides the interfaces and boundaries
  bool verbose = false;                ///< Gmsh's messages to standard error, a stage at a time
  bool keepData = false;               ///< MeshSummary::data holds the mesh as written, for a caller that reads it next
  bool binary = false;  ///< the file in Gmsh's binary form of the format: a third of the size, read far faster
  /// Refused before meshing above this many elements (checkElementCount); 0 for defaultMaxElements(order).
  double maxElements = 0.0;
  /// A second file of the same mesh in another format or scale (two solvers reading one mesh); empty
  /// for none.
  std::string copy;
  MeshFormat copyFormat = MeshFormat::msh41;
  double copyScale = 1.0;
};

/// One part's region of the mesh.
struct MeshedPart {
  std::string path;      ///< the part's, which names its physical volume
  int physical;          ///< the tag of that physical volume
  int boundaryPhysical;  ///< the tag of its outer boundary's physical surface; 0 when it has none
  std::size_t elements;  ///< volume elements
  std::size_t nodes;     ///< nodes of those elements
  double volume;         ///< of those elements as meshed (curved ones integrated exactly), in mm^3
};

/// One interface of the mesh, a physical surface.
struct MeshedInterface {
  std::string name;   ///< "P1 | P2"
  int physical;       ///< its tag
  std::size_t nodes;  ///< on its faces
};

/// One surface group asked for, as meshed.
struct MeshedSurface {
  std::string name;
  int physical;       ///< its tag
  std::size_t nodes;  ///< on its faces
};

struct MeshData;

/// What the written mesh holds.
struct MeshSummary {
  std::size_t nodes = 0;                    ///< of the volume elements
  std::size_t elements = 0;                 ///< volume elements
  std::vector<MeshedPart> parts;            ///< in the order of the imprint's parts
  std::vector<MeshedInterface> interfaces;  ///< in the order of the imprint's interfaces
  std::vector<MeshedSurface> surfaces;      ///< in the order asked
  /// What Gmsh meshed only at a later try, and how: "face 12 of a/b: MeshAdapt after Frontal-Delaunay
  /// failed", "volumes: HXT after Delaunay failed". Empty when its first try meshed everything.
  std::vector<std::string> retries;
  /// With MeshOptions::keepData, the mesh as the file holds it (what readMesh would give back).
  std::shared_ptr<const MeshData> data;
};

/// Meshes the imprinted compound in 3D with Gmsh and writes it to `output` in the format asked
/// (an existing file is replaced only by a complete one). Physical groups: one volume per part named
/// by its path, one surface per interface named "P1 | P2", one surface per part's outer boundary
/// named by its path, then the surface groups asked for, which may share faces with those. Throws
/// nimbo_exception naming a surface group that is empty or names a face the compound lacks. Gmsh writes nothing to
/// standard output. Gmsh keeps one model per process, so calls must not overlap.
///
/// Gmsh's defaults are tried first. Faces Gmsh cannot mesh are meshed again, each by itself, with its
/// other surface algorithms (MeshAdapt, then Delaunay), keeping the other faces' meshes; a failed
/// volume mesh is first blamed on the faces Gmsh names, then tried with HXT; MeshSummary::retries says
/// what worked. Throws nimbo_exception with Gmsh's message when nothing does, naming the face (in the
/// compound's numbering) and its part, or the parts whose volume failed. A crash inside Gmsh cannot
/// be caught: run untrusted shapes in a process of their own.
MeshSummary meshAssembly(const Imprint &imprinted, const std::string &output, const MeshOptions &options = {},
                         const Message_ProgressRange &progress = Message_ProgressRange());

/// About how many tetrahedra meshAssembly makes of the imprint at the options' sizes: the parts'
/// volume over that of a tetrahedron of the size, and for each smaller size on surfaces a layer that
/// grades from it to the largest. 0 when no size is given (Gmsh then sizes by the model).
double estimateElements(const Imprint &imprinted, const MeshOptions &options);

/// The elements of `order` a study fits in the memory available now, at its measured bytes per
/// element (1 kB linear, 8 kB quadratic).
double defaultMaxElements(int order = 1);

/// The estimate, checked before meshing: throws input_error above options.maxElements (or
/// defaultMaxElements(options.order)) with the estimate and the smallest size that fits: "size 0.02 mm would make
/// about 2e11 elements; the smallest size that fits is 0.6 mm, or raise --max-elements".
double checkElementCount(const Imprint &imprinted, const MeshOptions &options);

/// A mesh file read back: its nodes, its tetrahedra and its triangles, by physical group.
struct MeshData {
  std::vector<std::size_t> nodeTags;                   ///< the file's number of each node row
  std::vector<std::array<double, 3>> nodes;            ///< as the file holds them
  std::vector<std::array<std::size_t, 4>> tetrahedra;  ///< corner node rows, of every physical volume
  /// Physical volumes by name: rows of `tetrahedra`.
  std::map<std::string, std::vector<std::size_t>> volumes;
  /// Physical surfaces by name: triangles as corner node rows.
  std::map<std::string, std::vector<std::array<std::size_t, 3>>> surfaces;
  /// A quadratic mesh's mid-edge node rows, in Gmsh's order; empty for a linear mesh. Of each
  /// tetrahedron, on its edges 01, 12, 20, 30, 32, 31.
  std::vector<std::array<std::size_t, 6>> tetrahedronEdges;
  /// Of each triangle of `surfaces`, on its edges 01, 12, 20.
  std::map<std::string, std::vector<std::array<std::size_t, 3>>> surfaceEdges;
};

/// Reads a .msh file (either format) with Gmsh. Throws nimbo_exception naming the file when Gmsh
/// cannot read it. Gmsh keeps one model per process, so calls must not overlap with meshing.
MeshData readMesh(const std::string &path);

}  // namespace nimbo
