// Interference of the solid parts of an assembly: a sweep over their boxes finds the pairs that can
// meet; those are measured exactly, in parallel, the cheap distance first and the general fuse only
// for pairs at contact distance.
#include "Fusing.h"
#include "Parallel.h"
#include "Sweep.h"
#include "Tolerances.h"
#include "topology/ShapeMeasures.h"

#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRep_Tool.hxx>
#include <Message_ProgressScope.hxx>
#include <Precision.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <gp_Trsf.hxx>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <variant>

namespace nimbo {
namespace {

using detail::compoundOf;
using detail::inParallel;
using detail::Interval3;
using detail::Pair;
using detail::pairsThatMeet;
using detail::volumeOf;

Interval3 reachOf(const TopoDS_Shape &shape) {
  // Nothing to bound it by: it meets everything, and the exact tests decide.
  return detail::intervalOf(getShapeReach(shape));
}

std::vector<Pair> allPairs(std::size_t count) {
  std::vector<Pair> pairs;
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t j = i + 1; j < count; ++j) pairs.emplace_back(i, j);
  }
  return pairs;
}

struct Settings {
  double contactTolerance;
  double clearance;
  std::optional<double> minimumOverlap;
};

using Finding = std::variant<std::monostate, Overlap, Contact, Clearance, PairFailure>;

// Pairs at contact distance: a general fuse of the two tells touching from overlapping, through the
// solids it made from both and what their solids share.
Finding fuseOf(const Part &a, std::size_t i, const Part &b, std::size_t j, double distance, const Settings &settings) {
  BOPAlgo_Builder fuse;
  // The pairs are the parallel work; one thread means one. Parts apart by less than the tolerance
  // touch only if the fuse may close that gap.
  const detail::FuseSettings fusing{false, Glue::off,
                                    distance > Precision::Confusion() ? settings.contactTolerance : 0.0};
  const std::string errors = detail::runFuse(fuse, {a.shape, b.shape}, fusing);
  if (!errors.empty()) return PairFailure{{i, j}, "the general fuse of the two failed: " + errors};
  const detail::FusedSolids fused = detail::fusedSolidsOf(fuse, {a.shape, b.shape});
  std::vector<TopoDS_Shape> common;
  for (int index = 1; index <= fused.solids.Extent(); ++index) {
    if (fused.owners[index - 1].size() == 2) common.push_back(fused.solids(index));
  }
  if (!common.empty()) {
    const TopoDS_Shape region = compoundOf(common);
    const double volume = volumeOf(region);
    const double minimum = settings.minimumOverlap.value_or(detail::relativeMinimumOverlap *
                                                            std::min(volumeOf(a.shape), volumeOf(b.shape)));
    if (volume > minimum) return Overlap{{i, j}, volume, region};
  }
  const auto shared = [&](TopAbs_ShapeEnum type) {
    const detail::Sides sides = detail::sidesOf(fused, type);
    const auto found = sides.shared.find({0, 1});
    return found == sides.shared.end() ? std::vector<TopoDS_Shape>() : found->second;
  };
  const std::vector<TopoDS_Shape> faces = shared(TopAbs_FACE);
  if (!faces.empty()) {
    const TopoDS_Shape contact = compoundOf(faces);
    return Contact{{i, j}, ContactKind::face, detail::areaOf(contact), contact};
  }
  return Contact{{i, j}, shared(TopAbs_EDGE).empty() ? ContactKind::point : ContactKind::edge, 0.0, TopoDS_Shape()};
}

// A solid part's faces, each with its reach, for narrowing the distance to where the parts are close.
struct Faces {
  Interval3 reach;
  std::vector<std::pair<TopoDS_Shape, Interval3>> faces;
};

Faces facesOf(const TopoDS_Shape &shape) {
  Faces result{reachOf(shape), {}};
  for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
    result.faces.emplace_back(it.Current(), reachOf(it.Current()));
  }
  return result;
}

bool within(const Interval3 &a, const Interval3 &b, double gap) {
  for (int axis = 0; axis < 3; ++axis) {
    if (a.min[axis] - gap > b.max[axis] || b.min[axis] - gap > a.max[axis]) return false;
  }
  return true;
}

// The faces of `from` within `gap` of some face of `to`, by their reaches; null when there are none.
// Any two points closer than `gap` lie on such faces.
TopoDS_Shape facesNear(const Faces &from, const Faces &to, double gap) {
  std::vector<TopoDS_Shape> near;
  for (const auto &[face, reach] : from.faces) {
    if (!within(reach, to.reach, gap)) continue;
    const bool close = std::any_of(to.faces.begin(), to.faces.end(),
                                   [&](const auto &other) { return within(reach, other.second, gap); });
    if (close) near.push_back(face);
  }
  return near.empty() ? TopoDS_Shape() : compoundOf(near);
}

