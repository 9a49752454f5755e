// Small features of a solid and their removal. Private to the module.
#pragma once

#include <TopoDS_Shape.hxx>

#include <vector>

namespace nimbo::detail {

/// Connected faces that make one feature narrower than the element size.
struct Feature {
  std::vector<TopoDS_Shape> faces;
  double boxVolume = 0.0;  ///< of the faces' box: more than the feature can hold
};

/// The holes, bosses and fillets of the shape narrower than `size`: connected faces curved
/// everywhere to a radius under size / 2, with the faces that close them.
std::vector<Feature> smallFeatures(const TopoDS_Shape &shape, double size);

/// The shape with the features' faces removed and the faces around them extended; null when the
/// kernel cannot.
TopoDS_Shape withoutFeatures(const TopoDS_Shape &shape, const std::vector<Feature> &features);

}  // namespace nimbo::detail
