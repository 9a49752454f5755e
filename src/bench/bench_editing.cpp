// haveCoincidentVertex and makeWires as the model grows: both compare every pair, so both are
// quadratic. The baselines make the same kernel calls by hand, reading each point once.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "bench_shapes.h"

#include <benchmark/benchmark.h>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRep_Tool.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <vector>

namespace {

std::vector<gp_Pnt> vertexPoints(const TopoDS_Shape &shape) {
  std::vector<gp_Pnt> points;
  for (TopExp_Explorer vertices(shape, TopAbs_VERTEX); vertices.More(); vertices.Next()) {
    points.push_back(BRep_Tool::Pnt(TopoDS::Vertex(vertices.Current())));
  }
  return points;
}

bool coincidentByHand(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  const std::vector<gp_Pnt> points1 = vertexPoints(first);
  const std::vector<gp_Pnt> points2 = vertexPoints(second);
  for (const gp_Pnt &p1 : points1) {
    for (const gp_Pnt &p2 : points2) {
      if (p1.Distance(p2) <= 1e-6) return true;
    }
  }
  return false;
}

struct EdgeEnds {
  TopoDS_Edge edge;
  gp_Pnt first;
  gp_Pnt last;
};

// One forward pass per wire, joining an edge to whichever open end it meets.
TopTools_ListOfShape wiresByHand(const TopoDS_Shape &shape) {
  std::vector<EdgeEnds> edges;
  for (TopExp_Explorer explorer(shape, TopAbs_EDGE); explorer.More(); explorer.Next()) {
    const TopoDS_Edge edge = TopoDS::Edge(explorer.Current());
    edges.push_back({edge, BRep_Tool::Pnt(TopExp::FirstVertex(edge)), BRep_Tool::Pnt(TopExp::LastVertex(edge))});
  }
  TopTools_ListOfShape wires;
  while (!edges.empty()) {
    gp_Pnt start = edges.front().first;
    gp_Pnt end = start;
    BRepBuilderAPI_MakeWire wire;
    for (auto it = edges.begin(); it != edges.end();) {
      bool joined = true;
      if (it->first.Distance(start) <= 1e-6) {
        start = it->last;
      } else if (it->last.Distance(start) <= 1e-6) {
        start = it->first;
      } else if (it->first.Distance(end) <= 1e-6) {
        end = it->last;
      } else if (it->last.Distance(end) <= 1e-6) {
        end = it->first;
      } else {
        joined = false;
      }
      if (joined) {
        wire.Add(it->edge);
        it = edges.erase(it);
      } else {
        ++it;
      }
    }
    wires.Append(wire.Wire());
  }
  return wires;
}

int count(const benchmark::State &state) { return static_cast<int>(state.range(0)); }

// Two rows of vertices one unit apart: no pair coincides, so every pair is compared.
void BM_CoincidentVertex(benchmark::State &state) {
  const TopoDS_Shape first = nimbo::bench::rowOfVertices(count(state), 0.0);
  const TopoDS_Shape second = nimbo::bench::rowOfVertices(count(state), 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(haveCoincidentVertex(first, second));
}
BENCHMARK(BM_CoincidentVertex)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_CoincidentVertex_baseline(benchmark::State &state) {
  const TopoDS_Shape first = nimbo::bench::rowOfVertices(count(state), 0.0);
  const TopoDS_Shape second = nimbo::bench::rowOfVertices(count(state), 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(coincidentByHand(first, second));
}
BENCHMARK(BM_CoincidentVertex_baseline)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Segments that share no vertex: every pass makes one wire and compares it with every other edge.
void BM_MakeWires(benchmark::State &state) {
  const TopoDS_Shape segments = nimbo::bench::separateSegments(count(state));
  for (auto _ : state) benchmark::DoNotOptimize(makeWires(segments));
}
BENCHMARK(BM_MakeWires)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_MakeWires_baseline(benchmark::State &state) {
  const TopoDS_Shape segments = nimbo::bench::separateSegments(count(state));
  for (auto _ : state) benchmark::DoNotOptimize(wiresByHand(segments));
}
BENCHMARK(BM_MakeWires_baseline)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
