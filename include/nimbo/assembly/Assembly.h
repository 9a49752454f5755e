// nimbo assembly layer: the parts of CAD files with their names, placements and colours; how they
// meet, their imprint into one conformal compound, and what changed between two revisions.
//
// Every operation takes its inputs, then an options struct where it has options, then a progress
// range that can also stop it; results are plain values whose parts are named by their positions in
// the list of parts given.
#pragma once

#include <nimbo/base.h>

#include <Message_ProgressRange.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace nimbo {

/// One placed part of an assembly: a solid, or what a product holds besides solids.
struct Part {
  /// The instance names from the root to the part, joined by "/"; unique within the assembly.
  /// Siblings that share a name are told apart by "#2", "#3", ...; the solids of one product by
  /// "#1", "#2", ...
  std::string path;
  /// The product's name; where the file gives none (or only a type word such as "SOLID"), the nearest
  /// named ancestor's, and at last the file's own name without its extension.
  std::string name;
  /// In the assembly's frame, in millimetres (BREP: as the file holds it). Instances of one product
  /// share its topology under different locations.
  TopoDS_Shape shape;
  /// The instance's colour, else its product's; none when the file gives neither.
  std::optional<Color> color;
};

/// The parts of a CAD file in file order (depth first over the assembly tree), and its length unit.
struct Assembly {
  /// The length unit as the file names it ("millimetre", "INCH", ...); empty where the format has
  /// none (BREP).
  std::string lengthUnit;
  std::vector<Part> parts;  ///< in file order
  /// What the read left out that no shape needs, one line per file that lost something ("STEP
  /// file a.stp: the parser rejected parameters of ..."; nimbo::stepReadWarning).
  std::vector<std::string> warnings;
};

/// Reads a STEP (.step, .stp), IGES (.iges, .igs) or BREP (.brep) file, chosen by extension in any
/// case, into its parts. STEP external references are resolved relative to the file's folder. A BREP
/// compound gives one part per solid ("solid_1", ...) and one for what it holds besides. Throws
/// nimbo_exception naming the file when it cannot be read or holds no shape, and naming both files
/// when a file it refers to is missing or unreadable.
Assembly readAssembly(const std::string &path, const Message_ProgressRange &progress = Message_ProgressRange());

/// Reads several files into one assembly, their parts in the order of the files. With more than one
/// file every path starts with its file's name and "/" (with the name as given where two files share
/// a name), so that paths stay unique. The length unit is the files' own where they all agree, else
/// empty. Throws as readAssembly does.
Assembly readAssemblies(const std::vector<std::string> &paths,
                        const Message_ProgressRange &progress = Message_ProgressRange());

/// Writes the parts to `path`: a STEP file (.step, .stp) that readAssembly reads back as the same
/// parts in the same order, with their paths, names, colours (to the kernel's single precision) and
/// shapes in place, in millimetres; or a BREP file (.brep) of the compound of their shapes, which
/// keeps neither paths, names nor colours. In STEP every part is a product of its own (parts that
/// shared topology get copies), placed by its shape's location in an assembly tree rebuilt from the
/// paths; parts under one assembly are written together, in the order of the first of them. What
/// the reader cannot give back is written as near as it can be: a part alone at the top whose name
/// differs from its path (as a BREP file's parts) reads back named by its path, and a path that is
/// also the folder of other paths comes back with "#2". An earlier file is replaced only by a
/// complete one. Throws nimbo_exception naming the file when the extension is neither, there are no
/// parts, a part has no shape, two parts share a path, the file cannot be written, or `progress` is
/// stopped.
void writeAssembly(const Assembly &assembly, const std::string &path,
                   const Message_ProgressRange &progress = Message_ProgressRange());

