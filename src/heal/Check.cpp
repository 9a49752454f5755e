// The check: what in a part keeps it from meshing at the element size H, each finding named by the
// part's own face and edge numbers.
#include "Inspect.h"

#include <nimbo/nimbo_exception.h>

#include <BOPAlgo_ArgumentAnalyzer.hxx>
#include <BOPAlgo_CheckResult.hxx>
#include <BRepAdaptor_Curve.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GCPnts_AbscissaPoint.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressScope.hxx>
#include <ShapeFix_Solid.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace nimbo {
namespace detail {
namespace {

double lengthOf(const TopoDS_Edge &edge) {
  if (BRep_Tool::Degenerated(edge)) return 0.0;
  try {
    return GCPnts_AbscissaPoint::Length(BRepAdaptor_Curve(edge));
  } catch (const Standard_Failure &) {
    return 0.0;  // an edge without a curve is the analyzer's finding, not a short edge
  }
}

// How far each free edge lies from the other free edges, as the largest of three samples along it:
// the width of the gap it borders. A free edge whose neighbours are all farther than `reach` borders
// a hole, not a gap, and is left out.
std::vector<Finding> gapsBetween(const std::vector<int> &free, const TopTools_IndexedMapOfShape &edges, double reach,
                                 double closable) {
  std::vector<Finding> gaps;
  // Each gap is bordered by two edges; beyond a few hundred, a surface model rather than a gap.
  if (free.size() < 2 || free.size() > 400) return gaps;
  for (const int k : free) {
    TopoDS_Compound others;
    BRep_Builder builder;
    builder.MakeCompound(others);
    for (const int other : free) {
      if (other != k) builder.Add(others, edges(other));
    }
    const TopoDS_Edge &edge = TopoDS::Edge(edges(k));
    const BRepAdaptor_Curve curve(edge);
    double width = 0.0;
    for (const double share : {0.25, 0.5, 0.75}) {
      const gp_Pnt point =
          curve.Value(curve.FirstParameter() + share * (curve.LastParameter() - curve.FirstParameter()));
      BRepExtrema_DistShapeShape distance(BRepBuilderAPI_MakeVertex(point).Vertex(), others);
      width = std::max(width, distance.IsDone() ? distance.Value() : reach * 2);
    }
    if (width > reach) continue;
    gaps.push_back({"gap", {}, {k}, width, width <= closable});
  }
  return gaps;
}

std::vector<Finding> invalidity(const TopoDS_Shape &shape, const TopTools_IndexedMapOfShape &faces,
                                const TopTools_IndexedMapOfShape &edges) {
  const BRepCheck_Analyzer analyzer(shape, true, true);
  if (analyzer.IsValid()) return {};
  Finding finding{"invalid", {}, {}, std::nullopt, true};
  for (int k = 1; k <= faces.Extent(); ++k) {
    if (!analyzer.IsValid(faces(k))) finding.faces.push_back(k);
  }
  for (int k = 1; k <= edges.Extent(); ++k) {
    if (!analyzer.IsValid(edges(k))) finding.edges.push_back(k);
  }
  return {finding};
}

Finding selfIntersection(const TopoDS_Shape &shape, const TopTools_IndexedMapOfShape &faces,
                         const TopTools_IndexedMapOfShape &edges) {
  BOPAlgo_ArgumentAnalyzer analyzer;
  analyzer.SetShape1(shape);
  analyzer.ArgumentTypeMode() = false;
  analyzer.SelfInterMode() = true;
  analyzer.SmallEdgeMode() = false;
  analyzer.RebuildFaceMode() = false;
  analyzer.TangentMode() = false;
  analyzer.MergeVertexMode() = false;
  analyzer.MergeEdgeMode() = false;
  analyzer.ContinuityMode() = false;
  analyzer.CurveOnSurfaceMode() = false;
  analyzer.SetRunParallel(true);
  analyzer.Perform();
  Finding finding{"self-intersection", {}, {}, std::nullopt, false};
  if (!analyzer.HasFaulty()) return finding;
  for (const BOPAlgo_CheckResult &result : analyzer.GetCheckResult()) {
    if (result.GetCheckStatus() != BOPAlgo_SelfIntersect) continue;
    for (const TopoDS_Shape &faulty : result.GetFaultyShapes1()) {
      for (TopExp_Explorer face(faulty, TopAbs_FACE); face.More(); face.Next()) {
        if (const int k = faces.FindIndex(face.Current())) finding.faces.push_back(k);
      }
      if (faulty.ShapeType() == TopAbs_EDGE) {
        if (const int k = edges.FindIndex(faulty)) finding.edges.push_back(k);
      }
    }
  }
  for (std::vector<int> *list : {&finding.faces, &finding.edges}) {
    std::sort(list->begin(), list->end());
    list->erase(std::unique(list->begin(), list->end()), list->end());
  }
  // A self-intersection the analyzer saw but could not place still counts.
  if (finding.faces.empty() && finding.edges.empty()) finding.size = 0.0;
  return finding;
}

// Whether the faces of a part without solids close into solids once sewn at the gap tolerance.
Finding closure(const TopoDS_Shape &shape, const TopTools_IndexedMapOfShape &edges, double tolerance) {
  bool closed = false;
  const TopoDS_Shape joined = sewn(shape, tolerance, closed);
  if (closed) return {"closes when sewn", {}, {}, tolerance, true};
  Finding open{"open surface", {}, {}, 0.0, false};
  if (joined.IsNull()) return open;
  // The part's own edges that still border a single face once sewn, by where they lie.
  TopTools_IndexedMapOfShape sewnEdges;
  TopExp::MapShapes(joined, TopAbs_EDGE, sewnEdges);
  TopoDS_Compound loose;
  BRep_Builder builder;
  builder.MakeCompound(loose);
  for (const int k : freeEdges(joined, sewnEdges)) {
    builder.Add(loose, sewnEdges(k));
    *open.size += lengthOf(TopoDS::Edge(sewnEdges(k)));
  }
  for (int k = 1; k <= edges.Extent() && edges.Extent() <= 2000; ++k) {
    const TopoDS_Edge &edge = TopoDS::Edge(edges(k));
    if (BRep_Tool::Degenerated(edge)) continue;
    const BRepAdaptor_Curve curve(edge);
    const gp_Pnt middle = curve.Value(0.5 * (curve.FirstParameter() + curve.LastParameter()));
    BRepExtrema_DistShapeShape distance(BRepBuilderAPI_MakeVertex(middle).Vertex(), loose);
    if (distance.IsDone() && distance.Value() <= tolerance) open.edges.push_back(k);
  }
  return open;
}

}  // namespace

bool isValid(const TopoDS_Shape &shape) { return !shape.IsNull() && BRepCheck_Analyzer(shape, true, true).IsValid(); }

std::size_t countOf(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  TopTools_IndexedMapOfShape map;
  TopExp::MapShapes(shape, type, map);
  return static_cast<std::size_t>(map.Extent());
}

std::vector<Finding> findingsOf(const TopoDS_Shape &shape, double size, const HealOptions &options,
                                bool selfIntersections) {
  TopTools_IndexedMapOfShape faces, edges;
  TopExp::MapShapes(shape, TopAbs_FACE, faces);
  TopExp::MapShapes(shape, TopAbs_EDGE, edges);
  if (faces.IsEmpty()) return {};
  const double small = options.smallFraction * size;
  const double closable = options.gapFraction * size;
  std::vector<Finding> findings = invalidity(shape, faces, edges);
  const bool solid = TopExp_Explorer(shape, TopAbs_SOLID).More();
  if (solid) {
    const std::vector<int> free = freeEdges(shape, edges);
    if (!free.empty()) {
      Finding open{"free edges", {}, free, 0.0, true};
      for (const int k : free) *open.size += lengthOf(TopoDS::Edge(edges(k)));
      findings.push_back(open);
      for (Finding &gap : gapsBetween(free, edges, size, closable)) findings.push_back(gap);
    }
  }
  std::vector<double> lengths(edges.Extent() + 1, 0.0);
  for (int k = 1; k <= edges.Extent(); ++k) {
    const TopoDS_Edge &edge = TopoDS::Edge(edges(k));
    lengths[k] = lengthOf(edge);
    if (!BRep_Tool::Degenerated(edge) && lengths[k] < small)
      findings.push_back({"short edge", {}, {k}, lengths[k], true});
  }
  std::vector<Finding> narrow;
  for (int k = 1; k <= faces.Extent(); ++k) {
    GProp_GProps properties;
    BRepGProp::SurfaceProperties(faces(k), properties);
    const double area = properties.Mass();
    double perimeter = 0.0;
    for (TopExp_Explorer edge(faces(k), TopAbs_EDGE); edge.More(); edge.Next())
      perimeter += lengths[edges.FindIndex(edge.Current())];
    if (area < small * small) {
      findings.push_back({"small face", {k}, {}, area, true});
    } else if (perimeter > 0 && 2 * area / perimeter < small) {
      // A strip L long and w wide has 2A/P = Lw/(L + w), which is w for L >> w.
      narrow.push_back({"sliver", {k}, {}, 2 * area / perimeter, true});
    }
  }
  // Slivers before small faces, as the kinds are listed.
  auto smallFaces =
      std::stable_partition(findings.begin(), findings.end(), [](const Finding &f) { return f.kind != "small face"; });
  findings.insert(smallFaces, narrow.begin(), narrow.end());
  if (selfIntersections && solid) {
    Finding crossing = selfIntersection(shape, faces, edges);
    if (!crossing.faces.empty() || !crossing.edges.empty() || crossing.size) findings.push_back(crossing);
  }
  if (!solid) findings.push_back(closure(shape, edges, closable));
  return findings;
}

Verdict verdictOf(const std::vector<Finding> &findings) {
  if (findings.empty()) return Verdict::ok;
  for (const Finding &finding : findings) {
    if (!finding.healable) return Verdict::needsAttention;
  }
  return Verdict::healable;
}

void forEachPart(std::size_t count, int threads, const std::function<void(std::size_t)> &work) {
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t k = next++; k < count; k = next++) work(k);
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t used = std::min<std::size_t>(count, threads > 0 ? threads : cores);
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < used; ++t) pool.emplace_back(drain);
  drain();
  for (std::thread &thread : pool) thread.join();
}

}  // namespace detail