// Whether `inner` lies inside `outer`, for parts whose boundaries are apart: then one point decides.
bool liesInside(const TopoDS_Shape &inner, const Faces &innerFaces, const TopoDS_Shape &outer,
                const Faces &outerFaces) {
  for (int axis = 0; axis < 3; ++axis) {
    if (innerFaces.reach.min[axis] < outerFaces.reach.min[axis] ||
        innerFaces.reach.max[axis] > outerFaces.reach.max[axis]) {
      return false;
    }
  }
  const TopExp_Explorer vertex(inner, TopAbs_VERTEX);
  if (!vertex.More()) return false;
  const gp_Pnt point = BRep_Tool::Pnt(TopoDS::Vertex(vertex.Current()));
  for (TopExp_Explorer solid(outer, TopAbs_SOLID); solid.More(); solid.Next()) {
    BRepClass3d_SolidClassifier classifier(solid.Current(), point, Precision::Confusion());
    if (classifier.State() == TopAbs_IN) return true;
  }
  return false;
}

// The exact tests on one pair, cheapest first: most pairs whose boxes meet are apart, which the
// distance between their nearby faces alone settles.
Finding examine(const Part &a, std::size_t i, const Faces &aFaces, const Part &b, std::size_t j, const Faces &bFaces,
                const Settings &settings) {
  try {
    const double reach = std::max(settings.contactTolerance, settings.clearance);
    const TopoDS_Shape aNear = facesNear(aFaces, bFaces, reach);
    const TopoDS_Shape bNear = facesNear(bFaces, aFaces, reach);
    std::optional<BRepExtrema_DistShapeShape> extrema;
    if (!aNear.IsNull() && !bNear.IsNull()) {
      extrema.emplace(aNear, bNear, Extrema_ExtFlag_MIN);
      if (!extrema->IsDone() || extrema->NbSolution() == 0) {
        return PairFailure{{i, j}, "the distance between the two could not be computed"};
      }
    }
    const double distance = extrema ? extrema->Value() : std::numeric_limits<double>::infinity();
    if (distance <= settings.contactTolerance) return fuseOf(a, i, b, j, distance, settings);
    // Boundaries apart, the parts still overlap when one holds the other.
    if (liesInside(a.shape, aFaces, b.shape, bFaces) || liesInside(b.shape, bFaces, a.shape, aFaces)) {
      return fuseOf(a, i, b, j, 0.0, settings);
    }
    if (distance < settings.clearance) {
      return Clearance{{i, j}, distance, extrema->PointOnShape1(1), extrema->PointOnShape2(1)};
    }
    return std::monostate{};
  } catch (const Standard_Failure &failure) {
    return PairFailure{{i, j}, std::string("the CAD kernel failed: ") + failure.GetMessageString()};
  } catch (const std::exception &error) {
    return PairFailure{{i, j}, error.what()};
  }
}

// Where one pair is the other moved: the same two products, placed alike relative to each other,
// as the fasteners of a repeated subassembly are.
struct Congruent {
  std::size_t pair;  ///< the earlier pair's position among the candidates
  gp_Trsf move;      ///< takes its parts onto this pair's
};

bool sameTrsf(const gp_Trsf &a, const gp_Trsf &b) {
  for (int row = 1; row <= 3; ++row) {
    for (int column = 1; column <= 4; ++column) {
      // Rotation coefficients are near 1, translations in mm: both far coarser than this.
      if (std::abs(a.Value(row, column) - b.Value(row, column)) > 1e-10) return false;
    }
  }
  return true;
}

// For each candidate, the earlier congruent one it can take its finding from, if any.
std::vector<std::optional<Congruent>> congruentPairs(const std::vector<Part> &parts,
                                                     const std::vector<std::size_t> &solids,
                                                     const std::vector<Pair> &candidates) {
  using Products = std::tuple<const void *, TopAbs_Orientation, const void *, TopAbs_Orientation>;
  std::map<Products, std::vector<std::size_t>> examined;  // pairs examined themselves, by their products
  std::vector<std::optional<Congruent>> congruent(candidates.size());
  const auto placement = [&](std::size_t solid) { return parts[solids[solid]].shape.Location().Transformation(); };
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const TopoDS_Shape &a = parts[solids[candidates[k].first]].shape;
    const TopoDS_Shape &b = parts[solids[candidates[k].second]].shape;
    std::vector<std::size_t> &earlier =
        examined[{a.TShape().get(), a.Orientation(), b.TShape().get(), b.Orientation()}];
    const gp_Trsf relative = placement(candidates[k].first).Inverted() * placement(candidates[k].second);
    for (const std::size_t e : earlier) {
      const gp_Trsf first = placement(candidates[e].first);
      if (sameTrsf(first.Inverted() * placement(candidates[e].second), relative)) {
        congruent[k] = Congruent{e, placement(candidates[k].first) * first.Inverted()};
        break;
      }
    }
    if (!congruent[k]) earlier.push_back(k);
  }
  return congruent;
}

