// nimbo studies on an assembly, set up from materials named by part and boundary conditions on
// selected faces, meshed, solved and reported per part and per boundary: steady conduction (heat,
// electrostatics, electric current) solved by GetDP, and linear elasticity (static stress and
// vibration modes) solved by CalculiX.
//
// Geometry is in millimetres. The inputs of conduction studies and their results are in SI units;
// a study file may give any scalar as "number unit" from a fixed table. Structural results are in
// mm, N, MPa and Hz.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/render/Render.h>

#include <Message_ProgressRange.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>

#include <array>
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

/// What is solved for: the field is the temperature (degC), the electric potential (V), or the
/// displacement (mm).
enum class Physics {
  heat,           ///< steady heat conduction: conductivity W/(m K), sources W, flux W/m^2
  electrostatic,  ///< relative permittivity, surface charge C/m^2
  current,        ///< steady electric current: conductivity S/m, current density A/m^2
  elasticity,     ///< linear static stress: Young's modulus Pa, forces N, pressures Pa
  modal,          ///< free vibration: eigenfrequencies and mode shapes
};

/// "heat", "electrostatic", "current", "elasticity" or "modal".
const char *toString(Physics physics);

/// The physics of that name (as toString gives it); none for another name.
std::optional<Physics> physicsNamed(const std::string &name);

/// The field's unit: "degC" for heat, "mm" for structural studies, else "V".
const char *unitOf(Physics physics);

/// Elasticity and modal studies, which CalculiX solves.
bool isStructural(Physics physics);

/// A scalar of a study given as "number unit": its value in the unit `base` names ("Pa", "N",
/// "kg/m^3", "mm", "W", "W/(m K)", "W/(m^2 K)", "degC", "V", "S/m", "Hz", "m/s^2", "s", "J/(kg K)", "1/K",
/// ...), or none when
/// the text is a plain number. Throws input_error for a unit outside the table, or of another kind
/// than `base` ("7850 kg/m^3" where "Pa" is asked), naming the unit and both kinds.
std::optional<double> quantityIn(const std::string &text, const std::string &base);

/// A material, given to the solid parts whose paths match its glob (the first material that
/// matches a part wins).
struct Material {
  std::string name;                    ///< empty when the study gives none
  std::string parts;                   ///< a glob (fnmatch) on part paths
  double value = 0.0;                  ///< the conductivity, or for electrostatics the relative permittivity
  double youngsModulus = 0.0;          ///< structural: in Pa
  double poissonsRatio = 0.0;          ///< structural: in (-1, 0.5)
  std::optional<double> density;       ///< in kg/m^3: modal studies, gravity and heat over time need it
  std::optional<double> specificHeat;  ///< heat over time: in J/(kg K)
  std::optional<double> expansion;     ///< structural under a temperature: the linear expansion in 1/K
};

/// Heat, in W, spread evenly over the meshed volume of the parts whose paths match.
struct Source {
  std::string parts;
  double power;
  std::optional<double> until;  ///< heat over time: the source stops after this time, in s
};

/// How a heat study goes over time (implicit steps of the theta method from a uniform temperature).
struct TimeStepping {
  double end = 0.0;      ///< s
  double step = 0.0;     ///< s; `end` is a whole number of steps
  double initial = 0.0;  ///< the temperature everywhere at time 0, in degC
  double theta = 1.0;    ///< 1: implicit Euler; 0.5: Crank-Nicolson
  /// The field is kept every this many seconds (a whole number of steps) and at the end; 0 for
  /// about ten snapshots.
  double every = 0.0;
};

/// Where a structural study's temperatures come from: a heat study solved on the same mesh, or one
/// temperature everywhere.
struct TemperatureLoad {
  std::string study;              ///< the heat study's file; empty for a uniform temperature
  std::optional<double> uniform;  ///< in degC
  /// Of a heat study over time: the time whose field is taken, a whole number of its steps; none
  /// for its end.
  std::optional<double> at;
  double reference = 0.0;  ///< the temperature at which the parts are free of stress, in degC
};

