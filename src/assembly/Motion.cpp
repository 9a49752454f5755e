// The motion search of the revision diff: the turns worth trying between two parts, the least
// first, each confirmed by the directions of their faces and then by the shape comparison.
#include "Motion.h"

#include "Tolerances.h"

#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepAdaptor_Surface.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <GProp_PrincipalProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Ax3.hxx>
#include <gp_Mat.hxx>
#include <gp_Quaternion.hxx>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace nimbo::detail {
namespace {

const gp_Mat identity(1, 0, 0, 0, 1, 0, 0, 0, 1);

bool parallel(const gp_Dir &a, const gp_Dir &b) { return a.Angle(b) <= sameDirection; }

// Sums the area into the direction of that kind it is parallel to, or adds the direction.
void addDirection(std::vector<Direction> &directions, GeomAbs_SurfaceType kind, const gp_Dir &direction, double area) {
  for (Direction &d : directions) {
    if (d.kind == kind && parallel(d.direction, direction)) {
      d.area += area;
      return;
    }
  }
  directions.push_back({kind, direction, area});
}

// Faces split differently, or joined, sum to the same areas; other surfaces have no direction.
std::vector<Direction> directionsOf(const TopoDS_Shape &shape, double &total) {
  std::vector<Direction> directions;
  total = 0.0;
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    const TopoDS_Face &face = TopoDS::Face(it.Current());
    const BRepAdaptor_Surface surface(face, false);
    const GeomAbs_SurfaceType kind = surface.GetType();
    gp_Dir direction;
    switch (kind) {
      case GeomAbs_Plane: {
        const gp_Ax3 position = surface.Plane().Position();  // its normal, whichever hand its frame is
        direction = position.XDirection().Crossed(position.YDirection());
        if (face.Orientation() == TopAbs_REVERSED) direction.Reverse();
        break;
      }
      case GeomAbs_Cylinder:
        direction = surface.Cylinder().Axis().Direction();
        break;
      case GeomAbs_Cone:
        direction = surface.Cone().Axis().Direction();
        break;
      case GeomAbs_Torus:
        direction = surface.Torus().Axis().Direction();
        break;
      case GeomAbs_SurfaceOfRevolution:
        direction = surface.AxeOfRevolution().Direction();
        break;
      case GeomAbs_SurfaceOfExtrusion:
        direction = surface.Direction();
        break;
      default:
        continue;
    }
    GProp_GProps properties;
    BRepGProp::SurfaceProperties(face, properties);
    const double area = std::abs(properties.Mass());
    total += area;
    addDirection(directions, kind, direction, area);
    if (kind != GeomAbs_Plane) addDirection(directions, kind, direction.Reversed(), area);  // an axis has no side
  }
  return directions;
}

double areaAlong(const std::vector<Direction> &directions, GeomAbs_SurfaceType kind, const gp_Dir &direction) {
  double area = 0.0;
  for (const Direction &d : directions) {
    if (d.kind == kind && parallel(d.direction, direction)) area += d.area;
  }
  return area;
}

double areaTolerance(const Figures &a, const Figures &b) {
  return comparisonTolerance * std::max(a.directedArea, b.directedArea);
}

// Whether the turn carries the area of `from` along each direction onto the same area of `to`, and
// back: the check that sees a part turned by any of its own near-symmetries.
bool carriesDirections(const Figures &from, const gp_Mat &rotation, const Figures &to) {
  const double tolerance = areaTolerance(from, to);
  const auto carried = [&](const Figures &a, const gp_Mat &turn, const Figures &b) {
    return std::all_of(a.directions.begin(), a.directions.end(), [&](const Direction &d) {
      return std::abs(d.area - areaAlong(b.directions, d.kind, gp_Dir(turn * d.direction.XYZ()))) <= tolerance;
    });
  };
  return carried(from, rotation, to) && carried(to, rotation.Transposed(), from);
}

// Whether the turn carries the inertia of `from` onto that of `to`, within the comparison's share of
// the largest moment: a turn changes it by about its angle times the spread of the moments, so
// this sees turns of parts without planes or axes, unless their moments are (nearly) equal.
bool carriesInertia(const Figures &from, const gp_Mat &rotation, const Figures &to) {
  const gp_Mat difference = rotation * from.inertia * rotation.Transposed() - to.inertia;
  double largest = 0.0;
  double deviation = 0.0;
  for (int i = 1; i <= 3; ++i) {
    largest = std::max({largest, std::abs(from.moments[i - 1]), std::abs(to.moments[i - 1])});
    for (int j = 1; j <= 3; ++j) deviation = std::max(deviation, std::abs(difference(i, j)));
  }
  return deviation <= comparisonTolerance * largest;
}

