// Shapes shared by the benchmarks: the topology driver's assets and models of a chosen size.
#pragma once

#include "test_helpers.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <Message_ProgressRange.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shape.hxx>

#include <stdexcept>
#include <string>

namespace nimbo::bench {

/// One of the topology driver's BREP assets; throws when it cannot be read, so no figure is taken on a null shape.
inline TopoDS_Shape topologyAsset(const std::string &name) {
  TopoDS_Shape shape;
  BRep_Builder builder;
  const std::string path = std::string(NIMBO_TESTS_DIR) + "/topology/assets/" + name;
  if (!BRepTools::Read(shape, path.c_str(), builder, Message_ProgressRange()) || shape.IsNull()) {
    throw std::runtime_error("Cannot read " + path);
  }
  return shape;
}

/// Builds a compound of `count` shapes, the i-th made by `make(i)`.
template <typename Make>
TopoDS_Compound compoundOfCount(int count, Make make) {
  TopoDS_Compound compound;
  BRep_Builder builder;
  builder.MakeCompound(compound);
  for (int i = 0; i < count; ++i) builder.Add(compound, make(i));
  return compound;
}

/// `count` unit boxes in a row along X, one unit apart.
inline TopoDS_Compound rowOfBoxes(int count) {
  return compoundOfCount(count, [](int i) { return test::box({2.0 * i, 0, 0}, {2.0 * i + 1, 1, 1}); });
}

/// `count` free vertices on the line Y = y, one unit apart.
inline TopoDS_Compound rowOfVertices(int count, double y) {
  return compoundOfCount(count, [y](int i) { return BRepBuilderAPI_MakeVertex(gp_Pnt(i, y, 0)).Vertex(); });
}

/// `count` unit segments along Y that share no vertex: chaining them gives `count` wires.
inline TopoDS_Compound separateSegments(int count) {
  return compoundOfCount(count, [](int i) { return BRepBuilderAPI_MakeEdge(gp_Pnt(i, 0, 0), gp_Pnt(i, 1, 0)).Edge(); });
}

/// `count` unit squares at Z = 0, off the Y axis so that each revolves into a ring.
inline TopoDS_Compound rowOfSquaresAtZ0(int count) {
  return compoundOfCount(count, [](int i) { return test::rectangleFace(1, 2.0 * i, 2, 2.0 * i + 1); });
}

}  // namespace nimbo::bench