/// What a boundary holds.
enum class Condition {
  fixed,         ///< the field's value: a temperature or a potential
  flux,          ///< an inflow per area (W/m^2, A/m^2) or a surface charge (C/m^2)
  convection,    ///< heat only: a film coefficient W/(m^2 K) towards an ambient temperature
  displacement,  ///< structural: the components given held at their values (`fixed: true` is all at 0)
  force,         ///< structural: a total force in N, spread over the faces as a uniform traction
  pressure,      ///< structural: in Pa, positive pushing into the faces
};

/// A boundary condition on selected faces of the outer boundary.
struct Boundary {
  std::string name;
  FaceSelector faces;
  Condition condition = Condition::fixed;
  double value = 0.0;    ///< the temperature or potential, the flux, the film coefficient, or the pressure
  double ambient = 0.0;  ///< for convection, in degC
  /// For a displacement, the held components in mm (none for a free one); for a force, all three in N.
  std::array<std::optional<double>, 3> components;
};

/// A point where a study reports its field (strain-gauge places), in mm.
struct Probe {
  std::string name;
  gp_Pnt point;
};

/// A smaller element size on selected faces.
struct Refinement {
  FaceSelector faces;
  double size;  ///< in mm
};

/// How the solver's linear system is solved.
enum class LinearSolver {
  automatic,  ///< direct for small systems, iterative above a size where that is faster
  direct,     ///< a sparse LU or Cholesky factorisation
  iterative,  ///< a Krylov method with algebraic multigrid (GetDP) or CalculiX's iterative Cholesky
};

