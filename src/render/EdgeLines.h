// Edges drawn beside the hidden-line algorithms: a shape split into the faces an algorithm takes and
// the edges left over, and those edges projected with their hidden stretches found against the
// triangles in front of them. Private to the render module.
#pragma once

#include <HLRAlgo_Projector.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>
#include <gp_Pnt2d.hxx>
#include <gp_XYZ.hxx>

#include <array>
#include <functional>
#include <vector>

namespace nimbo::detail {

/// Calls `visit` with the three corners, placed in the model's frame, of every triangle of the
/// meshes of the shape's faces.
void forEachTriangle(const TopoDS_Shape &shape, const std::function<void(const std::array<gp_Pnt, 3> &)> &visit);

using Polyline = std::vector<gp_Pnt2d>;

/// Points along the edge's curve, `deflection` from it at most (a line's two ends); none for a
/// degenerated edge or one without a curve.
std::vector<gp_Pnt> edgePoints(const TopoDS_Edge &edge, double deflection);

/// A shape as an algorithm takes it.
struct SplitShape {
  TopoDS_Shape faces;              ///< a compound of the faces taken, in their shells where all are; null for none
  std::vector<TopoDS_Edge> edges;  ///< loose edges, and those of faces not taken that no face taken holds
  int refusedFaces = 0;
};

/// Splits `shape` by `takes`: a solid or shell whose faces it all takes stays whole (its closure
/// matters to the algorithms), the others give their faces one by one.
SplitShape splitShape(const TopoDS_Shape &shape, const std::function<bool(const TopoDS_Face &)> &takes);

/// The triangulated faces of shapes as seen in a view, to tell what lies behind them.
class Occluders {
 public:
  /// `tolerance`: how far a triangle must lie in front of a point to hide it, so that an edge on a
  /// face is not hidden by the face's own chords.
  Occluders(const std::vector<TopoDS_Shape> &shapes, const HLRAlgo_Projector &projector, double tolerance);

  /// Whether a triangle lies in front of the point (in the model's coordinates).
  bool hide(const gp_Pnt &point) const;

 private:
  using Triangle = std::array<gp_XYZ, 3>;  // in the view's coordinates, Z towards the viewer
  const std::vector<int> *cellAt(double x, double y) const;

  HLRAlgo_Projector projector_;
  double tolerance_;
  std::vector<Triangle> triangles_;
  double x0_ = 0, y0_ = 0, cell_ = 1;
  int columns_ = 0, rows_ = 0;
  std::vector<std::vector<int>> cells_;  // triangles by the grid cells their boxes touch
};

/// The edge projected, cut where it passes behind the occluders: visible stretches to `visible`,
/// hidden ones to `hidden`. `step` is the longest stretch tested as one.
void addEdgeLines(const TopoDS_Edge &edge, const HLRAlgo_Projector &projector, const Occluders &occluders,
                  double deflection, double step, std::vector<Polyline> &visible, std::vector<Polyline> &hidden);

}  // namespace nimbo::detail