// The cheap checks a turn must pass before the shape comparison is asked.
bool carriesFigures(const Figures &from, const gp_Mat &rotation, const Figures &to) {
  return carriesInertia(from, rotation, to) && carriesDirections(from, rotation, to);
}

bool equalBothWays(const TopoDS_Shape &a, const TopoDS_Shape &b) {
  return areShapesEqual(a, b) && areShapesEqual(b, a);
}

// The proper rotations among the matrices whose columns are the given axes, each either way round
// and in any order.
void addFrames(const gp_Vec (&from)[3], const gp_Vec (&to)[3], std::vector<gp_Mat> &rotations) {
  using Triple = std::array<int, 3>;
  for (const Triple &order :
       {Triple{0, 1, 2}, Triple{0, 2, 1}, Triple{1, 0, 2}, Triple{1, 2, 0}, Triple{2, 0, 1}, Triple{2, 1, 0}}) {
    for (int choice = 0; choice < 8; ++choice) {
      gp_Mat target;  // columns: where each of `from`'s axes goes
      gp_Mat source;
      for (int k = 0; k < 3; ++k) {
        const double sign = (choice >> k) & 1 ? -1.0 : 1.0;
        target.SetCol(k + 1, (to[order[k]] * sign).XYZ());
        source.SetCol(k + 1, from[k].XYZ());
      }
      const gp_Mat rotation = target * source.Transposed();
      if (rotation.Determinant() > 0.5) rotations.push_back(rotation);
    }
  }
}

// The right-handed orthonormal frame whose first axis is `first` and whose second lies towards
// `second`.
gp_Mat frameOf(const gp_Dir &first, const gp_Dir &second) {
  const gp_Dir third = first.Crossed(second);
  gp_Mat frame;
  frame.SetCols(first.XYZ(), third.Crossed(first).XYZ(), third.XYZ());
  return frame;
}

// The turns that carry the rarest direction of `from` (fewest alike in kind and area, then the
// largest), and the rarest one across it, onto directions of `to` alike in kind, area and the angle
// between them. Any turn that carries the directions of one part onto the other's is among them, and
// they are about as many as the part has symmetries. Where every direction is parallel to the
// first, only the least turn onto each is given, and the turn about it is left open: false.
bool featureRotations(const Figures &from, const Figures &to, std::vector<gp_Mat> &rotations) {
  const double tolerance = areaTolerance(from, to);
  const auto alike = [&](const Direction &a, const Direction &b) {
    return a.kind == b.kind && std::abs(a.area - b.area) <= tolerance;
  };
  const auto rarer = [&](const Direction &a, const Direction &b) {
    const auto count = [&](const Direction &d) {
      return std::count_if(from.directions.begin(), from.directions.end(),
                           [&](const Direction &e) { return alike(d, e); });
    };
    const auto ca = count(a);
    const auto cb = count(b);
    return ca < cb || (ca == cb && a.area > b.area);
  };
  const Direction *first = nullptr;
  for (const Direction &d : from.directions) {
    if (!first || rarer(d, *first)) first = &d;
  }
  if (!first) return false;
  const Direction *second = nullptr;
  for (const Direction &d : from.directions) {
    const bool across = !parallel(d.direction, first->direction) && !parallel(d.direction, first->direction.Reversed());
    if (across && (!second || rarer(d, *second))) second = &d;
  }
  for (const Direction &firstImage : to.directions) {
    if (!alike(*first, firstImage)) continue;
    if (!second) {
      rotations.push_back(gp_Quaternion(gp_Vec(first->direction), gp_Vec(firstImage.direction)).GetMatrix());
      continue;
    }
    const double angle = first->direction.Angle(second->direction);
    const gp_Mat source = frameOf(first->direction, second->direction).Transposed();
    for (const Direction &secondImage : to.directions) {
      if (alike(*second, secondImage) &&
          std::abs(firstImage.direction.Angle(secondImage.direction) - angle) <= sameDirection) {
        rotations.push_back(frameOf(firstImage.direction, secondImage.direction) * source);
      }
    }
  }
  return second != nullptr;
}