const char *toString(Verdict verdict) {
  switch (verdict) {
    case Verdict::ok:
      return "ok";
    case Verdict::healable:
      return "healable";
    case Verdict::needsAttention:
      return "needs attention";
  }
  return "?";
}

double healSize(const std::vector<Part> &parts, const HealOptions &options) {
  if (options.size > 0) return options.size;
  Bnd_Box box;
  for (const Part &part : parts) BRepBndLib::AddOptimal(part.shape, box, false, false);
  const double diagonal = box.IsVoid() ? 0.0 : std::sqrt(box.SquareExtent());
  if (!(diagonal > 0)) throw input_error("No element size to check against: the parts hold no geometry");
  return diagonal;
}

Checks checkParts(const std::vector<Part> &parts, const HealOptions &options, const Message_ProgressRange &progress) {
  Checks checks{healSize(parts, options), std::vector<PartCheck>(parts.size())};
  Message_ProgressScope scope(progress, "Checking", static_cast<double>(parts.size()));
  std::vector<Message_ProgressRange> ranges;
  for (std::size_t k = 0; k < parts.size(); ++k) ranges.push_back(scope.Next());
  std::atomic<bool> stopped{false};
  detail::forEachPart(parts.size(), options.threads, [&](std::size_t k) {
    Message_ProgressScope one(ranges[k], nullptr, 1);
    PartCheck &check = checks.parts[k];
    check.part = k;
    if (stopped || !one.More()) {
      stopped = true;
      return;
    }
    try {
      check.findings = detail::findingsOf(parts[k].shape, checks.size, options, true);
    } catch (const Standard_Failure &) {
      // The kernel could not look at the part: nothing here may pass for ok.
      check.findings.push_back({"check failed", {}, {}, std::nullopt, false});
    }
    check.verdict = detail::verdictOf(check.findings);
  });
  if (stopped) throw nimbo_exception("Checking stopped before it was complete");
  // Surface models often hold each face as a part of its own: such parts may close together.
  std::vector<TopoDS_Shape> open;
  std::vector<std::size_t> owners;
  for (const PartCheck &check : checks.parts) {
    if (!check.findings.empty() && check.findings.back().kind == "open surface") {
      open.push_back(parts[check.part].shape);
      owners.push_back(check.part);
    }
  }
  for (const detail::SewnGroup &group : detail::sewnTogether(open, owners, options.gapFraction * checks.size)) {
    for (const std::size_t k : group.parts) {
      checks.parts[k].findings.back() = {"closes when sewn", {}, {}, options.gapFraction * checks.size, true};
      checks.parts[k].verdict = detail::verdictOf(checks.parts[k].findings);
    }
  }
  return checks;
}

}  // namespace nimbo
