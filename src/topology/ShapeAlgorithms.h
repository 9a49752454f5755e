// nimbo topology library: free functions that analyse OCCT shapes.
#pragma once

#include <TopAbs_ShapeEnum.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

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

/// Triangulates the shape with an absolute deflection of 0.1 % of its largest box extent and 0.5 rad;
/// degenerated edges are left alone.
void meshShape(TopoDS_Shape shape);

// --- Shape measures ---------------------------------------------------------

/// Returns TopAbs_SOLID, TopAbs_FACE or TopAbs_EDGE for such a shape, the highest of them held by a
/// compound, and TopAbs_VERTEX for everything else (vertex, wire, shell, compsolid, empty compound).
TopAbs_ShapeEnum getDominantShapeType(const TopoDS_Shape &shape);

/// Returns whether both shapes have the same dominant type.
bool haveSameShapeType(TopoDS_Shape first, TopoDS_Shape second);

/// Returns whether some vertex of `first` lies within 1e-6 of some vertex of `second`.
bool haveCoincidentVertex(const TopoDS_Shape &first, const TopoDS_Shape &second);

/// Returns whether the measure of the dominant type is below 1e-8; never true for the vertex class.
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
