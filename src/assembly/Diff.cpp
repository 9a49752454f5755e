// Revision diff: the parts of two revisions matched by geometry first, through an index on their
// measure and centre, then by path and name.
#include "Fusing.h"
#include "Motion.h"
#include "Parallel.h"
#include "Tolerances.h"
#include "topology/ShapeMeasures.h"

#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepTools.hxx>
#include <Message_ProgressScope.hxx>
#include <NCollection_DataMap.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopTools_ShapeMapHasher.hxx>
#include <gp_Trsf.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>

namespace nimbo {
namespace {

using detail::Figures;

bool measuresAgree(const Figures &a, const Figures &b) {
  return a.type == b.type &&
         std::abs(a.measure - b.measure) <= detail::comparisonTolerance * std::max(a.measure, b.measure);
}

double cutVolume(const TopoDS_Shape &from, const TopoDS_Shape &tool, const std::string &what) {
  BRepAlgoAPI_Cut cut;
  TopTools_ListOfShape arguments;
  arguments.Append(from);
  TopTools_ListOfShape tools;
  tools.Append(tool);
  cut.SetArguments(arguments);
  cut.SetTools(tools);
  cut.SetNonDestructive(true);
  cut.Build();
  if (cut.HasErrors()) throw nimbo_exception("The Boolean cut of " + what + " failed");
  return detail::volumeOf(cut.Shape());
}

// Pairs (before, after) chosen one to one, nearest first, from candidates with their distances.
template <typename Candidate>
std::vector<Candidate> oneToOne(std::vector<std::pair<double, Candidate>> candidates, std::vector<bool> &beforeUsed,
                                std::vector<bool> &afterUsed) {
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const auto &x, const auto &y) { return x.first < y.first; });
  std::vector<Candidate> chosen;
  for (auto &[distance, candidate] : candidates) {
    if (beforeUsed[candidate.before] || afterUsed[candidate.after]) continue;
    beforeUsed[candidate.before] = afterUsed[candidate.after] = true;
    chosen.push_back(candidate);
  }
  return chosen;
}

template <typename T>
void byAfter(std::vector<T> &list) {
  std::sort(list.begin(), list.end(), [](const T &x, const T &y) { return x.after < y.after; });
}

// Triangulates each product once, for all its instances: at half the deflection the finest of them
// asks for in a comparison (meshShape's, which follows each instance's box), a margin no box moves
// by, so that no comparison triangulates again. One already that fine is left alone.
void meshOncePerProduct(const std::vector<TopoDS_Shape> &shapes) {
  std::map<const void *, std::pair<double, TopoDS_Shape>> finest;
  for (const TopoDS_Shape &shape : shapes) {
    if (shape.IsNull() || !TopExp_Explorer(shape, TopAbs_VERTEX).More()) continue;
    const double deflection = meshDeflection(shape);
    const auto [at, fresh] = finest.insert({shape.TShape().get(), {deflection, shape}});
    if (!fresh && deflection < at->second.first) at->second = {deflection, shape};
  }
  std::vector<std::pair<double, TopoDS_Shape>> coarse;
  for (const auto &[product, instance] : finest) {
    const auto &[deflection, shape] = instance;
    if (deflection > 0 && !BRepTools::Triangulation(shape, deflection, true)) coarse.push_back(instance);
  }
  // Meshing writes to the product's faces and edges only: products that share no edge are meshed
  // on every core (a thousand blocks took a second on one).
  TopTools_MapOfShape edges;
  bool apart = true;
  for (std::size_t k = 0; k < coarse.size() && apart; ++k) {
    TopTools_IndexedMapOfShape own;
    TopExp::MapShapes(coarse[k].second, TopAbs_EDGE, own);
    for (int e = 1; e <= own.Extent() && apart; ++e) apart = edges.Add(own(e));
  }
  detail::inParallel(coarse.size(), apart ? 0 : 1, [&](std::size_t k) {
    BRepMesh_IncrementalMesh(coarse[k].second, 0.5 * coarse[k].first, false, 0.5, false);
  });
}

}  // namespace

