// nimbo studies: steady conduction problems (heat, electrostatics, electric current) on an
// assembly, set up from materials named by part and boundary conditions on selected faces, meshed,
// written as a GetDP problem, solved by GetDP and reported per part and per boundary.
//
// Geometry is in millimetres; every physical input and result is in SI units. The mesh is written
// in metres for the solver, so that the user's numbers go to it unchanged.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/render/Render.h>

#include <Message_ProgressRange.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace YAML {
class Node;
}

namespace nimbo {

// --- Face selection -----------------------------------------------------------

/// A box, in mm.
struct FaceBox {
  gp_Pnt min;
  gp_Pnt max;
};

/// A plane through a point, in mm.
struct FacePlane {
  gp_Pnt point;
  gp_Dir normal;
};

/// Which faces of an imprinted assembly's outer boundary to take: those for which every criterion
/// given holds.
struct FaceSelector {
  std::optional<std::string> part;  ///< a glob (fnmatch) on the path of the part the face bounds
  std::optional<gp_Dir> normal;     ///< the outward normal within `angle` of this all over the face
  std::optional<FaceBox> box;       ///< the face lies wholly inside
  std::optional<FacePlane> plane;   ///< the face lies in the plane
  bool rest = false;                ///< the outer faces that no selector without `rest` took
  double angle = 1.0;               ///< in degrees
};

/// The outer faces (those of ImprintedPart::boundary) that each selector takes, in the compound's
/// numbering, ascending. A `rest` selector takes, of the faces its other criteria allow, those that
/// no selector without `rest` took.
std::vector<std::vector<int>> selectFaces(const Imprint &imprinted, const std::vector<FaceSelector> &selectors);

// --- Studies ------------------------------------------------------------------

/// What is solved for: the field is the temperature (degC) or the electric potential (V).
enum class Physics {
  heat,           ///< steady heat conduction: conductivity W/(m K), sources W, flux W/m^2
  electrostatic,  ///< relative permittivity, surface charge C/m^2
  current,        ///< steady electric current: conductivity S/m, current density A/m^2
};

/// "heat", "electrostatic" or "current".
const char *toString(Physics physics);

/// The physics of that name (as toString gives it); none for another name.
std::optional<Physics> physicsNamed(const std::string &name);

/// The field's unit: "degC" for heat, else "V".
const char *unitOf(Physics physics);

/// A material, given to the solid parts whose paths match its glob (the first material that
/// matches a part wins).
struct Material {
  std::string name;   ///< empty when the study gives none
  std::string parts;  ///< a glob (fnmatch) on part paths
  double value;       ///< the conductivity, or for electrostatics the relative permittivity
};

/// Heat, in W, spread evenly over the meshed volume of the parts whose paths match.
struct Source {
  std::string parts;
  double power;
};

/// What a boundary holds.
enum class Condition {
  fixed,       ///< the field's value: a temperature or a potential
  flux,        ///< an inflow per area (W/m^2, A/m^2) or a surface charge (C/m^2)
  convection,  ///< heat only: a film coefficient W/(m^2 K) towards an ambient temperature
};

/// A boundary condition on selected faces of the outer boundary.
struct Boundary {
  std::string name;
  FaceSelector faces;
  Condition condition;
  double value;          ///< the temperature or potential, the flux, or the film coefficient
  double ambient = 0.0;  ///< for convection, in degC
};

/// A study: the geometry, the physics, the mesh and the problem. Outer faces that no boundary
/// takes are insulated.
struct Study {
  std::string file;                   ///< the study file, which names the study in messages
  std::vector<std::string> geometry;  ///< shape files, read together
  Physics physics = Physics::heat;
  double size = 0.0;  ///< the largest element size in mm; 0 leaves it to Gmsh
  int order = 1;      ///< 1 or 2
  bool heal = false;  ///< the parts healed for the element size before they are imprinted
  std::vector<Material> materials;
  std::vector<Source> sources;  ///< heat only
  std::vector<Boundary> boundaries;
};

/// Reads a study from its YAML file; geometry paths are relative to the file's folder. Throws
/// nimbo_exception with one line naming the file and the entry for a file that cannot be read,
/// YAML that does not parse, an unknown key, a value of the wrong type, a physics that is not
/// supported, or a condition the physics does not have.
Study readStudy(const std::string &path);

/// Where a study's results go when no folder is asked for: "<study stem>_results" beside the file.
std::string defaultResultFolder(const std::string &studyFile);

/// The same from a YAML tree, as a study file holds it; `file` names it in messages and
/// geometry paths are relative to `folder`.
Study studyFrom(const YAML::Node &node, const std::string &file, const std::string &folder);

// --- Solving ------------------------------------------------------------------

/// How solveStudy runs.
struct SolveOptions {
  std::string getdp = "getdp";  ///< the solver's executable, found on PATH when it has no folder
  double seconds = 0.0;         ///< GetDP's time limit; 0 for none
  bool verbose = false;         ///< Gmsh's and GetDP's messages to standard error
};

/// The field over one solid part.
struct PartResult {
  std::string path;
  std::string material;  ///< the material's name, else its glob
  double min;            ///< over the part's nodes
  double max;
  double mean;  ///< over its volume
};

/// What crosses one boundary.
struct BoundaryResult {
  std::string name;
  std::size_t faces;  ///< CAD faces selected
  double area;        ///< in mm^2
  double flow;        ///< into the model: W, A, or for electrostatics the charge on the faces in C
};

/// What a solved study gives.
struct SolveResult {
  Physics physics = Physics::heat;
  std::vector<PartResult> parts;  ///< the solid parts, in assembly order
  std::vector<BoundaryResult> boundaries;
  double sources = 0.0;  ///< the power applied, in W
  /// The sum of the boundaries' flows and the sources, over the total inflow: about 0 for a sound
  /// solution.
  double balance = 0.0;
  std::size_t nodes = 0;
  std::size_t elements = 0;
  double setupSeconds = 0.0;  ///< reading, imprint, face selection
  double meshSeconds = 0.0;
  double solveSeconds = 0.0;  ///< writing the problem, GetDP, reading its results
  double getdpSeconds = 0.0;  ///< the solver's own run, of solveSeconds
  /// What meshing took more than one try for, and how (MeshSummary::retries, with the healing of
  /// the route's last resort).
  std::vector<std::string> retries;
  std::string meshFile;       ///< in the result folder: the mesh GetDP read (.msh 2.2, metres)
  std::string problemFile;    ///< the GetDP problem (.pro), to edit and run again by hand
  std::string fieldFile;      ///< the field as a Gmsh view (.pos)
  std::string nodesFile;      ///< the field at each node of the mesh: a count, then "node value" lines
};

/// Sets up the study on its geometry, meshes it by the route (meshParts, healed first when the
/// study asks), writes the solver's problem and solves it in a scratch folder, then moves the mesh,
/// the problem and the field into `folder` (created when missing) and reads the results. GetDP runs with the solver's environment and is ended when
/// `progress` is stopped or its time runs out. Throws nimbo_exception with one line naming the
/// study and the entry before meshing for a solid part that no material covers, a boundary that
/// selects no face, a face that two boundaries select, two boundaries of fixed value that touch,
/// or a heat or current problem with neither a fixed value nor convection anywhere; and with
/// GetDP's own message when it fails (the scratch folder then kept and named).
SolveResult solveStudy(const Study &study, const std::string &folder, const SolveOptions &options = {},
                       const Message_ProgressRange &progress = Message_ProgressRange());

/// Removes the scratch folders that runs into `folder` left when they were killed or GetDP failed
/// (solveStudy keeps those for the user to look into, until the next run).
void clearScratch(const std::string &folder);

/// A solid part's boundary (its faces against other parts too) with the field at its nodes.
struct PartSurface {
  std::string path;
  FieldSurface surface;  ///< in mm
};

/// The boundary of each solid part of a solved study, in assembly order, read back from the result
/// files. Throws nimbo_exception when they cannot be read.
std::vector<PartSurface> solvedPartSurfaces(const SolveResult &result);

/// The outer surface of a solved study (every part's outer boundary, in mm) with the field at its
/// nodes, read back from the result files: what renderFieldSvg draws. Throws nimbo_exception when
/// they cannot be read.
FieldSurface solvedSurface(const SolveResult &result);

}  // namespace nimbo