// The finding of a congruent pair, moved onto the parts `i` and `j`.
Finding movedFinding(const Finding &finding, const gp_Trsf &move, std::size_t i, std::size_t j) {
  const TopLoc_Location location(move);
  const auto moved = [&](const TopoDS_Shape &shape) { return shape.IsNull() ? shape : shape.Moved(location); };
  if (const auto *o = std::get_if<Overlap>(&finding)) return Overlap{{i, j}, o->volume, moved(o->region)};
  if (const auto *c = std::get_if<Contact>(&finding)) return Contact{{i, j}, c->kind, c->area, moved(c->faces)};
  if (const auto *c = std::get_if<Clearance>(&finding)) {
    return Clearance{{i, j}, c->distance, c->onFirst.Transformed(move), c->onSecond.Transformed(move)};
  }
  if (const auto *f = std::get_if<PairFailure>(&finding)) return PairFailure{{i, j}, f->message};
  return std::monostate{};
}

double diagonalOf(const std::vector<Interval3> &reaches) {
  double min[3] = {0, 0, 0};
  double max[3] = {0, 0, 0};
  bool any = false;
  for (const Interval3 &reach : reaches) {
    if (std::isinf(reach.min[0])) continue;
    for (int axis = 0; axis < 3; ++axis) {
      min[axis] = any ? std::min(min[axis], reach.min[axis]) : reach.min[axis];
      max[axis] = any ? std::max(max[axis], reach.max[axis]) : reach.max[axis];
    }
    any = true;
  }
  return std::hypot(max[0] - min[0], max[1] - min[1], max[2] - min[2]);
}

}  // namespace

const char *toString(ContactKind kind) {
  switch (kind) {
    case ContactKind::face:
      return "face";
    case ContactKind::edge:
      return "edge";
    default:
      return "point";
  }
}

Interferences findInterferences(const std::vector<Part> &parts, const InterferenceOptions &options,
                                const Message_ProgressRange &progress) {
  Interferences result;
  const std::vector<std::size_t> solids = detail::solidPartsOf(parts, result.skipped);
  const std::size_t n = solids.size();
  result.parts = n;
  result.pairs = n < 2 ? 0 : n * (n - 1) / 2;

  std::vector<Interval3> reaches;
  for (const std::size_t i : solids) reaches.push_back(reachOf(parts[i].shape));
  result.contactTolerance = options.contactTolerance.value_or(detail::relativeContactTolerance * diagonalOf(reaches));
  // Two reaches grown by half the largest distance that still counts meet when the parts may.
  const double margin = 0.5 * std::max(result.contactTolerance, options.clearance);
  for (Interval3 &reach : reaches) {
    for (int axis = 0; axis < 3; ++axis) {
      reach.min[axis] -= margin;
      reach.max[axis] += margin;
    }
  }
  const std::vector<Pair> candidates = options.broadPhase ? pairsThatMeet(reaches) : allPairs(n);
  result.candidates = candidates.size();

  const Settings settings{result.contactTolerance, options.clearance, options.minimumOverlap};

  // Ranges are taken in this thread, as the scope wants; workers only close theirs.
  Message_ProgressScope scope(progress, "Checking pairs",
                              static_cast<double>(std::max<std::size_t>(1, candidates.size())));
  std::vector<Message_ProgressRange> ranges;
  ranges.reserve(candidates.size());
  for (std::size_t k = 0; k < candidates.size(); ++k) ranges.push_back(scope.Next());
  // Each part's faces once, for all its pairs.
  std::vector<Faces> faces(n);
  std::vector<std::size_t> involved;
  for (const Pair &pair : candidates) involved.insert(involved.end(), {pair.first, pair.second});
  std::sort(involved.begin(), involved.end());
  involved.erase(std::unique(involved.begin(), involved.end()), involved.end());
  inParallel(involved.size(), options.threads,
             [&](std::size_t k) { faces[involved[k]] = facesOf(parts[solids[involved[k]]].shape); });

  // A pair congruent to an earlier one gives the same answer, moved: repeated subassemblies are
  // examined once.
  const std::vector<std::optional<Congruent>> congruent = congruentPairs(parts, solids, candidates);
  std::vector<Finding> findings(candidates.size());
  std::atomic<bool> stopped{false};
  inParallel(candidates.size(), options.threads, [&](std::size_t k) {
    if (congruent[k]) return;
    if (stopped || ranges[k].UserBreak()) {
      stopped = true;
      return;
    }
    const auto [first, second] = candidates[k];
    const std::size_t i = solids[first];
    const std::size_t j = solids[second];
    findings[k] = examine(parts[i], i, faces[first], parts[j], j, faces[second], settings);
    ranges[k].Close();
  });
  if (stopped) throw nimbo_exception("Interference check stopped before all pairs were examined");
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    if (!congruent[k]) continue;
    findings[k] = movedFinding(findings[congruent[k]->pair], congruent[k]->move, solids[candidates[k].first],
                               solids[candidates[k].second]);
    ranges[k].Close();
  }

  for (Finding &finding : findings) {
    if (auto *overlap = std::get_if<Overlap>(&finding)) result.overlaps.push_back(*overlap);
    if (auto *contact = std::get_if<Contact>(&finding)) result.contacts.push_back(*contact);
    if (auto *clearance = std::get_if<Clearance>(&finding)) result.clearances.push_back(*clearance);
    if (auto *failure = std::get_if<PairFailure>(&finding)) result.failures.push_back(std::move(*failure));
  }
  return result;
}

}  // namespace nimbo
