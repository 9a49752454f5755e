// Face selection on an imprinted assembly's outer boundary: by part, outward normal, box and plane,
// each face judged by points spread over it and along its edges.
#include <nimbo/solve/Solve.h>

#include <BRepAdaptor_Curve2d.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepClass_FaceClassifier.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_DataMapOfShapeShape.hxx>
#include <TopoDS.hxx>
#include <gp_Pln.hxx>

#include <fnmatch.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>

namespace nimbo {
namespace {

// A point of a face with its outward normal.
struct Sample {
  gp_Pnt point;
  gp_Dir normal;
};

// Points over the face, inside its trim, and along its edges, where a curved face's normals reach
// their extremes. The face as oriented in its solid, so that the normals point out of it.
std::vector<Sample> samplesOf(const TopoDS_Face &face) {
  const BRepAdaptor_Surface surface(face);
  const bool reversed = face.Orientation() == TopAbs_REVERSED;
  std::vector<Sample> samples;
  // A plane has one normal, and lies in a plane when one of its points does and the normals agree.
  if (surface.GetType() == GeomAbs_Plane) {
    const gp_Dir normal = surface.Plane().Axis().Direction();
    TopExp_Explorer vertex(face, TopAbs_VERTEX);
    const gp_Pnt point = vertex.More() ? BRep_Tool::Pnt(TopoDS::Vertex(vertex.Current())) : surface.Plane().Location();
    samples.push_back({point, reversed ? normal.Reversed() : normal});
    return samples;
  }
  const auto add = [&](double u, double v) {
    gp_Pnt p;
    gp_Vec du, dv;
    surface.D1(u, v, p, du, dv);
    const gp_Vec n = du.Crossed(dv);
    if (n.Magnitude() < 1e-12) return;  // a pole, where the normal is not defined
    samples.push_back({p, reversed ? gp_Dir(n.Reversed()) : gp_Dir(n)});
  };
  double umin = 0, umax = 0, vmin = 0, vmax = 0;
  BRepTools::UVBounds(face, umin, umax, vmin, vmax);
  const double tolerance = BRep_Tool::Tolerance(face);
  constexpr int grid = 7;
  for (int i = 1; i < grid; ++i) {
    for (int j = 1; j < grid; ++j) {
      const gp_Pnt2d uv(umin + (umax - umin) * i / grid, vmin + (vmax - vmin) * j / grid);
      if (BRepClass_FaceClassifier(face, uv, tolerance).State() == TopAbs_IN) add(uv.X(), uv.Y());
    }
  }
  for (TopExp_Explorer edges(face, TopAbs_EDGE); edges.More(); edges.Next()) {
    const TopoDS_Edge &edge = TopoDS::Edge(edges.Current());
    if (BRep_Tool::Degenerated(edge)) continue;
    const BRepAdaptor_Curve2d curve(edge, face);
    constexpr int along = 5;
    for (int k = 0; k <= along; ++k) {
      const gp_Pnt2d uv = curve.Value(curve.FirstParameter() + (curve.LastParameter() - curve.FirstParameter()) * k / along);
      add(uv.X(), uv.Y());
    }
  }
  return samples;
}

// One outer face and what the selectors ask of it, found when first asked.
struct OuterFace {
  int number;
  const std::string *path;
  TopoDS_Face face;  // as oriented in its solid
  Bnd_Box box;
  mutable std::optional<std::vector<Sample>> sampled;

  const std::vector<Sample> &samples() const {
    if (!sampled) sampled = samplesOf(face);
    return *sampled;
  }
  bool planar() const { return BRepAdaptor_Surface(face, false).GetType() == GeomAbs_Plane; }
};

bool takes(const FaceSelector &selector, const OuterFace &outer, double tolerance) {
  if (selector.part && fnmatch(selector.part->c_str(), outer.path->c_str(), 0) != 0) return false;
  if (selector.normal) {
    const double limit = selector.angle * M_PI / 180.0 + 1e-9;
    if (outer.samples().empty()) return false;
    for (const Sample &sample : outer.samples()) {
      if (sample.normal.Angle(*selector.normal) > limit) return false;
    }
  }
  if (selector.box) {
    double xmin = 0, ymin = 0, zmin = 0, xmax = 0, ymax = 0, zmax = 0;
    outer.box.Get(xmin, ymin, zmin, xmax, ymax, zmax);
    const gp_Pnt &low = selector.box->min;
    const gp_Pnt &high = selector.box->max;
    if (xmin < low.X() - tolerance || ymin < low.Y() - tolerance || zmin < low.Z() - tolerance ||
        xmax > high.X() + tolerance || ymax > high.Y() + tolerance || zmax > high.Z() + tolerance) {
      return false;
    }
  }
  if (selector.plane) {
    const gp_Pln plane(selector.plane->point, selector.plane->normal);
    if (outer.samples().empty()) return false;
    for (const Sample &sample : outer.samples()) {
      if (plane.Distance(sample.point) > tolerance) return false;
      if (outer.planar() && !sample.normal.IsParallel(selector.plane->normal, 1e-9)) return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::vector<int>> selectFaces(const Imprint &imprinted, const std::vector<FaceSelector> &selectors) {
  std::vector<OuterFace> outer;
  Bnd_Box all;
  for (const ImprintedPart &part : imprinted.parts) {
    // The boundary's faces as they are oriented in the part's solids.
    TopTools_DataMapOfShapeShape oriented;
    for (const TopoDS_Shape &solid : part.solids) {
      for (TopExp_Explorer faces(solid, TopAbs_FACE); faces.More(); faces.Next()) {
        if (!oriented.IsBound(faces.Current())) oriented.Bind(faces.Current(), faces.Current());
      }
    }
    for (std::size_t k = 0; k < part.boundary.size(); ++k) {
      const TopoDS_Shape &face = oriented.IsBound(part.boundary[k]) ? oriented(part.boundary[k]) : part.boundary[k];
      OuterFace entry{part.boundaryNumbers[k], &part.path, TopoDS::Face(face), {}, std::nullopt};
      BRepBndLib::AddOptimal(face, entry.box, false, false);
      all.Add(entry.box);
      outer.push_back(std::move(entry));
    }
  }
  // Faces within a millionth of the model's size of a box or plane lie in it: what is written as
  // "z = 60" may sit at 60.0000000001.
  const double tolerance = all.IsVoid() ? 1e-7 : 1e-6 * std::sqrt(all.SquareExtent());

  std::vector<std::vector<int>> selected(selectors.size());
  std::set<int> taken;
  for (std::size_t s = 0; s < selectors.size(); ++s) {
    if (selectors[s].rest) continue;
    for (const OuterFace &face : outer) {
      if (takes(selectors[s], face, tolerance + BRep_Tool::Tolerance(face.face))) {
        selected[s].push_back(face.number);
        taken.insert(face.number);
      }
    }
  }
  for (std::size_t s = 0; s < selectors.size(); ++s) {
    if (!selectors[s].rest) continue;
    for (const OuterFace &face : outer) {
      if (!taken.count(face.number) && takes(selectors[s], face, tolerance + BRep_Tool::Tolerance(face.face))) {
        selected[s].push_back(face.number);
      }
    }
  }
  for (std::vector<int> &faces : selected) std::sort(faces.begin(), faces.end());
  return selected;
}

}  // namespace nimbo