AssemblyDiff diffAssemblies(const std::vector<Part> &before, const std::vector<Part> &after,
                            const Message_ProgressRange &progress) {
  Message_ProgressScope scope(progress, "Comparing revisions", 4);
  const auto checkStop = [&] {
    if (scope.UserBreak()) throw nimbo_exception("Revision diff stopped before it was complete");
  };
  std::vector<Figures> old(before.size());
  std::vector<Figures> now(after.size());
  // A new part that is an old one's very shape takes its figures.
  NCollection_DataMap<TopoDS_Shape, std::size_t, TopTools_ShapeMapHasher> oldShapes;
  for (std::size_t i = 0; i < before.size(); ++i) oldShapes.Bind(before[i].shape, i);
  std::vector<std::optional<std::size_t>> sameAs(after.size());
  for (std::size_t j = 0; j < after.size(); ++j) {
    const std::size_t *i = oldShapes.Seek(after[j].shape);
    if (i && before[*i].shape.IsEqual(after[j].shape)) sameAs[j] = *i;
  }
  // The figures only read the parts: both revisions at once, on every core.
  detail::inParallel(before.size() + after.size(), 0, [&](std::size_t k) {
    if (k < before.size()) {
      old[k] = detail::figuresOf(before[k].shape);
    } else if (!sameAs[k - before.size()]) {
      now[k - before.size()] = detail::figuresOf(after[k - before.size()].shape);
    }
  });
  for (std::size_t j = 0; j < after.size(); ++j) {
    if (sameAs[j]) now[j] = old[*sameAs[j]];
  }
  std::vector<bool> beforeUsed(before.size(), false);
  std::vector<bool> afterUsed(after.size(), false);
  AssemblyDiff diff;

  // In place: an equal part has its centre within the tolerance, so the old parts sorted by x give
  // the few worth comparing.
  std::vector<std::size_t> byX(before.size());
  for (std::size_t i = 0; i < byX.size(); ++i) byX[i] = i;
  std::sort(byX.begin(), byX.end(),
            [&](std::size_t a, std::size_t b) { return old[a].center.X() < old[b].center.X(); });
  std::vector<std::pair<double, PartMatch>> near;
  for (std::size_t j = 0; j < after.size(); ++j) {
    const double reach = now[j].centerTolerance;
    auto it = std::lower_bound(byX.begin(), byX.end(), now[j].center.X() - reach,
                               [&](std::size_t i, double x) { return old[i].center.X() < x; });
    for (; it != byX.end() && old[*it].center.X() <= now[j].center.X() + reach; ++it) {
      const std::size_t i = *it;
      const double distance = old[i].center.Distance(now[j].center);
      if (distance <= reach && measuresAgree(old[i], now[j])) near.push_back({distance, {i, j}});
    }
  }
  // A pair of one shape (an assembly against itself, or against a revision made from it in memory)
  // is equal as it stands. The others are compared, which triangulates: with every shape triangulated
  // first the comparisons only read, and run on every core. Instances of one product share its
  // triangulation, made once and as fine as the finest of them asks.
  std::vector<char> equal(near.size());
  std::vector<TopoDS_Shape> compared;
  for (std::size_t k = 0; k < near.size(); ++k) {
    const auto &[i, j] = near[k].second;
    equal[k] = before[i].shape.IsEqual(after[j].shape);
    if (!equal[k]) compared.insert(compared.end(), {before[i].shape, after[j].shape});
  }
  meshOncePerProduct(compared);
  const auto compare = [&](std::size_t k) {
    const auto &[i, j] = near[k].second;
    if (!equal[k]) equal[k] = detail::equalInPlace(before[i].shape, old[i], after[j].shape, now[j]);
  };
  // Parts of several shapes are compared shape by shape, each at its own finer deflection: those
  // pairs may triangulate, and take their turn after.
  const auto solids = [&](std::size_t k) {
    const TopoDS_Shape &a = before[near[k].second.before].shape, &b = after[near[k].second.after].shape;
    return !a.IsNull() && !b.IsNull() && a.ShapeType() == TopAbs_SOLID && b.ShapeType() == TopAbs_SOLID;
  };
  detail::inParallel(near.size(), 0, [&](std::size_t k) {
    if (solids(k)) compare(k);
  });
  for (std::size_t k = 0; k < near.size(); ++k) {
    if (!solids(k)) compare(k);
  }
  std::vector<std::pair<double, PartMatch>> inPlace;
  for (std::size_t k = 0; k < near.size(); ++k) {
    if (equal[k]) inPlace.push_back(near[k]);
  }
  diff.unchanged = oneToOne(inPlace, beforeUsed, afterUsed);
  scope.Next();
  checkStop();

  // Moved: the parts left, indexed by measure. Each new part takes the nearest old one that a
  // motion carries onto it; a part whose old match went to a nearer claimant looks again.
  std::vector<std::size_t> byMeasure;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (!beforeUsed[i]) byMeasure.push_back(i);
  }
  std::sort(byMeasure.begin(), byMeasure.end(),
            [&](std::size_t a, std::size_t b) { return old[a].measure < old[b].measure; });
  std::set<std::pair<std::size_t, std::size_t>> refused;  // pairs no motion carries onto each other
  for (bool found = true; found;) {
    found = false;
    std::vector<std::pair<double, Motion>> motions;
    for (std::size_t j = 0; j < after.size(); ++j) {
      if (afterUsed[j] || now[j].measure <= 0.0) continue;
      std::vector<std::pair<double, std::size_t>> nearest;
      auto it = std::lower_bound(byMeasure.begin(), byMeasure.end(), now[j].measure * (1 - detail::measureIndexReach),
                                 [&](std::size_t i, double m) { return old[i].measure < m; });
      for (; it != byMeasure.end() && old[*it].measure <= now[j].measure * (1 + detail::measureIndexReach); ++it) {
        if (!beforeUsed[*it] && measuresAgree(old[*it], now[j]) && !refused.count({*it, j})) {
          nearest.push_back({old[*it].center.Distance(now[j].center), *it});
        }
      }
      std::sort(nearest.begin(), nearest.end());
      for (const auto &[distance, i] : nearest) {
        if (const std::optional<gp_Trsf> motion =
                detail::motionBetween(before[i].shape, old[i], after[j].shape, now[j])) {
          motions.push_back({distance, detail::motionReport(i, j, *motion)});
          break;
        }
        refused.insert({i, j});
      }
    }
    const std::vector<Motion> chosen = oneToOne(motions, beforeUsed, afterUsed);
    diff.moved.insert(diff.moved.end(), chosen.begin(), chosen.end());
    found = chosen.size() < motions.size() && !chosen.empty();
    checkStop();
  }
  scope.Next();

  // Modified: what is left pairs up by path, then by a name that is unique on both sides.
  std::map<std::string, std::size_t> oldPaths;
  std::multimap<std::string, std::size_t> oldNames;
  std::map<std::string, int> newNames;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (beforeUsed[i]) continue;
    oldPaths[before[i].path] = i;
    oldNames.emplace(before[i].name, i);
  }
  for (std::size_t j = 0; j < after.size(); ++j) {
    if (!afterUsed[j]) ++newNames[after[j].name];
  }
  std::vector<PartMatch> edited;
  for (std::size_t j = 0; j < after.size(); ++j) {
    if (afterUsed[j]) continue;
    auto path = oldPaths.find(after[j].path);
    if (path != oldPaths.end() && !beforeUsed[path->second]) {
      edited.push_back({path->second, j});
      beforeUsed[path->second] = afterUsed[j] = true;
    }
  }
  for (std::size_t j = 0; j < after.size(); ++j) {
    if (afterUsed[j] || newNames[after[j].name] != 1 || oldNames.count(after[j].name) != 1) continue;
    const std::size_t i = oldNames.find(after[j].name)->second;
    if (beforeUsed[i]) continue;
    edited.push_back({i, j});
    beforeUsed[i] = afterUsed[j] = true;
  }
  for (const PartMatch &m : edited) {
    const TopoDS_Shape &a = before[m.before].shape;
    const TopoDS_Shape &b = after[m.after].shape;
    const std::string what = before[m.before].path + " and " + after[m.after].path;
    const bool solid = old[m.before].type == TopAbs_SOLID && now[m.after].type == TopAbs_SOLID;
    diff.modified.push_back({m.before, m.after, detail::volumeOf(a), detail::volumeOf(b),
                             solid ? cutVolume(b, a, what) : 0.0, solid ? cutVolume(a, b, what) : 0.0});
    checkStop();
  }
  scope.Next();

  for (std::size_t j = 0; j < after.size(); ++j) {
    if (!afterUsed[j]) diff.added.push_back(j);
  }
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (!beforeUsed[i]) diff.removed.push_back(i);
  }
  byAfter(diff.unchanged);
  byAfter(diff.moved);
  byAfter(diff.modified);
  for (const PartMatch &m : diff.unchanged) {
    if (before[m.before].path != after[m.after].path) diff.renamed.push_back(m);
  }
  return diff;
}

}  // namespace nimbo
