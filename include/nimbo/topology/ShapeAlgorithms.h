// nimbo topology library: free functions that analyse OCCT shapes.
#pragma once

#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressRange.hxx>
#include <Standard_Failure.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>

#include <optional>
#include <string>

class IGESControl_Reader;
class STEPControl_Reader;

// --- Shape comparison -------------------------------------------------------
// Two shapes are equal when their measure (volume, area or length) agrees within 0.1 % of the first
// shape's measure, their centres of mass within 0.1 % of the first shape's linear scale, and their
// bounding boxes within 4 % of the largest extent. Comparisons mesh the shapes they measure; the
// triangulation stays on the caller's topology.

/// Returns whether the shapes describe the same geometry; a compound is compared through the
/// sub-shapes of its dominant type, so a compound holding a solid can equal that solid.
bool areShapesEqual(const TopoDS_Shape &first, const TopoDS_Shape &second);

/// Returns whether `shape` equals some candidate (areShapesEqual, shape first), trying them in order.
bool isShapeEqualToAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates);

/// Like areShapesEqual without compound handling: dispatches on the first shape's type alone.
bool areSimpleShapesEqual(const TopoDS_Shape &first, const TopoDS_Shape &second);

/// Returns whether `shape` equals some candidate (areSimpleShapesEqual, shape first).
bool isSimpleShapeEqualToAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates);

/// The three checks behind one direction of the comparison of two shapes of one measured type, each
/// figure beside the limit it was held to; `equal` is the comparison's verdict.
struct ComparisonChecks {
  double measureDifference;  ///< |first measure - second measure|
  double measureTolerance;   ///< 0.1 % of the first measure's magnitude
  double centerDistance;
  double centerTolerance;  ///< 0.1 % of the first shape's linear scale (cube root of a volume, ...)
  double boxDeviation;     ///< the largest difference between corresponding bounding-box bounds
  double boxTolerance;     ///< 4 % of the largest extent of either box
  bool measureHeld;        ///< measureDifference <= measureTolerance
  bool centerHeld;         ///< centerDistance <= centerTolerance
  bool boxHeld;            ///< boxDeviation < boxTolerance
  bool equal;              ///< all three held
};

/// Runs the comparison of `first` against `second` as solids (TopAbs_SOLID), faces (TopAbs_FACE) or
/// edges (TopAbs_EDGE) and returns its figures: areSolidsEqual, areFacesEqual and areEdgesEqual
/// answer its `equal`. Meshes both shapes, as the comparison does.
ComparisonChecks getComparisonChecks(const TopoDS_Shape &first, const TopoDS_Shape &second, TopAbs_ShapeEnum type);

/// Compares two solids by volume, centre of mass and bounding box.
bool areSolidsEqual(TopoDS_Shape first, TopoDS_Shape second);

/// Compares two faces by area, centre of mass and bounding box.
bool areFacesEqual(TopoDS_Shape first, TopoDS_Shape second);

/// Compares two edges by length, centre of mass and bounding box.
bool areEdgesEqual(TopoDS_Shape first, TopoDS_Shape second);

/// Returns whether two vertices lie at most 1e-6 apart (absolute, in the model's length unit).
bool areVerticesEqual(TopoDS_Shape first, TopoDS_Shape second);

/// Returns whether every bound of the two bounding boxes differs by less than 4 % of the largest extent.
bool areBoundingBoxesClose(TopoDS_Shape first, TopoDS_Shape second);

/// The absolute deflection meshShape triangulates the shape with: 0.1 % of its largest box extent
/// (the box of its triangulation when it has one). Throws what the kernel throws for a shape without
/// a box.
double meshDeflection(const TopoDS_Shape &shape);

/// Triangulates the shape with meshDeflection and 0.5 rad;
/// degenerated edges and null shapes are left alone, and so is a shape triangulated that finely
/// already (then nothing is written to it).
void meshShape(TopoDS_Shape shape);

// --- Shape measures ---------------------------------------------------------

/// Returns TopAbs_SOLID, TopAbs_FACE or TopAbs_EDGE for such a shape, the highest of them held by a
/// compound, and TopAbs_VERTEX for everything else (vertex, wire, shell, compsolid, empty compound).
TopAbs_ShapeEnum getDominantShapeType(const TopoDS_Shape &shape);

/// Returns whether both shapes have the same dominant type.
bool haveSameShapeType(TopoDS_Shape first, TopoDS_Shape second);

/// Returns whether some vertex of `first` lies within 1e-6 of some vertex of `second`.
bool haveCoincidentVertex(const TopoDS_Shape &first, const TopoDS_Shape &second);

/// Returns whether the magnitude of the dominant type's measure is below 1e-8; never true for the vertex class.
bool isNegligibleShape(const TopoDS_Shape &shape);

/// Returns the length of the bounding-box diagonal (triangulation used where present, no gap).
double getBoundingBoxDiagonal(const TopoDS_Shape &shape);

/// Returns the length of the shortest edge, or 1e20 when the shape has no edge.
double getMinEdgeLength(const TopoDS_Shape &shape);

/// Returns the volume of the whole shape.
double getVolume(const TopoDS_Shape &shape);

