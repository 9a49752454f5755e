// Classification and measures of shapes: volumes, areas and lengths integrated adaptively to one
// precision, and in closed form where the faces allow.
#include "ShapeMeasures.h"
#include <nimbo/topology/ShapeAlgorithms.h>
#include "ShapeProperties.h"

#include <nimbo/nimbo_exception.h>

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepGProp_Cinert.hxx>
#include <BRepGProp_Domain.hxx>
#include <BRepGProp_Face.hxx>
#include <BRepGProp_MeshCinert.hxx>
#include <BRepGProp_Vinert.hxx>
#include <BRep_Tool.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <TopAbs.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Circ.hxx>
#include <gp_Mat.hxx>
#include <gp_Pln.hxx>
#include <math.hxx>
#include <math_Vector.hxx>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace nimbo::detail {
namespace {

// Whether a face or an edge of this orientation bounds anything: internal and external ones do not.
bool bounds(TopAbs_Orientation orientation) { return orientation == TopAbs_FORWARD || orientation == TopAbs_REVERSED; }

// Calls visit(curve, backwards) for each edge that bounds the face, as the face runs it; stops and
// gives false as soon as `visit` does.
template <typename Visit>
bool eachBoundaryEdge(const TopoDS_Shape &face, const Visit &visit) {
  for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
    const TopoDS_Edge &edge = TopoDS::Edge(it.Current());
    if (!bounds(edge.Orientation()) || BRep_Tool::Degenerated(edge)) continue;
    if (!visit(BRepAdaptor_Curve(edge), edge.Orientation() == TopAbs_REVERSED)) return false;
  }
  return true;
}

// A planar face bounded by lines and circular arcs, in closed form: a point of its plane, and the
// loop integral of x cross dx around its boundary as the face turns, which is twice its area along
// its outer normal. None for any other face. The adaptive rule takes a millisecond on such a face
// for what this gives to rounding.
struct PlanarLoop {
  gp_XYZ point;
  gp_XYZ loop;
};

std::optional<PlanarLoop> planarLoop(const TopoDS_Face &face) {
  const BRepAdaptor_Surface surface(face, false);
  if (surface.GetType() != GeomAbs_Plane) return std::nullopt;
  gp_XYZ loop(0.0, 0.0, 0.0);
  const bool closedForm = eachBoundaryEdge(face, [&](const BRepAdaptor_Curve &curve, bool backwards) {
    const double first = curve.FirstParameter();
    const double last = curve.LastParameter();
    const gp_XYZ from = curve.Value(first).XYZ();
    const gp_XYZ to = curve.Value(last).XYZ();
    gp_XYZ term;
    switch (curve.GetType()) {
      case GeomAbs_Line:
        term = from.Crossed(to);
        break;
      case GeomAbs_Circle: {
        // Around centre c: c x (to - from), plus r^2 per radian about the circle's axis.
        const gp_Circ circle = curve.Circle();
        term = circle.Location().XYZ().Crossed(to - from) +
               circle.Axis().Direction().XYZ() * (circle.Radius() * circle.Radius() * (last - first));
        break;
      }
      default:
        return false;
    }
    loop += backwards ? term.Reversed() : term;
    return true;
  });
  if (!closedForm) return std::nullopt;
  return PlanarLoop{surface.Plane().Location().XYZ(), loop};
}

// The mean of the shape's vertices as they are met: the point about which it is integrated, near
// enough that the terms stay small, as the kernel chooses it.
gp_XYZ vertexCentre(const TopoDS_Shape &shape) {
  gp_XYZ sum(0.0, 0.0, 0.0);
  int count = 0;
  for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next(), ++count) {
    sum += BRep_Tool::Pnt(TopoDS::Vertex(it.Current())).XYZ();
  }
  return count > 0 ? sum / count : sum;
}

// Mass properties set directly, as the kernel's integrators set theirs.
struct GivenProperties : GProp_GProps {
  GivenProperties(const gp_Pnt &about, double mass, const gp_XYZ &moment, const gp_Mat &inertiaAbout) {
    loc = about;
    dim = mass;
    g = gp_Pnt(mass != 0.0 ? moment / mass : gp_XYZ(0.0, 0.0, 0.0));
    inertia = inertiaAbout;
  }
};