/// What a part measures, by what it holds: its volume when it holds a solid, else its area when it
/// holds a face (so a shell or an open surface model has an area), else its length. Volumes and
/// areas, here and in every result of this layer, are integrated adaptively to about 1e-9 of their
/// size, B-spline and trimmed faces included, so that a part measures the same everywhere.
struct PartFigures {
  TopAbs_ShapeEnum type;         ///< the shape's own type
  std::optional<double> volume;  ///< in mm^3, when it holds a solid
  std::optional<double> area;    ///< in mm^2, when it holds a face and no solid
  std::optional<double> length;  ///< in mm, when it holds only edges
  gp_Pnt center;                 ///< of the measure above; for a part of vertices only, its first vertex
  gp_Pnt boxMin;                 ///< the exact bounding box, without tolerance enlargement
  gp_Pnt boxMax;
};

/// Returns the figures of the part's shape. Throws nimbo_exception when its box cannot be computed.
PartFigures measurePart(const Part &part);

// --- Interference -------------------------------------------------------------
// How the solid parts of an assembly meet. Parts are named by their positions in the list given;
// every list below is ordered by the first part's position, then the second's.

/// Two parts whose common region holds volume.
struct Overlap : PartPair {
  double volume;        ///< of the common region, in mm^3
  TopoDS_Shape region;  ///< the common solids
};

/// How two touching parts meet.
enum class ContactKind {
  face,   ///< the parts share area
  edge,   ///< they share a curve but no area
  point,  ///< they are at contact distance and share neither
};

/// "face", "edge" or "point".
const char *toString(ContactKind kind);

/// Two parts that do not overlap but are within the contact tolerance of each other.
struct Contact : PartPair {
  ContactKind kind;    ///< how they meet
  double area;         ///< of the faces they share; 0 unless kind is face
  TopoDS_Shape faces;  ///< those faces; null unless kind is face
};

/// Two parts apart by more than the contact tolerance but less than the clearance asked for.
struct Clearance : PartPair {
  double distance;  ///< in mm
  gp_Pnt onFirst;   ///< the closest points
  gp_Pnt onSecond;
};

/// A pair the kernel could not decide: neither clear nor interfering.
struct PairFailure : PartPair {
  std::string message;  ///< the kernel's words, or what could not be computed
};

/// What findInterferences looks for, and how hard it works.
struct InterferenceOptions {
  /// Pairs closer than this (and not in contact) are reported as clearances; 0 reports none.
  double clearance = 0.0;
  /// Pairs this close count as touching; default 1e-6 of the diagonal of the parts' common box.
  std::optional<double> contactTolerance;
  /// Common volume above this is an overlap; default 1e-6 of the smaller part's volume.
  std::optional<double> minimumOverlap;
  /// Pairs examined at once; 0 for one per core.
  int threads = 0;
  /// Off, every pair goes to exact geometry, not only those whose boxes meet: the same answer,
  /// slower; for measuring what the box test saves.
  bool broadPhase = true;
};

/// How the solid parts meet. Each list is ordered by the first part's position, then the second's.
struct Interferences {
  std::size_t parts = 0;              ///< the solid parts checked
  std::size_t pairs = 0;              ///< parts * (parts - 1) / 2
  std::size_t candidates = 0;         ///< pairs whose boxes met, which went on to exact geometry
  double contactTolerance = 0.0;      ///< the one used
  std::vector<Overlap> overlaps;      ///< pairs that share volume
  std::vector<Contact> contacts;      ///< pairs that touch
  std::vector<Clearance> clearances;  ///< pairs closer than the clearance asked for
  std::vector<PairFailure> failures;  ///< pairs the kernel could not decide
  std::vector<std::size_t> skipped;   ///< parts that hold something besides solids, or nothing

  /// Whether the check looked at anything: some pair was checked, or no part had to be skipped (a
  /// file of surfaces alone leaves nothing to check, which is no clean result).
  bool checked() const { return pairs > 0 || skipped.empty(); }

  /// Whether the parts were checked, every pair was decided, and none overlaps.
  bool clean() const { return checked() && overlaps.empty() && failures.empty(); }
};