/// Returns the area of the whole shape.
double getArea(const TopoDS_Shape &shape);

/// Returns the total edge length of the whole shape.
double getLength(const TopoDS_Shape &shape);

/// Returns the centre of mass of the dominant type's measure; for the vertex class, the point of the
/// first vertex. Throws when the shape has no vertex at all.
gp_Pnt getCenterOfMass(const TopoDS_Shape &shape);

/// Returns whether some face of some shell is oriented TopAbs_INTERNAL.
bool hasInternalFaces(const TopoDS_Shape &shape);

// --- Shape overlap ----------------------------------------------------------
// Overlap means a common part of full dimension, the dimension of the shape the test dispatches on:
// the first shape, or, when the first is a compound, the other one.

/// Returns whether the Boolean common of the shapes holds a solid, face or edge, by the first shape's
/// type; a compound first is tested through its dominant sub-shapes. Shapes whose bounding boxes
/// (with tolerances) are apart answer false without the Boolean. Throws nimbo_exception when the
/// Boolean operation fails or would have to take a face without surface (a triangulation only).
bool doShapesOverlap(const TopoDS_Shape &first, const TopoDS_Shape &second);

/// Returns whether `shape` overlaps some candidate (doShapesOverlap, shape first), trying them in order.
bool doesShapeOverlapAny(const TopoDS_Shape &shape, const TopTools_ListOfShape &candidates);

/// Returns whether the common part of the shapes holds a solid.
bool doSolidsOverlap(TopoDS_Shape first, TopoDS_Shape second);

/// Returns whether the common part of the shapes holds a face.
bool doFacesOverlap(TopoDS_Shape first, TopoDS_Shape second);

/// Returns whether the common part of the shapes holds an edge.
bool doEdgesOverlap(TopoDS_Shape first, TopoDS_Shape second);

/// Returns a box that holds everything a Boolean operation can treat as part of the shape: the box of
/// its geometry grown by its largest tolerance and by the Boolean's own fuzzy distance. Shapes whose
/// reaches are apart have an empty common. Void for a shape without geometry.
Bnd_Box getShapeReach(const TopoDS_Shape &shape);

// --- Shape statistics and axial volume --------------------------------------

/// The figures of a shape, in the shape's length unit. Fields the shape's type does not write keep
/// the caller's values: the record is never reset.
struct ShapeStatistics {
  double xmax;
  double ymax;
  double zmax;
  double xmin;
  double ymin;
  double zmin;
  double centerX;
  double centerY;
  double centerZ;
  double length;       ///< edge-type shapes
  double area;         ///< face-type shapes
  double volume;       ///< solid-type shapes
  double axialVolume;  ///< face-type shapes: revolved about the Y axis when centerZ is exactly 0
};

/// Fills the record with the bounding box, centre and measure of the shape's dominant type; for the
/// vertex class only the centre (the first vertex). Throws nimbo_exception when the box cannot be computed.
void getShapeStatistics(const TopoDS_Shape &shape, ShapeStatistics &statistics);

/// Returns the volume swept by revolving every planar face parallel to XY (within 0.05 rad) a full turn
/// about the Y axis, when z is exactly 0.0; otherwise, or for a null pointer, 0.0. A face whose
/// revolution fails is logged and left out.
double getAxialVolume(const TopoDS_Shape *shape, const double z);

// --- Shape editing and queries ----------------------------------------------

/// Returns a copy of the shape scaled by `factor` about the origin. Throws nimbo_exception for a null
/// shape and for one holding a face without surface (a triangulation only).
TopoDS_Shape scaleShape(TopoDS_Shape shape, double factor);

/// Chains the shape's edges into wires by coinciding end vertices (within 1e-6), one forward pass per wire.
TopTools_ListOfShape makeWires(const TopoDS_Shape &shape);

/// Returns the normal of the face's surface at parameters (0, 0), ignoring the face's orientation.
/// Throws nimbo_exception when the shape is not a face or the face has no surface (a triangulation only).
gp_Dir getFaceNormal(TopoDS_Shape shape);

/// Returns the minimum distance between the shapes and sets `vector` from the first shape's closest
/// point to the second's; 1e20 and a zero vector when the computation finds none. A shape the kernel
/// cannot measure at all (an empty compound) raises the kernel's exception.
double getMinDistance(TopoDS_Shape shape1, TopoDS_Shape shape2, gp_Vec &vector);

// --- CAD import, length units and export ------------------------------------
// Shapes come in and go out in the kernel's length unit; the kernel converts from and to the
// file's own unit.

/// Reads a STEP file into one shape; a file without transferable content, or one that cannot be
/// read, gives a null shape. Throws nimbo_exception naming the file when it is damaged
/// (nimbo::stepReadProblem). Switches on non-manifold STEP reading for the whole process.
TopoDS_Shape readStep(std::string path);

/// Reads a STEP file as readStep(path) does, reporting the transfer's progress to `progress`.
TopoDS_Shape readStep(std::string path, const Message_ProgressRange &progress);

