// Classification and measures of shapes.
#include <nimbo/topology/ShapeAlgorithms.h>
#include "ShapeProperties.h"

#include <nimbo/nimbo_exception.h>

#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <TopAbs.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

namespace nimbo::detail {

GProp_GProps measureProperties(const TopoDS_Shape &shape, TopAbs_ShapeEnum dominantType) {
  GProp_GProps gprops;
  switch (dominantType) {
    case TopAbs_SOLID:
      BRepGProp::VolumeProperties(shape, gprops, false, false, false);
      break;
    case TopAbs_FACE:
      BRepGProp::SurfaceProperties(shape, gprops, false, false);
      break;
    default:
      BRepGProp::LinearProperties(shape, gprops, false, false);
      break;
  }
  return gprops;
}

Bnd_Box boundingBox(const TopoDS_Shape &shape) {
  Bnd_Box box;
  box.SetGap(0.0);
  BRepBndLib::Add(shape, box, true);
  return box;
}

TopTools_ListOfShape representativeSubShapes(const TopoDS_Shape &compound) {
  TopTools_ListOfShape shape_list;
  for (TopExp_Explorer exp(compound, getDominantShapeType(compound), TopAbs_SHAPE); exp.More(); exp.Next()) {
    shape_list.Append(exp.Current());
  }
  return shape_list;
}

bool hasFaceWithoutSurface(const TopoDS_Shape &shape) {
  for (TopExp_Explorer faces(shape, TopAbs_FACE, TopAbs_SHAPE); faces.More(); faces.Next()) {
    TopLoc_Location location;
    if (BRep_Tool::Surface(TopoDS::Face(faces.Current()), location).IsNull()) return true;
  }
  return false;
}

}  // namespace nimbo::detail

using nimbo::detail::measureProperties;

namespace {

bool holds(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  return TopExp_Explorer(shape, type, TopAbs_SHAPE).More();
}

bool isMeasuredType(TopAbs_ShapeEnum type) {
  return type == TopAbs_SOLID || type == TopAbs_FACE || type == TopAbs_EDGE;
}

}  // namespace

TopAbs_ShapeEnum getDominantShapeType(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return TopAbs_VERTEX;
  const TopAbs_ShapeEnum own = shape.ShapeType();
  if (isMeasuredType(own)) return own;
  if (own != TopAbs_COMPOUND) return TopAbs_VERTEX;
  for (const TopAbs_ShapeEnum type : {TopAbs_SOLID, TopAbs_FACE, TopAbs_EDGE}) {
    if (holds(shape, type)) return type;
  }
  return TopAbs_VERTEX;
}

bool haveSameShapeType(TopoDS_Shape first, TopoDS_Shape second) {
  return getDominantShapeType(first) == getDominantShapeType(second);
}

bool haveCoincidentVertex(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  // Every pair is still compared, but each point is read once rather than once per pair.
  std::vector<gp_Pnt> points2;
  for (TopExp_Explorer explorer2(second, TopAbs_VERTEX, TopAbs_SHAPE); explorer2.More(); explorer2.Next()) {
    points2.push_back(BRep_Tool::Pnt(TopoDS::Vertex(explorer2.Current())));
  }
  if (points2.empty()) return false;
  for (TopExp_Explorer explorer1(first, TopAbs_VERTEX, TopAbs_SHAPE); explorer1.More(); explorer1.Next()) {
    const gp_Pnt point1 = BRep_Tool::Pnt(TopoDS::Vertex(explorer1.Current()));
    for (const gp_Pnt &point2 : points2) {
      if (nimbo::detail::arePointsCoincident(point1, point2)) return true;
    }
  }
  return false;
}

bool isNegligibleShape(const TopoDS_Shape &shape) {
  const TopAbs_ShapeEnum type = getDominantShapeType(shape);
  if (!isMeasuredType(type)) return false;
  // By magnitude: an inside-out solid of volume -1 is not negligible.
  return std::abs(measureProperties(shape, type).Mass()) < 1e-8;
}

double getBoundingBoxDiagonal(const TopoDS_Shape &shape) {
  double xmin, ymin, zmin, xmax, ymax, zmax;
  nimbo::detail::boundingBox(shape).Get(xmin, ymin, zmin, xmax, ymax, zmax);
  return std::sqrt(std::pow(xmax - xmin, 2) + std::pow(ymax - ymin, 2) + std::pow(zmax - zmin, 2));
}

double getMinEdgeLength(const TopoDS_Shape &shape) {
  double minimum = 1e20;
  for (TopExp_Explorer exp(shape, TopAbs_EDGE, TopAbs_SHAPE); exp.More(); exp.Next()) {
    const double length = measureProperties(exp.Current(), TopAbs_EDGE).Mass();
    if (length < minimum) minimum = length;
  }
  return minimum;
}

double getVolume(const TopoDS_Shape &shape) { return measureProperties(shape, TopAbs_SOLID).Mass(); }

double getArea(const TopoDS_Shape &shape) { return measureProperties(shape, TopAbs_FACE).Mass(); }

double getLength(const TopoDS_Shape &shape) { return measureProperties(shape, TopAbs_EDGE).Mass(); }

gp_Pnt getCenterOfMass(const TopoDS_Shape &shape) {
  const TopAbs_ShapeEnum type = getDominantShapeType(shape);
  if (isMeasuredType(type)) return measureProperties(shape, type).CentreOfMass();
  // A vertex, wire, shell or compound of vertices has no measure of its own: answer with the point
  // of its first vertex, as the statistics do.
  if (!shape.IsNull()) {
    TopExp_Explorer vertices(shape, TopAbs_VERTEX, TopAbs_SHAPE);
    if (vertices.More()) return BRep_Tool::Pnt(TopoDS::Vertex(vertices.Current()));
  }
  throw nimbo_exception(shape.IsNull() ? "Cannot compute the centre of mass of a null shape"
                                       : "Cannot compute the centre of mass of a shape without vertices");
}

bool hasInternalFaces(const TopoDS_Shape &shape) {
  TopTools_IndexedMapOfShape shellmap;
  TopExp::MapShapes(shape, TopAbs_SHELL, shellmap);
  // One face map for all shells: a face shared by two shells keeps the orientation it was first met with.
  TopTools_IndexedMapOfShape fmap;
  int checked = 0;
  for (int i = 1; i <= shellmap.Extent(); ++i) {
    TopExp::MapShapes(shellmap(i), TopAbs_FACE, fmap);
    for (; checked < fmap.Extent(); ++checked) {
      if (fmap(checked + 1).Orientation() == TopAbs_INTERNAL) return true;
    }
  }
  return false;
}

namespace nimbo {

std::optional<GProp_GProps> getDominantMeasure(const TopoDS_Shape &shape) {
  const TopAbs_ShapeEnum type = getDominantShapeType(shape);
  if (type == TopAbs_VERTEX) return std::nullopt;
  return detail::measureProperties(shape, type);
}

std::string kernelFailureText(const Standard_Failure &failure) {
  const std::string message = failure.GetMessageString() ? failure.GetMessageString() : "";
  const std::string type = failure.DynamicType()->Name();
  return message.empty() ? "kernel failure " + type : "kernel failure " + type + ": " + message;
}

std::string shapeTypeName(TopAbs_ShapeEnum type) {
  std::string name = TopAbs::ShapeTypeToString(type);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

}  // namespace nimbo