/// Checks every pair of solid parts: their boxes first, then, for those that meet, their distance,
/// and for those at contact distance a general fuse of the two, which measures the common volume
/// and the shared area. Pairs are examined in parallel without changing the parts' shapes; the
/// result does not depend on the number of threads. Throws nimbo_exception when stopped through
/// `progress`.
Interferences findInterferences(const std::vector<Part> &parts, const InterferenceOptions &options = {},
                                const Message_ProgressRange &progress = Message_ProgressRange());

// --- Imprint ----------------------------------------------------------------
// The solid parts fused into one conformal compound: where parts touch they share the faces of the
// interface, so that a mesh has the same nodes on both sides, and every solid still knows its part.

/// How the fuse may treat parts known to touch without crossing one another: faster, but a wrong
/// choice gives a wrong result (which the imprint's checks then refuse).
enum class Glue {
  off,        ///< the general case
  shift,      ///< faces that coincide in part
  full,       ///< faces that coincide whole
  automatic,  ///< the fastest of these that the parts' faces show to be safe
};

/// "off", "shift", "full" or "auto".
const char *toString(Glue glue);

/// The glue of that name (as toString gives it); none for another name.
std::optional<Glue> glueNamed(const std::string &name);

/// How imprintAssembly fuses the parts.
struct ImprintOptions {
  /// Overlapping parts are refused; with this each common region goes to the earlier part.
  bool assignOverlaps = false;
  /// Automatic looks at how the parts' faces meet and falls back to off when the glued result fails a
  /// check; a glue given is used as it is.
  Glue glue = Glue::automatic;
  /// Gaps and overlaps narrower than this are closed by the fuse; 0 for the shapes' own tolerances.
  double fuzzy = 0.0;
  /// Common volume above this is an overlap; default 1e-6 of the smaller part's volume. Thinner
  /// slivers go to the earlier part without a refusal.
  std::optional<double> minimumOverlap;
};

// The compound's solids and faces are numbered as TopExp::MapShapes numbers them over it, from 1:
// the numbering a written .brep keeps, and the one Gmsh gives the entities it imports from it.

/// What one solid part became.
struct ImprintedPart {
  std::size_t part;                    ///< its position in the parts given
  std::string path;                    ///< the part's
  std::vector<TopoDS_Shape> solids;    ///< in the compound
  std::vector<TopoDS_Shape> boundary;  ///< its faces in the compound that touch no other part
  std::vector<int> solidNumbers;       ///< of `solids`, in the compound's numbering
  std::vector<int> boundaryNumbers;    ///< of `boundary`, in the compound's numbering
  double volume;                       ///< of its solids, in mm^3
};

/// The faces two touching parts now share.
struct Interface : PartPair {
  std::vector<TopoDS_Shape> faces;  ///< in the compound
  std::vector<int> faceNumbers;     ///< of `faces`, in the compound's numbering
  double area;                      ///< of `faces`, in mm^2
};

/// A common region of two overlapping parts, given to the earlier one.
struct AssignedRegion {
  std::size_t kept;  ///< the part that holds it
  std::size_t lost;  ///< the part it was taken from
  double volume;     ///< in mm^3
};

/// Where an imprint's time went, in seconds, summed over every fuse it tried.
struct ImprintTimes {
  double glue = 0.0;      ///< choosing the glue from how the parts' faces meet
  double fuse = 0.0;      ///< the general fuses
  double checks = 0.0;    ///< the compounds' validity, the search for overlaps, the parts' volumes
  double measures = 0.0;  ///< the interfaces' areas
};

