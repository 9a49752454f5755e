// areShapesEqual against the same work by hand: two meshes, two property computations, two boxes.
// Every iteration starts from unmeshed shapes, as a comparison of freshly imported shapes does.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "bench_shapes.h"

#include <benchmark/benchmark.h>
#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepTools.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>

#include <algorithm>
#include <cmath>

namespace {

struct Pair {
  TopoDS_Shape first;
  TopoDS_Shape second;
};

Pair equalBoxes() {
  return {nimbo::test::box({0.1, 0.1, 0.1}, {100000, 200000, 300000}),
          nimbo::test::box({0, 0, 0}, {100000.1, 200000.1, 300000.1})};
}

// Same volume and centre, so the comparison runs to the boxes.
Pair sphereAndCube() {
  return {BRepPrimAPI_MakeSphere(gp_Pnt(0, 0, 0), std::pow(0.23873241463784303, 1.0 / 3.0)).Shape(),
          nimbo::test::box({-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5})};
}

Pair shaftFaces() {
  return {nimbo::bench::topologyAsset("shaft_small_face_1.brep"),
          nimbo::bench::topologyAsset("shaft_small_face_2.brep")};
}

void forgetMeshes(benchmark::State &state, const Pair &pair) {
  state.PauseTiming();
  BRepTools::Clean(pair.first);
  BRepTools::Clean(pair.second);
  state.ResumeTiming();
}

// Box, mesh at 0.1 % of the largest extent, measure; then compare measure, centre and box bounds.
bool equalByHand(const Pair &pair, bool solids) {
  Bnd_Box boxes[2];
  GProp_GProps props[2];
  const TopoDS_Shape *shapes[2] = {&pair.first, &pair.second};
  double extent = 0.0;
  for (int i = 0; i < 2; ++i) {
    BRepBndLib::Add(*shapes[i], boxes[i], true);
    const gp_XYZ size = boxes[i].CornerMax().XYZ() - boxes[i].CornerMin().XYZ();
    const double largest = std::max({size.X(), size.Y(), size.Z()});
    extent = std::max(extent, largest);
    const BRepMesh_IncrementalMesh mesh(*shapes[i], 0.001 * largest, false, 0.5, false);
    if (solids) {
      BRepGProp::VolumeProperties(*shapes[i], props[i]);
    } else {
      BRepGProp::SurfaceProperties(*shapes[i], props[i]);
    }
  }
  const double m = std::abs(props[0].Mass());
  if (std::abs(props[0].Mass() - props[1].Mass()) > 0.001 * m) return false;
  const double scale = solids ? std::cbrt(m) : std::sqrt(m);
  if (!props[0].CentreOfMass().IsEqual(props[1].CentreOfMass(), 0.001 * scale)) return false;
  double bounds[2][6];
  for (int i = 0; i < 2; ++i) {
    boxes[i].Get(bounds[i][0], bounds[i][1], bounds[i][2], bounds[i][3], bounds[i][4], bounds[i][5]);
  }
  for (int k = 0; k < 6; ++k) {
    if (!(std::abs(bounds[0][k] - bounds[1][k]) < 0.04 * extent)) return false;
  }
  return true;
}

void runLibrary(benchmark::State &state, const Pair &pair) {
  for (auto _ : state) {
    forgetMeshes(state, pair);
    benchmark::DoNotOptimize(areShapesEqual(pair.first, pair.second));
  }
}

void runByHand(benchmark::State &state, const Pair &pair, bool solids) {
  for (auto _ : state) {
    forgetMeshes(state, pair);
    benchmark::DoNotOptimize(equalByHand(pair, solids));
  }
}

void BM_ShapesEqualBoxes(benchmark::State &state) { runLibrary(state, equalBoxes()); }
void BM_ShapesEqualBoxes_baseline(benchmark::State &state) { runByHand(state, equalBoxes(), true); }
void BM_ShapesEqualSphereCube(benchmark::State &state) { runLibrary(state, sphereAndCube()); }
void BM_ShapesEqualSphereCube_baseline(benchmark::State &state) { runByHand(state, sphereAndCube(), true); }
void BM_ShapesEqualShaftFaces(benchmark::State &state) { runLibrary(state, shaftFaces()); }
void BM_ShapesEqualShaftFaces_baseline(benchmark::State &state) { runByHand(state, shaftFaces(), false); }

BENCHMARK(BM_ShapesEqualBoxes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShapesEqualBoxes_baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShapesEqualSphereCube)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShapesEqualSphereCube_baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShapesEqualShaftFaces)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShapesEqualShaftFaces_baseline)->Unit(benchmark::kMicrosecond);

}  // namespace
