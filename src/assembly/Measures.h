// The one measure of the assembly layer, so that a part measures the same in every command: volumes
// and areas integrated adaptively to one stated precision, face by face, and planar faces bounded by
// lines and arcs in closed form. Private to the module.
#pragma once

#include <GProp_GProps.hxx>
#include <TopoDS_Shape.hxx>

#include <optional>

namespace nimbo::detail {

/// The mass properties of the shape by its dominant type (volume, area or length), volumes and areas
/// integrated to measurePrecision; none for the vertex class.
std::optional<GProp_GProps> measureOf(const TopoDS_Shape &shape);

/// The magnitude of the shape's volume to measurePrecision; 0 for a null shape.
double volumeOf(const TopoDS_Shape &shape);

/// The shape's area to measurePrecision; 0 for a null shape.
double areaOf(const TopoDS_Shape &shape);

}  // namespace nimbo::detail