gp_Mat outer(const gp_XYZ &a, const gp_XYZ &b) {
  return gp_Mat(a.X() * b.X(), a.X() * b.Y(), a.X() * b.Z(), a.Y() * b.X(), a.Y() * b.Y(), a.Y() * b.Z(), a.Z() * b.X(),
                a.Z() * b.Y(), a.Z() * b.Z());
}

// The mass properties of a mass, its first moment and its second moments (of x x^T) about a point.
GProp_GProps propertiesFromMoments(const gp_XYZ &about, double mass, const gp_XYZ &moment, const gp_Mat &second) {
  const double trace = second.Value(1, 1) + second.Value(2, 2) + second.Value(3, 3);
  gp_Mat inertia(trace, 0, 0, 0, trace, 0, 0, 0, trace);
  inertia -= second;
  return GivenProperties(gp_Pnt(about), mass, moment, inertia);
}

// The mass properties of a solid whose faces are all planar and bounded by straight edges, in closed
// form: each edge of each face with a point of the face and the reference point makes a signed
// tetrahedron. None for any other solid. The adaptive rule spends most of a box's time failing to
// prove to 1e-12 what these sums give to rounding.
std::optional<GProp_GProps> polyhedronProperties(const TopoDS_Shape &shape) {
  const gp_XYZ about = vertexCentre(shape);
  double mass = 0.0;
  gp_XYZ moment(0.0, 0.0, 0.0);
  gp_Mat second(0, 0, 0, 0, 0, 0, 0, 0, 0);  // of x x^T about the reference point
  bool any = false;
  for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
    if (!bounds(face.Current().Orientation())) continue;
    if (BRepAdaptor_Surface(TopoDS::Face(face.Current()), false).GetType() != GeomAbs_Plane) return std::nullopt;
    std::optional<gp_XYZ> apex;
    const bool straight = eachBoundaryEdge(face.Current(), [&](const BRepAdaptor_Curve &curve, bool backwards) {
      if (curve.GetType() != GeomAbs_Line) return false;
      gp_XYZ a = curve.Value(curve.FirstParameter()).XYZ() - about;
      gp_XYZ b = curve.Value(curve.LastParameter()).XYZ() - about;
      if (backwards) std::swap(a, b);
      if (!apex) apex = a;
      const gp_XYZ &p = *apex;
      // The tetrahedron (0, p, a, b): its volume, and its first and second moments.
      const double volume = p.Dot(a.Crossed(b)) / 6.0;
      const gp_XYZ sum = p + a + b;
      mass += volume;
      moment += sum * (volume / 4.0);
      second += (outer(p, p) + outer(a, a) + outer(b, b) + outer(sum, sum)) * (volume / 20.0);
      any = true;
      return true;
    });
    if (!straight) return std::nullopt;
  }
  if (!any) return std::nullopt;
  return propertiesFromMoments(about, mass, moment, second);
}

// The length of a curve with its first and second moments about a point, as integrated so far.
struct CurveMoments {
  double length = 0.0;
  gp_XYZ moment{0.0, 0.0, 0.0};
  gp_Mat second{0, 0, 0, 0, 0, 0, 0, 0, 0};

  CurveMoments &operator+=(const CurveMoments &other) {
    length += other.length;
    moment += other.moment;
    second += other.second;
    return *this;
  }
};

// A piece of a curve's parameter range with the Gauss sums over its two halves, and how far their
// total is from the one sum over the whole piece: a bound on that sum's error.
struct CurvePiece {
  double first;
  double last;
  CurveMoments left;
  CurveMoments right;
  double error;
};

