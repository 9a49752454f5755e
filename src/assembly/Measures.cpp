#include "Measures.h"

#include "Tolerances.h"

#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepGProp.hxx>

#include <cmath>

namespace nimbo::detail {

std::optional<GProp_GProps> measureOf(const TopoDS_Shape &shape) {
  GProp_GProps properties;
  switch (getDominantShapeType(shape)) {
    case TopAbs_SOLID:
      BRepGProp::VolumeProperties(shape, properties, measurePrecision);
      return properties;
    case TopAbs_FACE:
      BRepGProp::SurfaceProperties(shape, properties, measurePrecision);
      return properties;
    case TopAbs_EDGE:
      return getDominantMeasure(shape);
    default:
      return std::nullopt;
  }
}

double volumeOf(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return 0.0;
  GProp_GProps properties;
  BRepGProp::VolumeProperties(shape, properties, measurePrecision);
  return std::abs(properties.Mass());
}

double areaOf(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return 0.0;
  GProp_GProps properties;
  BRepGProp::SurfaceProperties(shape, properties, measurePrecision);
  return properties.Mass();
}

}  // namespace nimbo::detail
