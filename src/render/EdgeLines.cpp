// Edges the hidden-line algorithms are not given, drawn on their own: sampled along the edge, each
// sample tested against a grid of the view's triangles, the changes of visibility found by halving.
#include "EdgeLines.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GCPnts_QuasiUniformDeflection.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <algorithm>
#include <cmath>
#include <limits>

namespace nimbo::detail {
namespace {

bool allTaken(const TopoDS_Shape &shape, const std::function<bool(const TopoDS_Face &)> &takes) {
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    if (!takes(TopoDS::Face(it.Current()))) return false;
  }
  return true;
}

}  // namespace

std::vector<gp_Pnt> edgePoints(const TopoDS_Edge &edge, double deflection) {
  std::vector<gp_Pnt> points;
  if (BRep_Tool::Degenerated(edge) || !BRep_Tool::IsGeometric(edge)) return points;
  BRepAdaptor_Curve curve(edge);
  if (curve.GetType() == GeomAbs_Line) {
    points = {curve.Value(curve.FirstParameter()), curve.Value(curve.LastParameter())};
  } else {
    GCPnts_QuasiUniformDeflection along(curve, deflection);
    if (!along.IsDone()) return points;
    for (int k = 1; k <= along.NbPoints(); ++k) points.push_back(along.Value(k));
  }
  return points;
}

SplitShape splitShape(const TopoDS_Shape &shape, const std::function<bool(const TopoDS_Face &)> &takes) {
  SplitShape split;
  BRep_Builder builder;
  TopoDS_Compound faces;
  builder.MakeCompound(faces);
  bool any = false;
  TopTools_IndexedMapOfShape takenEdges;
  std::vector<TopoDS_Face> refused;
  const auto take = [&](const TopoDS_Shape &piece) {
    builder.Add(faces, piece);
    any = true;
    TopExp::MapShapes(piece, TopAbs_EDGE, takenEdges);
  };
  const auto takeFaces = [&](const TopoDS_Shape &piece) {
    for (TopExp_Explorer it(piece, TopAbs_FACE); it.More(); it.Next()) {
      const TopoDS_Face &face = TopoDS::Face(it.Current());
      if (takes(face)) {
        take(face);
      } else {
        refused.push_back(face);
      }
    }
  };
  for (const auto &[kind, avoid] : {std::pair{TopAbs_SOLID, TopAbs_SHAPE}, std::pair{TopAbs_SHELL, TopAbs_SOLID}}) {
    for (TopExp_Explorer it(shape, kind, avoid); it.More(); it.Next()) {
      if (allTaken(it.Current(), takes)) {
        take(it.Current());
      } else {
        takeFaces(it.Current());
      }
    }
  }
  for (TopExp_Explorer it(shape, TopAbs_FACE, TopAbs_SHELL); it.More(); it.Next()) takeFaces(it.Current());
  if (any) split.faces = faces;
  split.refusedFaces = static_cast<int>(refused.size());

  TopTools_IndexedMapOfShape left;
  for (TopExp_Explorer it(shape, TopAbs_EDGE, TopAbs_FACE); it.More(); it.Next()) left.Add(it.Current());
  for (const TopoDS_Face &face : refused) {
    for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
      if (!takenEdges.Contains(it.Current())) left.Add(it.Current());
    }
  }
  for (int k = 1; k <= left.Extent(); ++k) split.edges.push_back(TopoDS::Edge(left(k)));
  return split;
}

void forEachTriangle(const TopoDS_Shape &shape, const std::function<void(const std::array<gp_Pnt, 3> &)> &visit) {
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    TopLoc_Location location;
    const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), location);
    if (mesh.IsNull()) continue;
    for (int t = 1; t <= mesh->NbTriangles(); ++t) {
      int n[3];
      mesh->Triangle(t).Get(n[0], n[1], n[2]);
      std::array<gp_Pnt, 3> corners;
      for (int k = 0; k < 3; ++k) corners[k] = mesh->Node(n[k]).Transformed(location.Transformation());
      visit(corners);
    }
  }
}

