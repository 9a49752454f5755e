// stats: the shape library's statistics, counts and measures of the shape in each file (of the
// whole assembly, for a STEP file whose parts are files of their own).
#include "shape_files.h"
#include "subcommand.h"

#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <limits>

namespace {

int countOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  TopTools_IndexedMapOfShape shapes;
  TopExp::MapShapes(shape, type, shapes);
  return shapes.Extent();
}

Outcome statsOf(const std::string &file) {
  // An assembly whose parts are files of their own is measured whole.
  const TopoDS_Shape shape = readShapeFile(file, true);
  return about(file, [&] {
    // The record is filled, never reset: NaN marks what the shape's type leaves alone.
    const double unset = std::numeric_limits<double>::quiet_NaN();
    ShapeStatistics s{unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset};
    getShapeStatistics(shape, s);
    const int edges = countOf(shape, TopAbs_EDGE);
    return Outcome{{{"file", file},
                    {"shape_type", nimbo::shapeTypeName(shape.ShapeType())},
                    {"dominant_type", nimbo::shapeTypeName(getDominantShapeType(shape))},
                    {"counts",
                     {{"solids", countOf(shape, TopAbs_SOLID)},
                      {"faces", countOf(shape, TopAbs_FACE)},
                      {"edges", edges},
                      {"vertices", countOf(shape, TopAbs_VERTEX)}}},
                    {"statistics",
                     {{"xmax", orNull(s.xmax)},
                      {"ymax", orNull(s.ymax)},
                      {"zmax", orNull(s.zmax)},
                      {"xmin", orNull(s.xmin)},
                      {"ymin", orNull(s.ymin)},
                      {"zmin", orNull(s.zmin)},
                      {"center_x", orNull(s.centerX)},
                      {"center_y", orNull(s.centerY)},
                      {"center_z", orNull(s.centerZ)},
                      {"length", orNull(s.length)},
                      {"area", orNull(s.area)},
                      {"volume", orNull(s.volume)},
                      {"axial_volume", orNull(s.axialVolume)}}},
                    {"bounding_box_diagonal", getBoundingBoxDiagonal(shape)},
                    // No edge, no shortest edge.
                    {"min_edge_length", edges > 0 ? json(getMinEdgeLength(shape)) : json(nullptr)},
                    {"negligible", isNegligibleShape(shape)},
                    {"internal_faces", hasInternalFaces(shape)}},
                   printFields};
  });
}

}  // namespace

extern const Subcommand stats_command{"stats", "Statistics, counts and measures of the shape in each FILE", statsOf};
