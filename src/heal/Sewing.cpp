// Sewing: faces sewn into shells and closed shells made solids, for one part or for parts whose
// faces close only together; and the free edges that tell an open shell.
#include "Inspect.h"

#include <BRepBuilderAPI_Sewing.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <ShapeFix_Solid.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_DataMapOfShapeInteger.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shell.hxx>

#include <map>
#include <utility>

namespace nimbo::detail {

std::vector<int> freeEdges(const TopoDS_Shape &shape, const TopTools_IndexedMapOfShape &edges) {
  TopTools_IndexedDataMapOfShapeListOfShape faces;
  TopExp::MapShapesAndUniqueAncestors(shape, TopAbs_EDGE, TopAbs_FACE, faces);
  std::vector<int> free;
  for (int k = 1; k <= edges.Extent(); ++k) {
    const TopoDS_Edge &edge = TopoDS::Edge(edges(k));
    const TopTools_ListOfShape *owners = faces.Seek(edge);
    if (BRep_Tool::Degenerated(edge) || owners == nullptr || owners->Extent() != 1) continue;
    if (BRep_Tool::IsClosed(edge, TopoDS::Face(owners->First()))) continue;
    free.push_back(k);
  }
  return free;
}

TopoDS_Shape sewn(const TopoDS_Shape &shape, double tolerance, bool &closed) {
  closed = false;
  BRepBuilderAPI_Sewing sewing(tolerance);
  for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) sewing.Add(face.Current());
  sewing.Perform();
  const TopoDS_Shape joined = sewing.SewedShape();
  return joined.IsNull() ? joined : solidsOf(joined, closed);
}

TopoDS_Shape solidsOf(const TopoDS_Shape &joined, bool &closed) {
  closed = false;
  BRep_Builder builder;
  std::vector<TopoDS_Shell> shells;
  for (TopExp_Explorer shell(joined, TopAbs_SHELL); shell.More(); shell.Next())
    shells.push_back(TopoDS::Shell(shell.Current()));
  // Sewing leaves a face that joined no other as a face, yet one face can close (a sphere).
  for (TopExp_Explorer face(joined, TopAbs_FACE, TopAbs_SHELL); face.More(); face.Next()) {
    TopoDS_Shell shell;
    builder.MakeShell(shell);
    builder.Add(shell, face.Current());
    shells.push_back(shell);
  }
  TopoDS_Compound solids;
  builder.MakeCompound(solids);
  for (const TopoDS_Shell &shell : shells) {
    TopTools_IndexedMapOfShape edges;
    TopExp::MapShapes(shell, TopAbs_EDGE, edges);
    if (!freeEdges(shell, edges).empty()) return joined;
    const TopoDS_Shape solid = ShapeFix_Solid().SolidFromShell(shell);
    if (solid.IsNull()) return joined;
    builder.Add(solids, solid);
  }
  if (shells.empty()) return joined;
  closed = true;
  return shells.size() == 1 ? TopoDS_Shape(TopExp_Explorer(solids, TopAbs_SOLID).Current()) : TopoDS_Shape(solids);
}

std::vector<SewnGroup> sewnTogether(const std::vector<TopoDS_Shape> &shapes, const std::vector<std::size_t> &owners,
                                    double tolerance) {
  if (shapes.size() < 2) return {};
  BRepBuilderAPI_Sewing sewing(tolerance);
  for (const TopoDS_Shape &shape : shapes) {
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) sewing.Add(face.Current());
  }
  sewing.Perform();
  const TopoDS_Shape joined = sewing.SewedShape();
  if (joined.IsNull()) return {};
  // Which shape each sewn face came from.
  TopTools_DataMapOfShapeInteger ownerOf;
  for (std::size_t k = 0; k < shapes.size(); ++k) {
    for (TopExp_Explorer face(shapes[k], TopAbs_FACE); face.More(); face.Next()) {
      const TopoDS_Shape &now = sewing.IsModified(face.Current()) ? sewing.Modified(face.Current()) : face.Current();
      ownerOf.Bind(now, static_cast<int>(k));
    }
  }
  // Shapes are grouped by the shells they share; a group closes when all its shells do.
  std::vector<int> group(shapes.size());
  for (std::size_t k = 0; k < shapes.size(); ++k) group[k] = static_cast<int>(k);
  const std::function<int(int)> root = [&](int k) { return group[k] == k ? k : group[k] = root(group[k]); };
  std::vector<std::pair<TopoDS_Shape, int>> pieces;  // each shell or lone face, with one of its owners
  const auto add = [&](const TopoDS_Shape &piece) {
    int first = -1;
    for (TopExp_Explorer face(piece, TopAbs_FACE); face.More(); face.Next()) {
      const int *owner = ownerOf.Seek(face.Current());
      if (owner == nullptr) continue;
      if (first < 0) first = *owner;
      group[root(*owner)] = root(first);
    }
    if (first >= 0) pieces.push_back({piece, first});
  };
  for (TopExp_Explorer shell(joined, TopAbs_SHELL); shell.More(); shell.Next()) add(shell.Current());
  for (TopExp_Explorer face(joined, TopAbs_FACE, TopAbs_SHELL); face.More(); face.Next()) add(face.Current());
  std::map<int, SewnGroup> groups;
  std::map<int, bool> closes;
  BRep_Builder builder;
  for (const auto &[piece, owner] : pieces) {
    const int at = root(owner);
    if (!closes.count(at)) {
      closes[at] = true;
      TopoDS_Compound solids;
      builder.MakeCompound(solids);
      groups[at].solids = solids;
    }
    bool closed = false;
    const TopoDS_Shape solid = solidsOf(piece, closed);
    if (!closed) {
      closes[at] = false;
      continue;
    }
    for (TopExp_Explorer one(solid, TopAbs_SOLID); one.More(); one.Next())
      builder.Add(groups[at].solids, one.Current());
  }
  std::vector<SewnGroup> closed;
  for (auto &[at, sewnGroup] : groups) {
    for (std::size_t k = 0; k < shapes.size(); ++k) {
      if (root(static_cast<int>(k)) == at) sewnGroup.parts.push_back(owners[k]);
    }
    if (closes[at] && sewnGroup.parts.size() > 1) closed.push_back(sewnGroup);
  }
  return closed;
}

}  // namespace nimbo::detail
