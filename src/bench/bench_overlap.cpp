// doShapesOverlap and doesShapeOverlapAny against one Boolean common (and one explorer) per pair.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "bench_shapes.h"

#include <benchmark/benchmark.h>
#include <BRepAlgoAPI_Common.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>

namespace {

using nimbo::test::box;

const TopoDS_Shape unitBox = box({0, 0, 0}, {1, 1, 1});
const TopoDS_Shape overlappingBox = box({0.5, 0.5, 0.5}, {2, 2, 2});

bool solidsOverlapByHand(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  BRepAlgoAPI_Common common(first, second);
  return TopExp_Explorer(common.Shape(), TopAbs_SOLID).More();
}

// 1000 unit boxes on a 10 x 10 x 10 grid far from the unit box, then one that overlaps it.
TopTools_ListOfShape farCandidatesThenOverlapping() {
  TopTools_ListOfShape candidates;
  for (int i = 0; i < 1000; ++i) {
    const gp_Pnt corner(10 + 2 * (i % 10), 10 + 2 * (i / 10 % 10), 10 + 2 * (i / 100));
    candidates.Append(box(corner, corner.Translated(gp_Vec(1, 1, 1))));
  }
  candidates.Append(overlappingBox);
  return candidates;
}

void BM_ShapesOverlapBoxes(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(doShapesOverlap(unitBox, overlappingBox));
}
BENCHMARK(BM_ShapesOverlapBoxes)->Unit(benchmark::kMicrosecond);

void BM_ShapesOverlapBoxes_baseline(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(solidsOverlapByHand(unitBox, overlappingBox));
}
BENCHMARK(BM_ShapesOverlapBoxes_baseline)->Unit(benchmark::kMicrosecond);

void BM_OverlapAnyOf1000Far(benchmark::State &state) {
  const TopTools_ListOfShape candidates = farCandidatesThenOverlapping();
  for (auto _ : state) benchmark::DoNotOptimize(doesShapeOverlapAny(unitBox, candidates));
}
BENCHMARK(BM_OverlapAnyOf1000Far)->Unit(benchmark::kMillisecond);

void BM_OverlapAnyOf1000Far_baseline(benchmark::State &state) {
  const TopTools_ListOfShape candidates = farCandidatesThenOverlapping();
  for (auto _ : state) {
    bool found = false;
    for (auto it = candidates.cbegin(); !found && it != candidates.cend(); ++it) {
      found = solidsOverlapByHand(unitBox, *it);
    }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_OverlapAnyOf1000Far_baseline)->Unit(benchmark::kMillisecond);

}  // namespace