/// The solid parts as one conformal compound, mapped back onto the parts.
struct Imprint {
  TopoDS_Shape compound;                 ///< every solid once, in the order of the parts
  std::vector<ImprintedPart> parts;      ///< the solid parts, in the order given
  std::vector<Interface> interfaces;     ///< ordered by first, then second
  std::vector<AssignedRegion> assigned;  ///< only with assignOverlaps
  std::vector<std::size_t> skipped;      ///< parts that hold something besides solids, or nothing
  Glue glue = Glue::off;                 ///< the glue the fuse used: off, shift or full
  /// The fuzzy value the fuse used, in mm: the one asked for, or where none was and the parts' own
  /// tolerances gave a compound that is not valid, the one that mended it; 0 for none.
  double fuzzy = 0.0;
  ImprintTimes times;
};

/// Fuses the solid parts (the general fuse, in parallel, leaving the parts' own shapes alone) and
/// maps the result back onto them. Checks the result before returning it: every part keeps its
/// volume (less the regions assigned away) within 1e-6 of it, or within its area times its largest
/// tolerance where that is more, and the compound is valid (a parallel fuse that gives an invalid
/// one is done again on one thread). An automatic glue whose result fails a check, or holds common
/// regions, is given up for the general fuse before anything is refused. Without a fuzzy value, a
/// compound that is not valid is fused again with the parts' largest tolerance as one, then ten and
/// a hundred times that, before it is refused. Throws nimbo_exception naming the pairs and
/// their common volumes when parts overlap and `assignOverlaps` is off, and when the fuse fails, a check fails or
/// `progress` is stopped.
Imprint imprintAssembly(const std::vector<Part> &parts, const ImprintOptions &options = {},
                        const Message_ProgressRange &progress = Message_ProgressRange());

// --- Revision diff -----------------------------------------------------------
// Which parts of two revisions of an assembly are the same geometry, in place or moved, which were
// edited, and which came or went. Parts are named by their positions in the lists given.

/// A part of `after` and the part of `before` it matches.
struct PartMatch {
  std::size_t before;  ///< position in `before`
  std::size_t after;   ///< position in `after`
};

/// A part carried by a rigid motion: p -> rotation(p) + translation, the rotation about an axis
/// through the origin.
struct Motion {
  std::size_t before;
  std::size_t after;
  gp_Vec translation;  ///< in mm
  gp_Dir axis;         ///< (0, 0, 1) when there is no rotation
  double angle;        ///< in degrees, in [0, 180]
};

/// A part whose geometry changed but which kept its path (or its name).
struct Modification {
  std::size_t before;
  std::size_t after;
  double volumeBefore;  ///< in mm^3
  double volumeAfter;
  double added;    ///< the volume of after less before
  double removed;  ///< the volume of before less after
};

/// What became of each part between two revisions.
struct AssemblyDiff {
  std::vector<PartMatch> unchanged;  ///< equal in place (as diffAssemblies says), renamed or not
  std::vector<PartMatch> renamed;    ///< those of `unchanged` whose path differs
  std::vector<Motion> moved;
  std::vector<Modification> modified;
  std::vector<std::size_t> added;    ///< positions in `after`
  std::vector<std::size_t> removed;  ///< positions in `before`

  /// Whether some part moved, was modified, added or removed (a rename alone changes nothing).
  bool changed() const { return !moved.empty() || !modified.empty() || !added.empty() || !removed.empty(); }
};

/// Classifies every part of both revisions. Geometry decides first and one to one (nearest first):
/// a part equal in place to an old part is unchanged; one equal after a rigid motion is moved, by
/// the least turn that carries it. Turns are found from the centres of mass and principal axes, or
/// where moments are equal from the directions of the faces (plane normals, axes), and confirmed by
/// those directions, the inertia and areShapesEqual; the same checks hold a part in place. Of the rest,
/// parts that keep their path, or else their name, are modified; the others are added or removed.
/// Parts are indexed by their measure, so only parts that can be equal are compared. Meshes the
/// parts it compares, as areShapesEqual does. Throws nimbo_exception when a Boolean of a modified
/// part fails or `progress` is stopped.
AssemblyDiff diffAssemblies(const std::vector<Part> &before, const std::vector<Part> &after,
                            const Message_ProgressRange &progress = Message_ProgressRange());

}  // namespace nimbo