Occluders::Occluders(const std::vector<TopoDS_Shape> &shapes, const HLRAlgo_Projector &projector, double tolerance)
    : projector_(projector), tolerance_(tolerance) {
  for (const TopoDS_Shape &shape : shapes) {
    forEachTriangle(shape, [&](const std::array<gp_Pnt, 3> &corners) {
      Triangle triangle;
      for (int k = 0; k < 3; ++k) {
        gp_Pnt p = corners[k];
        projector_.Transform(p);
        triangle[k] = p.XYZ();
      }
      triangles_.push_back(triangle);
    });
  }
  if (triangles_.empty()) return;
  double x1 = -std::numeric_limits<double>::infinity(), y1 = x1;
  x0_ = y0_ = std::numeric_limits<double>::infinity();
  for (const Triangle &triangle : triangles_) {
    for (const gp_XYZ &p : triangle) {
      x0_ = std::min(x0_, p.X()), y0_ = std::min(y0_, p.Y());
      x1 = std::max(x1, p.X()), y1 = std::max(y1, p.Y());
    }
  }
  // About as many cells as triangles, so that a cell holds a few of them.
  const int side = std::clamp(static_cast<int>(std::sqrt(static_cast<double>(triangles_.size()))), 1, 1024);
  cell_ = std::max({x1 - x0_, y1 - y0_, 1e-12}) / side;
  columns_ = static_cast<int>((x1 - x0_) / cell_) + 1;
  rows_ = static_cast<int>((y1 - y0_) / cell_) + 1;
  cells_.resize(static_cast<std::size_t>(columns_) * rows_);
  const auto column = [&](double x) { return std::clamp(static_cast<int>((x - x0_) / cell_), 0, columns_ - 1); };
  const auto row = [&](double y) { return std::clamp(static_cast<int>((y - y0_) / cell_), 0, rows_ - 1); };
  for (std::size_t t = 0; t < triangles_.size(); ++t) {
    const Triangle &tr = triangles_[t];
    const int c0 = column(std::min({tr[0].X(), tr[1].X(), tr[2].X()}));
    const int c1 = column(std::max({tr[0].X(), tr[1].X(), tr[2].X()}));
    const int r0 = row(std::min({tr[0].Y(), tr[1].Y(), tr[2].Y()}));
    const int r1 = row(std::max({tr[0].Y(), tr[1].Y(), tr[2].Y()}));
    for (int r = r0; r <= r1; ++r) {
      for (int c = c0; c <= c1; ++c) cells_[static_cast<std::size_t>(r) * columns_ + c].push_back(static_cast<int>(t));
    }
  }
}

const std::vector<int> *Occluders::cellAt(double x, double y) const {
  if (cells_.empty()) return nullptr;
  const double c = std::floor((x - x0_) / cell_), r = std::floor((y - y0_) / cell_);
  if (c < 0 || r < 0 || c >= columns_ || r >= rows_) return nullptr;
  return &cells_[static_cast<std::size_t>(r) * columns_ + static_cast<std::size_t>(c)];
}

bool Occluders::hide(const gp_Pnt &point) const {
  gp_Pnt p = point;
  projector_.Transform(p);
  const std::vector<int> *cell = cellAt(p.X(), p.Y());
  if (cell == nullptr) return false;
  for (const int t : *cell) {
    const Triangle &tr = triangles_[t];
    // Barycentric coordinates in the page plane; a triangle seen edge-on hides nothing.
    const double ax = tr[1].X() - tr[0].X(), ay = tr[1].Y() - tr[0].Y();
    const double bx = tr[2].X() - tr[0].X(), by = tr[2].Y() - tr[0].Y();
    const double area = ax * by - ay * bx;
    if (std::abs(area) < 1e-18) continue;
    const double px = p.X() - tr[0].X(), py = p.Y() - tr[0].Y();
    const double u = (px * by - py * bx) / area, v = (ax * py - ay * px) / area;
    if (u < 0 || v < 0 || u + v > 1) continue;
    const double depth = tr[0].Z() + u * (tr[1].Z() - tr[0].Z()) + v * (tr[2].Z() - tr[0].Z());
    if (depth > p.Z() + tolerance_) return true;
  }
  return false;
}

void addEdgeLines(const TopoDS_Edge &edge, const HLRAlgo_Projector &projector, const Occluders &occluders,
                  double deflection, double step, std::vector<Polyline> &visible, std::vector<Polyline> &hidden) {
  const std::vector<gp_Pnt> points = edgePoints(edge, deflection);
  if (points.size() < 2) return;
  const auto projected = [&](const gp_Pnt &p) {
    gp_Pnt2d onPage;
    projector.Project(p, onPage);
    return onPage;
  };
  Polyline line{projected(points.front())};
  bool seen = !occluders.hide(points.front());
  const auto finish = [&](const gp_Pnt &end) {
    line.push_back(projected(end));
    (seen ? visible : hidden).push_back(std::move(line));
    line = {projected(end)};
    seen = !seen;
  };
  for (std::size_t k = 1; k < points.size(); ++k) {
    const gp_Pnt &a = points[k - 1], &b = points[k];
    const int pieces = std::max(1, static_cast<int>(std::ceil(a.Distance(b) / step)));
    const auto at = [&](double t) { return gp_Pnt(a.XYZ() + t * (b.XYZ() - a.XYZ())); };
    for (int i = 1; i <= pieces; ++i) {
      double before = static_cast<double>(i - 1) / pieces, after = static_cast<double>(i) / pieces;
      if (!occluders.hide(at(after)) == seen) continue;
      // The change lies between two samples: halve the interval down to a small part of a step.
      for (int halving = 0; halving < 12; ++halving) {
        const double middle = (before + after) / 2;
        (!occluders.hide(at(middle)) == seen ? before : after) = middle;
      }
      finish(at((before + after) / 2));
    }
    line.push_back(projected(b));
  }
  if (line.size() >= 2) (seen ? visible : hidden).push_back(std::move(line));
}

}  // namespace nimbo::detail