/// A study: the geometry, the physics, the mesh and the problem. Outer faces that no boundary
/// takes are insulated.
struct Study {
  std::string file;                   ///< the study file, which names the study in messages
  std::vector<std::string> geometry;  ///< shape files, read together
  Physics physics = Physics::heat;
  double size = 0.0;  ///< the largest element size in mm; 0 leaves it to Gmsh
  int order = 1;      ///< 1 or 2; structural studies default to 2, as linear tetrahedra lock in bending
  bool heal = false;  ///< the parts healed for the element size before they are imprinted
  bool assignOverlaps =
      false;  ///< overlapping parts' common regions given to the earlier part, as imprintAssembly does
  std::vector<Refinement> refinements;
  std::vector<Material> materials;
  std::vector<Source> sources;  ///< heat only
  std::vector<Boundary> boundaries;
  std::optional<gp_Vec> gravity;  ///< structural: a body acceleration in m/s^2
  int modes = 10;                 ///< modal: how many eigenmodes
  std::vector<Probe> probes;
  LinearSolver solver = LinearSolver::automatic;
  std::optional<TimeStepping> time;            ///< heat: over time rather than steady
  std::optional<TemperatureLoad> temperature;  ///< elasticity: the parts heated (or cooled) from the reference
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
  std::string getdp = "getdp";  ///< GetDP's executable, found on PATH when it has no folder
  std::string ccx = "ccx";      ///< CalculiX's, the same way
  int mode = 1;                 ///< modal: the mode whose displacement is drawn (from 1)
  int threads = 0;              ///< CalculiX's threads; 0 for one per core
  /// GetDP's MPI processes: more than 1 runs it as "mpirun -np N getdp ..." (or under `launcher`)
  int processes = 1;
  /// Words that start GetDP's processes in place of "mpirun -np N" ("srun" inside a Slurm job);
  /// empty for mpirun.
  std::string launcher;
  bool pos = false;  ///< GetDP studies: also the field as a Gmsh view, field.pos
  /// Refuse before meshing when the mesh would have more elements (estimateElements); 0 for what
  /// fits in the memory at hand (defaultMaxElements).
  double maxElements = 0.0;
  double seconds = 0.0;  ///< the solver's time limit; 0 for none
  bool verbose = false;  ///< Gmsh's and the solver's messages to standard error
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

/// A structural study's figures over one solid part, in mm and MPa (a modal study's: its path and
/// material only). Stresses are CalculiX's nodal values (averaged over the elements around each node).
struct StructuralPartResult {
  std::string path;
  std::string material;
  double displacementMax = 0.0;  ///< the largest displacement's magnitude
  gp_Pnt displacementAt;         ///< the node where it is, undeformed
  double vonMisesMax = 0.0;
  gp_Pnt vonMisesAt;
  double principalMax = 0.0;  ///< the greatest first principal stress
  double principalMin = 0.0;  ///< the least third principal stress
};

/// The force on one boundary, in N: the reaction that a held boundary takes (its held directions
/// only, less what the study's loads put on its nodes), or the load applied to a loaded one.
struct StructuralBoundaryResult {
  std::string name;
  std::size_t faces = 0;
  double area = 0.0;  ///< in mm^2
  bool held = false;  ///< a displacement boundary, whose `force` is its reaction
  std::array<double, 3> force{};
};

/// A probe's values: the displacement, and the stress from the nodal stresses, interpolated in the
/// element that holds its point.
struct ProbeResult {
  std::string name;
  gp_Pnt point;
  std::string part;                      ///< the part whose element holds it
  std::array<double, 3> displacement{};  ///< mm
  std::array<double, 6> stress{};        ///< MPa: xx, yy, zz, xy, yz, zx
  double vonMises = 0.0;
  std::array<double, 3> principal{};  ///< greatest first
};

/// One vibration mode.
struct ModeResult {
  int mode = 0;
  double frequency = 0.0;                 ///< Hz
  std::array<double, 3> effectiveMass{};  ///< x, y, z: fractions of the total mass
};

/// Where a structural study's temperatures came from.
struct TemperatureResult {
  std::string source;          ///< the heat study's file, or "uniform"
  std::optional<double> time;  ///< of a heat study over time: the time taken, in s
  double reference = 0.0;      ///< degC
  double min = 0.0;            ///< over the nodes, degC
  double max = 0.0;
  std::string folder;  ///< the heat study's own results (its mesh is this study's); empty for a uniform one
  double seconds = 0.0;  ///< solving the heat study (of SolveResult::solveSeconds)
};

/// What a structural study gives beyond the mesh and the times.
struct StructuralResult {
  std::vector<StructuralPartResult> parts;           ///< the solid parts, in assembly order
  std::vector<StructuralBoundaryResult> boundaries;  ///< in the study's order
  std::array<double, 3> weight{};                    ///< the gravity load applied, in N
  double mass = 0.0;                                 ///< of the meshed parts, in kg
  /// The sum of reactions, applied loads and weight over the largest of them: about 0 when the
  /// solution balances.
  double balance = 0.0;
  std::vector<ProbeResult> probes;
  std::vector<ModeResult> modes;                 ///< a modal study's, lowest first
  std::optional<TemperatureResult> temperature;  ///< when the study heats its parts
};

/// A heat study over time at one of its output times.
struct TransientStep {
  double time = 0.0;              ///< s
  std::vector<PartResult> parts;  ///< in assembly order: min and max at the nodes, mean over the volume
  double stored = 0.0;            ///< J: the heat the parts hold over what they held at time 0
  double sources = 0.0;           ///< J: the sources' heat since time 0
  double boundaries = 0.0;        ///< J: the heat that came in through the boundaries since time 0
  std::string nodesFile;          ///< the field at the nodes, as SolveResult::nodesFile holds the last
  std::string vtuFile;            ///< the snapshot's grid
};

/// A part's highest temperature over the output times, and when.
struct TransientPeak {
  double value = 0.0;  ///< degC
  double time = 0.0;   ///< s
};

/// What a heat study over time gives beyond its last step.
struct TransientResult {
  TimeStepping time;  ///< as solved: `every` is the one taken
  int steps = 0;
  std::vector<TransientStep> outputs;  ///< at the output times, the end last
  std::vector<TransientPeak> peaks;    ///< per part, in assembly order
  /// The worst, over the steps, of stored - sources - boundaries, over the largest of them: about 0
  /// when the solution keeps the heat it is given.
  double balance = 0.0;
  std::string seriesFile;  ///< results.pvd: the snapshots' grids with their times
};

/// What a solved study gives.
struct SolveResult {
  Physics physics = Physics::heat;
  std::vector<PartResult> parts;               ///< the solid parts, in assembly order (conduction studies)
  std::vector<BoundaryResult> boundaries;      ///< (conduction studies)
  std::optional<StructuralResult> structural;  ///< a structural study's figures
  std::optional<TransientResult> transient;    ///< a heat study's over time; parts and flows are its end's
  double sources = 0.0;                        ///< the power applied, in W (over time: at the end)
  /// The sum of the boundaries' flows and the sources, over the total inflow: about 0 for a sound
  /// solution (over time: TransientResult::balance).
  double balance = 0.0;
  std::size_t nodes = 0;
  std::size_t elements = 0;
  double setupSeconds = 0.0;  ///< reading, imprint, face selection
  double meshSeconds = 0.0;
  double solveSeconds = 0.0;  ///< writing the problem, GetDP, reading its results
  double writeSeconds = 0.0;  ///< writing the solver's input, of solveSeconds
  double getdpSeconds = 0.0;  ///< the solver's own run (GetDP's or CalculiX's), of solveSeconds
  double readSeconds = 0.0;   ///< reading its results, of solveSeconds
  /// How the linear system was solved: "direct (MUMPS)", "iterative (GMRES, BoomerAMG)", ...
  std::string solver;
  int iterations = 0;  ///< of an iterative solver; 0 for a direct one
  int processes = 1;   ///< the solver's processes
  /// What meshing took more than one try for, and how (MeshSummary::retries, with the healing of
  /// the route's last resort).
  std::vector<std::string> retries;
  std::string meshFile;     ///< in the result folder: the mesh the solver read (GetDP's: .msh 2.2, metres)
  std::string problemFile;  ///< the solver's input (.pro, .inp), to edit and run again by hand
  std::string fieldFile;    ///< the solver's own results (a Gmsh view .pos; CalculiX's .frd)
  /// The field drawn at each node of the mesh (temperature, potential, von Mises stress): a count,
  /// then "node value" lines
  std::string nodesFile;
  /// Structural: the displacement drawn (a modal study's: of SolveOptions::mode) at each node of the
  /// mesh: a count, then "node dx dy dz" lines in mm
  std::string displacementFile;
  std::string vtuFile;  ///< results.vtu: the mesh in mm with the field at its points and the part number on its cells
};

/// Sets up the study on its geometry, meshes it by the route (meshParts, healed first when the
/// study asks), writes the solver's problem and solves it in a scratch folder, then moves the mesh,
/// the problem and the field into `folder` (created when missing) and reads the results. GetDP runs with the solver's
/// environment and is ended when `progress` is stopped or its time runs out. Throws nimbo_exception with one line
/// naming the study and the entry before meshing for a solid part that no material covers, a boundary that selects no
/// face, a face that two boundaries select, two boundaries of fixed value that touch, or a heat or current problem with
/// neither a fixed value nor convection anywhere; and with GetDP's own message when it fails (the scratch folder then
/// kept and named).
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
/// files; a structural study's nodes moved by `deformation` times their displacement. Throws
/// nimbo_exception when they cannot be read.
std::vector<PartSurface> solvedPartSurfaces(const SolveResult &result, double deformation = 0.0);

/// A heat study over time: at each output time, earliest first, each part's values at the nodes of
/// its surface as solvedPartSurfaces gives it (in its order of parts and nodes). Empty for a study
/// that is not over time. Throws nimbo_exception when the result files cannot be read.
std::vector<std::vector<std::vector<double>>> solvedSteps(const SolveResult &result);

/// The outer surface of a solved study (every part's outer boundary, in mm) with the field at its
/// nodes, read back from the result files: what renderFieldSvg draws. Throws nimbo_exception when
/// they cannot be read.
FieldSurface solvedSurface(const SolveResult &result, double deformation = 0.0);

/// The factor that draws a structural study's largest displacement as a twentieth of the size of
/// the model (the diagonal of its nodes' box): 0 for other studies, or when nothing moves.
double deformationScale(const SolveResult &result);

}  // namespace nimbo