// The mass properties of the edge's curve about a point of the edge, integrated adaptively over its
// spans between breaks of continuity: the piece whose halves disagree most with it is halved, until
// they all agree to measurePrecision of the whole length or the pieces run out (on an edge of no
// length, all rounding, they never agree). The kernel's fixed rule takes nine points over a whole
// ellipse, however flat, and a fixed number per span of a B-spline, however unevenly it runs.
GProp_GProps adaptiveCurveProperties(const TopoDS_Edge &edge, const BRepAdaptor_Curve &curve) {
  const gp_XYZ about = vertexCentre(edge);
  constexpr int order = 10;
  math_Vector points(1, order);
  math_Vector weights(1, order);
  math::GaussPoints(order, points);
  math::GaussWeights(order, weights);
  const auto gauss = [&](double first, double last) {
    const double middle = 0.5 * (first + last);
    const double half = 0.5 * (last - first);
    CurveMoments sum;
    for (int i = 1; i <= order; ++i) {
      gp_Pnt point;
      gp_Vec tangent;
      curve.D1(middle + half * points(i), point, tangent);
      const double weight = half * weights(i) * tangent.Magnitude();
      const gp_XYZ x = point.XYZ() - about;
      sum.length += weight;
      sum.moment += x * weight;
      sum.second += outer(x, x) * weight;
    }
    return sum;
  };
  const auto piece = [&](double first, double last, const CurveMoments &whole) {
    const double middle = 0.5 * (first + last);
    CurvePiece halved{first, last, gauss(first, middle), gauss(middle, last), 0.0};
    halved.error = std::abs(halved.left.length + halved.right.length - whole.length);
    return halved;
  };

  const double first = std::min(curve.FirstParameter(), curve.LastParameter());
  const double last = std::max(curve.FirstParameter(), curve.LastParameter());
  const int spans = curve.NbIntervals(GeomAbs_CN);
  TColStd_Array1OfReal breaks(1, spans + 1);
  curve.Intervals(breaks, GeomAbs_CN);
  std::vector<CurvePiece> pieces;
  for (int k = 1; k <= spans; ++k) {
    const double from = std::max(breaks(k), first);
    const double to = std::min(breaks(k + 1), last);
    if (from < to) pieces.push_back(piece(from, to, gauss(from, to)));
  }
  // Enough halvings for a kink between the breaks; they bound the work where rounding is all there is.
  const std::size_t maximumPieces = pieces.size() + 100;
  while (!pieces.empty() && pieces.size() < maximumPieces) {
    double length = 0.0;
    double error = 0.0;
    for (const CurvePiece &p : pieces) {
      length += p.left.length + p.right.length;
      error += p.error;
    }
    if (error <= measurePrecision * length) break;
    CurvePiece &worst = *std::max_element(pieces.begin(), pieces.end(),
                                          [](const CurvePiece &a, const CurvePiece &b) { return a.error < b.error; });
    const CurvePiece halved = worst;
    const double middle = 0.5 * (halved.first + halved.last);
    worst = piece(halved.first, middle, halved.left);
    pieces.push_back(piece(middle, halved.last, halved.right));
  }
  CurveMoments sum;
  for (const CurvePiece &p : pieces) {
    sum += p.left;
    sum += p.right;
  }
  return propertiesFromMoments(about, sum.length, sum.moment, sum.second);
}

// The kernel's linear properties, edge by edge as it takes them, with every curve but a line or a
// circle integrated adaptively: on those two its rule is as good as exact (a whole circle's second
// moments within 3e-9), so their figures stay its own.
GProp_GProps linearProperties(const TopoDS_Shape &shape) {
  const gp_Pnt origin = gp_Pnt(0.0, 0.0, 0.0).Transformed(shape.Location());
  GProp_GProps properties(origin);
  for (TopExp_Explorer it(shape, TopAbs_EDGE); it.More(); it.Next()) {
    const TopoDS_Edge &edge = TopoDS::Edge(it.Current());
    if (!BRep_Tool::IsGeometric(edge)) {
      // Without a curve, by its polygon where it has one.
      Handle(TColgp_HArray1OfPnt) nodes;
      BRepGProp_MeshCinert::PreparePolygon(edge, nodes);
      if (nodes.IsNull()) continue;
      BRepGProp_MeshCinert polygon;
      polygon.SetLocation(origin);
      polygon.Perform(nodes->Array1());
      properties.Add(polygon);
      continue;
    }
    const BRepAdaptor_Curve curve(edge);
    if (curve.GetType() == GeomAbs_Line || curve.GetType() == GeomAbs_Circle) {
      properties.Add(BRepGProp_Cinert(curve, origin));
    } else {
      properties.Add(adaptiveCurveProperties(edge, curve));
    }
  }
  return properties;
}

}  // namespace

GProp_GProps measureProperties(const TopoDS_Shape &shape, TopAbs_ShapeEnum dominantType) {
  GProp_GProps properties;
  switch (dominantType) {
    case TopAbs_SOLID:
      if (std::optional<GProp_GProps> polyhedron = polyhedronProperties(shape)) return *polyhedron;
      BRepGProp::VolumeProperties(shape, properties, measurePrecision);
      return properties;
    case TopAbs_FACE:
      BRepGProp::SurfaceProperties(shape, properties, measurePrecision);
      return properties;
    default:
      return linearProperties(shape);
  }
}

