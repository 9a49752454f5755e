#include "commands.h"

#include "shape_files.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int countOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  TopTools_IndexedMapOfShape shapes;
  TopExp::MapShapes(shape, type, shapes);
  return shapes.Extent();
}

std::optional<double> measureOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum dominant_type) {
  switch (dominant_type) {
    case TopAbs_SOLID:
      return getVolume(shape);
    case TopAbs_FACE:
      return getArea(shape);
    case TopAbs_EDGE:
      return getLength(shape);
    default:
      return std::nullopt;
  }
}

// The box the comparison uses: mesh where there is one, no gap.
ShapeFigures figuresOf(const std::string &file, const TopoDS_Shape &shape) {
  ShapeFigures figures;
  figures.file = file;
  figures.shape_type = shape.ShapeType();
  figures.dominant_type = getDominantShapeType(shape);
  figures.measure = measureOf(shape, figures.dominant_type);
  figures.center = getCenterOfMass(shape);
  Bnd_Box box;
  box.SetGap(0.0);
  BRepBndLib::Add(shape, box, true);
  figures.box_min = box.CornerMin();
  figures.box_max = box.CornerMax();
  return figures;
}

// The length whose 0.1 % bounds the distance between centres: cube root of a volume, square root
// of an area, a length itself.
double linearScale(TopAbs_ShapeEnum type, double measure) {
  switch (type) {
    case TopAbs_SOLID:
      return std::cbrt(measure);
    case TopAbs_FACE:
      return std::sqrt(measure);
    default:
      return measure;
  }
}

double largestExtent(const ShapeFigures &figures) {
  const gp_XYZ extent = figures.box_max.XYZ() - figures.box_min.XYZ();
  return std::max({extent.X(), extent.Y(), extent.Z()});
}

// The comparison's own checks, reproduced to show the figures behind its verdict. They apply as
// such only to two single shapes of one measured type; a compound is compared through its parts.
DirectionChecks checksOf(bool equal, const ShapeFigures &first, const ShapeFigures &second) {
  DirectionChecks checks{};
  checks.equal = equal;
  const bool single = first.shape_type == first.dominant_type && second.shape_type == second.dominant_type;
  if (!single || first.shape_type != second.shape_type || !first.measure || !second.measure) return checks;
  checks.checked = true;
  checks.measure_difference = std::abs(*first.measure - *second.measure);
  checks.measure_tolerance = 0.001 * std::abs(*first.measure);
  checks.center_distance = first.center.Distance(second.center);
  checks.center_tolerance = 0.001 * linearScale(first.dominant_type, std::abs(*first.measure));
  const gp_XYZ min_difference = first.box_min.XYZ() - second.box_min.XYZ();
  const gp_XYZ max_difference = first.box_max.XYZ() - second.box_max.XYZ();
  checks.box_deviation = 0.0;
  for (int i = 1; i <= 3; ++i) {
    checks.box_deviation =
        std::max({checks.box_deviation, std::abs(min_difference.Coord(i)), std::abs(max_difference.Coord(i))});
  }
  checks.box_tolerance = 0.04 * std::max(largestExtent(first), largestExtent(second));
  return checks;
}

std::string pairName(const std::string &first, const std::string &second) { return first + " and " + second; }

}  // namespace

StatsReport statsOf(const std::string &file) {
  const TopoDS_Shape shape = readShapeFile(file);
  return about(file, [&] {
    StatsReport report;
    report.file = file;
    report.shape_type = shape.ShapeType();
    report.dominant_type = getDominantShapeType(shape);
    report.solids = countOf(shape, TopAbs_SOLID);
    report.faces = countOf(shape, TopAbs_FACE);
    report.edges = countOf(shape, TopAbs_EDGE);
    report.vertices = countOf(shape, TopAbs_VERTEX);
    // The record is filled, never reset: NaN marks what the shape's type leaves alone.
    const double unset = std::numeric_limits<double>::quiet_NaN();
    report.statistics = {unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset};
    getShapeStatistics(shape, report.statistics);
    report.bounding_box_diagonal = getBoundingBoxDiagonal(shape);
    if (report.edges > 0) report.min_edge_length = getMinEdgeLength(shape);
    report.negligible = isNegligibleShape(shape);
    report.internal_faces = hasInternalFaces(shape);
    return report;
  });
}

CompareReport compareFiles(const std::string &first, const std::string &second) {
  const TopoDS_Shape first_shape = readShapeFile(first);
  const TopoDS_Shape second_shape = readShapeFile(second);
  return about(pairName(first, second), [&] {
    // The verdicts come first: comparing meshes the shapes, and the boxes shown are then the ones
    // the comparison saw.
    const bool forward = areShapesEqual(first_shape, second_shape);
    const bool backward = areShapesEqual(second_shape, first_shape);
    CompareReport report;
    report.first = figuresOf(first, first_shape);
    report.second = figuresOf(second, second_shape);
    report.forward = checksOf(forward, report.first, report.second);
    report.backward = checksOf(backward, report.second, report.first);
    return report;
  });
}

OverlapReport overlapOf(const std::string &first, const std::string &second) {
  const TopoDS_Shape first_shape = readShapeFile(first);
  const TopoDS_Shape second_shape = readShapeFile(second);
  const bool overlap = about(pairName(first, second), [&] { return doShapesOverlap(first_shape, second_shape); });
  return {first, second, overlap};
}

DistanceReport distanceOf(const std::string &first, const std::string &second) {
  const TopoDS_Shape first_shape = readShapeFile(first);
  const TopoDS_Shape second_shape = readShapeFile(second);
  gp_Vec vector;
  const double distance =
      about(pairName(first, second), [&] { return getMinDistance(first_shape, second_shape, vector); });
  // The library answers 1e20 when the computation fails; that is no distance to print.
  if (distance >= 1e20) throw tool_error(pairName(first, second), "the minimum distance could not be computed");
  return {first, second, distance, vector};
}

ConvertReport convertFile(const std::string &input, const std::string &output, double scale) {
  checkWritablePath(output);
  TopoDS_Shape shape = readShapeFile(input);
  if (scale != 1.0) shape = about(input, [&] { return scaleShape(shape, scale); });
  writeShapeFile(shape, output);
  return {input, output, scale, getDominantShapeType(shape)};
}