// The rotations worth trying to carry one part onto another: none (a part shifted), then the ones
// that carry the principal frame of `from` onto that of `to`, each axis either way round and in any
// order (carriesInertia keeps those that pair equal moments). Where two moments agree the principal
// axes are arbitrary in their plane (a cube's in space), so the turns come from the directions of
// the faces too; and where those leave a turn open, from the quarter turns about the model's axes.
std::vector<gp_Mat> candidateRotations(const Figures &from, const Figures &to) {
  std::vector<gp_Mat> rotations = {identity};
  addFrames(from.axes, to.axes, rotations);
  const auto close = [&](int i, int j) {
    return std::abs(to.moments[i] - to.moments[j]) <=
           equalMoments * std::max(std::abs(to.moments[i]), std::abs(to.moments[j]));
  };
  if ((close(0, 1) || close(1, 2) || close(0, 2)) && !featureRotations(from, to, rotations)) {
    const gp_Vec model[3] = {gp_Vec(1, 0, 0), gp_Vec(0, 1, 0), gp_Vec(0, 0, 1)};
    addFrames(model, model, rotations);
  }
  return rotations;
}

gp_Trsf motionOf(const gp_Mat &rotation, const gp_Pnt &from, const gp_Pnt &to) {
  gp_Trsf trsf;
  trsf.SetRotation(gp_Quaternion(rotation));
  trsf.SetTranslationPart(gp_Vec(to.XYZ() - rotation * from.XYZ()));
  return trsf;
}

// The turn as an axis and an angle in [0, pi]: a negative angle, or one past a half turn, is the
// same turn about the opposite axis.
std::pair<gp_Vec, double> axisAndAngle(const gp_Quaternion &turn) {
  gp_Vec axis;
  double angle = 0.0;
  turn.GetVectorAndAngle(axis, angle);
  if (angle < 0) {
    angle = -angle;
    axis.Reverse();
  }
  if (angle > M_PI) {
    angle = 2 * M_PI - angle;
    axis.Reverse();
  }
  return {axis, angle};
}

}  // namespace

Figures figuresOf(const TopoDS_Shape &shape) {
  Figures f{getDominantShapeType(shape), 0.0, gp_Pnt(), 0.0, gp_Mat(), {}, {}, {}, 0.0};
  f.directions = directionsOf(shape, f.directedArea);
  const std::optional<GProp_GProps> properties = getDominantMeasure(shape);
  if (!properties) {
    f.center = getCenterOfMass(shape);
    return f;
  }
  f.measure = std::abs(properties->Mass());
  const double scale = f.type == TopAbs_SOLID  ? std::cbrt(f.measure)
                       : f.type == TopAbs_FACE ? std::sqrt(f.measure)
                                               : f.measure;
  f.center = properties->CentreOfMass();
  f.centerTolerance = comparisonTolerance * scale;
  f.inertia = properties->MatrixOfInertia();
  const GProp_PrincipalProps principal = properties->PrincipalProperties();
  principal.Moments(f.moments[0], f.moments[1], f.moments[2]);
  f.axes[0] = principal.FirstAxisOfInertia();
  f.axes[1] = principal.SecondAxisOfInertia();
  f.axes[2] = f.axes[0].Crossed(f.axes[1]);  // a right-handed frame
  return f;
}

bool equalInPlace(const TopoDS_Shape &a, const Figures &aFigures, const TopoDS_Shape &b, const Figures &bFigures) {
  return carriesFigures(aFigures, identity, bFigures) && equalBothWays(a, b);
}

std::optional<gp_Trsf> motionBetween(const TopoDS_Shape &from, const Figures &fromFigures, const TopoDS_Shape &to,
                                     const Figures &toFigures) {
  std::vector<std::pair<double, gp_Mat>> turns;
  for (const gp_Mat &rotation : candidateRotations(fromFigures, toFigures)) {
    turns.push_back({axisAndAngle(gp_Quaternion(rotation)).second, rotation});
  }
  std::stable_sort(turns.begin(), turns.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
  for (const auto &[angle, rotation] : turns) {
    if (!carriesFigures(fromFigures, rotation, toFigures)) continue;
    const gp_Trsf trsf = motionOf(rotation, fromFigures.center, toFigures.center);
    if (equalBothWays(from.Moved(TopLoc_Location(trsf)), to)) return trsf;
  }
  return std::nullopt;
}

Motion motionReport(std::size_t before, std::size_t after, const gp_Trsf &trsf) {
  Motion motion{before, after, trsf.TranslationPart(), gp_Dir(0, 0, 1), 0.0};
  const auto [axis, angle] = axisAndAngle(trsf.GetRotation());
  if (angle > noTurn && axis.Magnitude() > noTurn) {
    motion.axis = gp_Dir(axis);
    motion.angle = angle * 180.0 / M_PI;
  }
  return motion;
}

}  // namespace nimbo::detail