gp_Pnt volumeCentre(const TopoDS_Shape &shape) {
  // A point amid the vertices, as the kernel integrates about: its faces then come out as it gives
  // them, and the small terms about a near point keep its relative precision meaningful.
  return gp_Pnt(vertexCentre(shape));
}

double volumeTerm(const TopoDS_Face &face, const gp_Pnt &centre) {
  if (!bounds(face.Orientation())) return 0.0;
  // The flux of (x - centre)/3 through the face: (p - centre).n A / 3.
  if (const std::optional<PlanarLoop> planar = planarLoop(face)) {
    return (planar->point - centre.XYZ()).Dot(planar->loop) / 6.0;
  }
  TopLoc_Location location;
  if (BRep_Tool::Surface(face, location).IsNull()) return 0.0;
  BRepGProp_Face integrand;
  BRepGProp_Vinert flux;
  flux.SetLocation(centre);
  integrand.Load(face);
  if (face.NbChildren() == 0) {
    flux.Perform(integrand, measurePrecision);
  } else {
    BRepGProp_Domain domain(face);
    flux.Perform(integrand, domain, measurePrecision);
  }
  return flux.Mass();
}

double volumeOf(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return 0.0;
  const gp_Pnt centre = volumeCentre(shape);
  double volume = 0.0;
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    volume += volumeTerm(TopoDS::Face(it.Current()), centre);
  }
  return std::abs(volume);
}

double areaOf(const TopoDS_Shape &shape, double precision) {
  if (shape.IsNull()) return 0.0;
  double area = 0.0;
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    const TopoDS_Face &face = TopoDS::Face(it.Current());
    if (const std::optional<PlanarLoop> planar = planarLoop(face)) {
      area += planar->loop.Modulus() / 2.0;
      continue;
    }
    GProp_GProps properties;
    BRepGProp::SurfaceProperties(face, properties, precision);
    area += properties.Mass();
  }
  return area;
}

Bnd_Box boundingBox(const TopoDS_Shape &shape) {
  Bnd_Box box;
  box.SetGap(0.0);
  BRepBndLib::Add(shape, box, true);
  return box;
}

TopTools_ListOfShape representativeSubShapes(const TopoDS_Shape &compound) {
  TopTools_ListOfShape shape_list;
  for (TopExp_Explorer exp(compound, getDominantShapeType(compound), TopAbs_SHAPE); exp.More(); exp.Next()) {
    shape_list.Append(exp.Current());
  }
  return shape_list;
}

bool hasFaceWithoutSurface(const TopoDS_Shape &shape) {
  for (TopExp_Explorer faces(shape, TopAbs_FACE, TopAbs_SHAPE); faces.More(); faces.Next()) {
    TopLoc_Location location;
    if (BRep_Tool::Surface(TopoDS::Face(faces.Current()), location).IsNull()) return true;
  }
  return false;
}

}  // namespace nimbo::detail

using nimbo::detail::measureProperties;

namespace {

bool holds(const TopoDS_Shape &shape, TopAbs_ShapeEnum type) {
  return TopExp_Explorer(shape, type, TopAbs_SHAPE).More();
}

bool isMeasuredType(TopAbs_ShapeEnum type) {
  return type == TopAbs_SOLID || type == TopAbs_FACE || type == TopAbs_EDGE;
}

}  // namespace

TopAbs_ShapeEnum getDominantShapeType(const TopoDS_Shape &shape) {
  if (shape.IsNull()) return TopAbs_VERTEX;
  const TopAbs_ShapeEnum own = shape.ShapeType();
  if (isMeasuredType(own)) return own;
  if (own != TopAbs_COMPOUND) return TopAbs_VERTEX;
  for (const TopAbs_ShapeEnum type : {TopAbs_SOLID, TopAbs_FACE, TopAbs_EDGE}) {
    if (holds(shape, type)) return type;
  }
  return TopAbs_VERTEX;
}

bool haveSameShapeType(TopoDS_Shape first, TopoDS_Shape second) {
  return getDominantShapeType(first) == getDominantShapeType(second);
}

