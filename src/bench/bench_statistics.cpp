// getShapeStatistics and getAxialVolume against the same property, box and revolution calls by hand.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "bench_shapes.h"

#include <benchmark/benchmark.h>
#include <BOPTools_AlgoTools3D.hxx>
#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <GeomLib_IsPlanarSurface.hxx>
#include <Geom_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

namespace {

const TopoDS_Shape solid = nimbo::test::box({0, 0, 0}, {1, 2, 3});
const TopoDS_Shape faceAtZ0 = nimbo::test::rectangleFace(1, 0, 2, 1);

void exactBox(const TopoDS_Shape &shape, ShapeStatistics &statistics) {
  Bnd_Box box;
  box.SetGap(0.0);
  BRepBndLib::AddOptimal(shape, box, true, false);
  box.Get(statistics.xmin, statistics.ymin, statistics.zmin, statistics.xmax, statistics.ymax, statistics.zmax);
}

// Revolves every face parallel to XY about the Y axis and sums the volumes.
double axialVolumeByHand(const TopoDS_Shape &shape) {
  double sum = 0.0;
  const gp_Dir zAxis(0, 0, 1);
  for (TopExp_Explorer faces(shape, TopAbs_FACE); faces.More(); faces.Next()) {
    const Handle(Geom_Surface) surface = BRep_Tool::Surface(TopoDS::Face(faces.Current()));
    if (!GeomLib_IsPlanarSurface(surface, 1e-7).IsPlanar()) continue;
    gp_Dir normal(1, 0, 0);
    BOPTools_AlgoTools3D::GetNormalToSurface(surface, 0.0, 0.0, normal);
    if (!normal.IsEqual(zAxis, 0.05) && !normal.IsOpposite(zAxis, 0.05)) continue;
    // A copy, so that the face keeps no curves of the revolved solid (the library does the same).
    BRepPrimAPI_MakeRevol revolution(faces.Current(), gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(0, 1, 0)), true);
    GProp_GProps props;
    BRepGProp::VolumeProperties(revolution.Shape(), props);
    sum += props.Mass();
  }
  return sum;
}

void BM_StatisticsSolid(benchmark::State &state) {
  ShapeStatistics statistics{};
  for (auto _ : state) {
    getShapeStatistics(solid, statistics);
    benchmark::DoNotOptimize(statistics);
  }
}
BENCHMARK(BM_StatisticsSolid)->Unit(benchmark::kMicrosecond);

void BM_StatisticsSolid_baseline(benchmark::State &state) {
  ShapeStatistics statistics{};
  for (auto _ : state) {
    GProp_GProps props;
    BRepGProp::VolumeProperties(solid, props);
    statistics.volume = props.Mass();
    statistics.centerX = props.CentreOfMass().X();
    exactBox(solid, statistics);
    benchmark::DoNotOptimize(statistics);
  }
}
BENCHMARK(BM_StatisticsSolid_baseline)->Unit(benchmark::kMicrosecond);

void BM_StatisticsFaceAtZ0(benchmark::State &state) {
  ShapeStatistics statistics{};
  for (auto _ : state) {
    getShapeStatistics(faceAtZ0, statistics);
    benchmark::DoNotOptimize(statistics);
  }
}
BENCHMARK(BM_StatisticsFaceAtZ0)->Unit(benchmark::kMicrosecond);

void BM_StatisticsFaceAtZ0_baseline(benchmark::State &state) {
  ShapeStatistics statistics{};
  for (auto _ : state) {
    GProp_GProps props;
    BRepGProp::SurfaceProperties(faceAtZ0, props);
    statistics.area = props.Mass();
    statistics.centerZ = props.CentreOfMass().Z();
    statistics.axialVolume = statistics.centerZ == 0.0 ? axialVolumeByHand(faceAtZ0) : 0.0;
    exactBox(faceAtZ0, statistics);
    benchmark::DoNotOptimize(statistics);
  }
}
BENCHMARK(BM_StatisticsFaceAtZ0_baseline)->Unit(benchmark::kMicrosecond);

void BM_AxialVolume(benchmark::State &state) {
  const TopoDS_Shape faces = nimbo::bench::rowOfSquaresAtZ0(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(getAxialVolume(&faces, 0.0));
}
BENCHMARK(BM_AxialVolume)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_AxialVolume_baseline(benchmark::State &state) {
  const TopoDS_Shape faces = nimbo::bench::rowOfSquaresAtZ0(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(axialVolumeByHand(faces));
}
BENCHMARK(BM_AxialVolume_baseline)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