/// Reads a STEP file as readStep(path, progress) does, and sets `warning` to what the read left out
/// ("STEP file a.stp: " and nimbo::stepReadWarning), or to none.
TopoDS_Shape readStep(const std::string &path, const Message_ProgressRange &progress,
                      std::optional<std::string> &warning);

/// Reads an IGES file holding B-Rep solids into one shape. Throws nimbo_exception naming the file
/// (without its directory) when it holds no B-Rep entity, the read does not succeed, or a root
/// entity gave no shape (nimbo::igesReadProblem).
TopoDS_Shape readIges(std::string path);

/// Reads an IGES file as readIges(path) does, reporting the transfer's progress to `progress`.
TopoDS_Shape readIges(std::string path, const Message_ProgressRange &progress);

/// Returns the kernel's unit code ("MM", "INCH", ...) for a STEP length-unit name ("millimetre",
/// "inch", ...), ignoring case; any other name gives "M" and a warning on standard error.
std::string stepUnitToOccUnit(std::string unit);

/// Writes the shape to a STEP file with the kernel's current STEP settings. Throws nimbo_exception
/// when the shape cannot be translated or the file cannot be written, leaving any earlier file as it was.
void writeStep(const TopoDS_Shape &shape, std::string path);

/// Writes the shape with its triangulation and normals to a BREP file (format version 1). Throws
/// nimbo_exception when the file cannot be written, leaving any earlier file as it was.
void writeBrep(const TopoDS_Shape &shape, std::string path);

/// Reads a BREP file into one shape; a file that cannot be read as BREP gives a null shape.
TopoDS_Shape readBrep(std::string path, const Message_ProgressRange &progress = Message_ProgressRange());

namespace nimbo {

/// The shape files nimbo reads, told apart by their extension in any case.
enum class ShapeFormat {
  step,  ///< .step, .stp
  iges,  ///< .iges, .igs
  brep,  ///< .brep
};

/// The extensions of shapeFormatOf, as a sentence ends them: ".step, .stp, .iges, .igs or .brep".
extern const char *const shapeFileExtensions;

/// The format the path's extension names; none for any other extension.
std::optional<ShapeFormat> shapeFormatOf(const std::string &path);

/// Why `path` cannot be read as a shape file, in words for its user ("is a directory", "unknown
/// extension ".txt"; expected ...", "holds a number that is not finite (NAN in entity #64)"); none
/// when it has a known extension, opens for reading, and spells every number as a finite one (the
/// kernel takes "NAN" for a number, then hangs or builds geometry from it).
std::optional<std::string> shapeFileProblem(const std::string &path);

/// Why the STEP model `reader` has read and transferred cannot be trusted, in words that follow
/// the file's name ("is damaged: Unresolved Reference ... (Id.#443)"): the first failure its parser
/// found that may have cost a shape, or a solid entity that transferred as something less; none
/// when neither. The kernel would drop or degrade such a solid without a word. A failure may cost
/// a shape when it is a reference to an entity the file does not hold, or a failing parameter
/// (other than a name, description or id) of an entity that shapes need: geometry, topology,
/// placements, shape representations, their units, the product structure; where such an entity
/// only lost entries of a list that may not hold them, when an entry it lost is one of those.
std::optional<std::string> stepReadProblem(const STEPControl_Reader &reader);

/// The parser failures of the STEP model `reader` has read that cost no shape (presentation text,
/// fonts, descriptions), as one warning that follows the file's name: "the parser rejected
/// parameters of 9 entities that no shape needs (COMPOSITE_TEXT, 3 PRESENTATION_STYLE_ASSIGNMENT,
/// ...); read without them"; none when there are none, or when one may have cost a shape
/// (stepReadProblem).
std::optional<std::string> stepReadWarning(const STEPControl_Reader &reader);

/// The same for an IGES model `reader` has transferred: a root solid (entity type 186) that gave no
/// shape ("is damaged: its root entity of type 186 (directory entry 1) gave no shape"); none when
/// every root solid gave one.
std::optional<std::string> igesReadProblem(IGESControl_Reader &reader);

/// The measure of the shape by its dominant type, as the comparison takes it: the kernel's mass
/// properties of its volume, area or length (signed as integrated), with their centre of mass and
/// principal axes; none for the vertex class.
std::optional<GProp_GProps> getDominantMeasure(const TopoDS_Shape &shape);

/// The exact bounding box of the shape, without tolerance enlargement (triangulation used where
/// present, no gap), as the statistics give it; none when the kernel cannot compute it.
std::optional<Bnd_Box> getExactBoundingBox(const TopoDS_Shape &shape);

/// The words of a kernel failure for a message: "kernel failure <type>", then ": <its message>"
/// when it has one.
std::string kernelFailureText(const Standard_Failure &failure);

/// The minimum distance between the shapes, with `vector` from the first shape's closest point to
/// the second's, as getMinDistance finds them; none where it finds no distance.
std::optional<double> getDistance(const TopoDS_Shape &first, const TopoDS_Shape &second, gp_Vec &vector);

/// The kernel's name of a shape type in lower case: "compound", "solid", ..., "shape".
std::string shapeTypeName(TopAbs_ShapeEnum type);

}  // namespace nimbo