bool haveCoincidentVertex(const TopoDS_Shape &first, const TopoDS_Shape &second) {
  // Every pair is still compared, but each point is read once rather than once per pair.
  std::vector<gp_Pnt> points2;
  for (TopExp_Explorer explorer2(second, TopAbs_VERTEX, TopAbs_SHAPE); explorer2.More(); explorer2.Next()) {
    points2.push_back(BRep_Tool::Pnt(TopoDS::Vertex(explorer2.Current())));
  }
  if (points2.empty()) return false;
  for (TopExp_Explorer explorer1(first, TopAbs_VERTEX, TopAbs_SHAPE); explorer1.More(); explorer1.Next()) {
    const gp_Pnt point1 = BRep_Tool::Pnt(TopoDS::Vertex(explorer1.Current()));
    for (const gp_Pnt &point2 : points2) {
      if (nimbo::detail::arePointsCoincident(point1, point2)) return true;
    }
  }
  return false;
}

bool isNegligibleShape(const TopoDS_Shape &shape) {
  const TopAbs_ShapeEnum type = getDominantShapeType(shape);
  if (!isMeasuredType(type)) return false;
  // By magnitude: an inside-out solid of volume -1 is not negligible.
  return std::abs(measureProperties(shape, type).Mass()) < 1e-8;
}

double getBoundingBoxDiagonal(const TopoDS_Shape &shape) {
  double xmin, ymin, zmin, xmax, ymax, zmax;
  nimbo::detail::boundingBox(shape).Get(xmin, ymin, zmin, xmax, ymax, zmax);
  return std::sqrt(std::pow(xmax - xmin, 2) + std::pow(ymax - ymin, 2) + std::pow(zmax - zmin, 2));
}

double getMinEdgeLength(const TopoDS_Shape &shape) {
  double minimum = 1e20;
  for (TopExp_Explorer exp(shape, TopAbs_EDGE, TopAbs_SHAPE); exp.More(); exp.Next()) {
    const double length = measureProperties(exp.Current(), TopAbs_EDGE).Mass();
    if (length < minimum) minimum = length;
  }
  return minimum;
}

double getVolume(const TopoDS_Shape &shape) { return measureProperties(shape, TopAbs_SOLID).Mass(); }

double getArea(const TopoDS_Shape &shape) { return measureProperties(shape, TopAbs_FACE).Mass(); }

double getLength(const TopoDS_Shape &shape) { return measureProperties(shape, TopAbs_EDGE).Mass(); }

gp_Pnt getCenterOfMass(const TopoDS_Shape &shape) {
  const TopAbs_ShapeEnum type = getDominantShapeType(shape);
  if (isMeasuredType(type)) return measureProperties(shape, type).CentreOfMass();
  // A vertex, wire, shell or compound of vertices has no measure of its own: answer with the point
  // of its first vertex, as the statistics do.
  if (!shape.IsNull()) {
    TopExp_Explorer vertices(shape, TopAbs_VERTEX, TopAbs_SHAPE);
    if (vertices.More()) return BRep_Tool::Pnt(TopoDS::Vertex(vertices.Current()));
  }
  throw nimbo_exception(shape.IsNull() ? "Cannot compute the centre of mass of a null shape"
                                       : "Cannot compute the centre of mass of a shape without vertices");
}

bool hasInternalFaces(const TopoDS_Shape &shape) {
  TopTools_IndexedMapOfShape shellmap;
  TopExp::MapShapes(shape, TopAbs_SHELL, shellmap);
  // One face map for all shells: a face shared by two shells keeps the orientation it was first met with.
  TopTools_IndexedMapOfShape fmap;
  int checked = 0;
  for (int i = 1; i <= shellmap.Extent(); ++i) {
    TopExp::MapShapes(shellmap(i), TopAbs_FACE, fmap);
    for (; checked < fmap.Extent(); ++checked) {
      if (fmap(checked + 1).Orientation() == TopAbs_INTERNAL) return true;
    }
  }
  return false;
}

namespace nimbo {

std::optional<GProp_GProps> getDominantMeasure(const TopoDS_Shape &shape) {
  const TopAbs_ShapeEnum type = getDominantShapeType(shape);
  if (type == TopAbs_VERTEX) return std::nullopt;
  return detail::measureProperties(shape, type);
}

std::string kernelFailureText(const Standard_Failure &failure) {
  const std::string message = failure.GetMessageString() ? failure.GetMessageString() : "";
  const std::string type = failure.DynamicType()->Name();
  return message.empty() ? "kernel failure " + type : "kernel failure " + type + ": " + message;
}

std::string shapeTypeName(TopAbs_ShapeEnum type) {
  std::string name = TopAbs::ShapeTypeToString(type);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

}  // namespace nimbo
