// Healing, a step at a time on a copy of each part: every step is checked, and taken back for the
// part it makes worse, since the kernel's repairs sometimes return invalid shapes.
#include "Features.h"
#include "Inspect.h"

#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressScope.hxx>
#include <ShapeFix_FixSmallFace.hxx>
#include <ShapeFix_Shape.hxx>
#include <ShapeFix_Wireframe.hxx>
#include <ShapeUpgrade_UnifySameDomain.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <future>

namespace nimbo {
namespace {

using detail::countOf;

// The least a step's volume change is held to: the volumes' own integration noise.
constexpr double relativeVolumeBound = 1e-6;

// Integrated adaptively to 1e-10, which the kernel meets to about 1e-7: ten times finer than the
// change a step may make. (The part's box, which measurePart adds, is not needed.)
std::optional<double> volumeOf(const TopoDS_Shape &shape) {
  if (!TopExp_Explorer(shape, TopAbs_SOLID).More()) return std::nullopt;
  GProp_GProps properties;
  BRepGProp::VolumeProperties(shape, properties, 1e-10, true);
  return std::abs(properties.Mass());
}

std::string figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// A part as a step leaves it.
struct State {
  TopoDS_Shape shape;
  bool valid;
  std::size_t solids;
  std::size_t faces;
  std::size_t edges;
  std::optional<double> volume;
};

// The validity and the volume, the slow half of a step on a B-spline part, side by side.
State stateOf(const TopoDS_Shape &shape) {
  std::future<std::optional<double>> volume = std::async(std::launch::async, [&] { return volumeOf(shape); });
  const bool valid = detail::isValid(shape);
  return {shape,       valid, countOf(shape, TopAbs_SOLID), countOf(shape, TopAbs_FACE), countOf(shape, TopAbs_EDGE),
          volume.get()};
}

// Why `after` is worse than `before`, or empty when it is not. `allowed` is the volume it may move.
std::string worse(const State &before, const State &after, double allowed) {
  if (after.shape.IsNull() || after.faces == 0) return "the kernel returned no shape";
  if (before.valid && !after.valid) return "it left the part invalid";
  if (after.solids < before.solids) {
    return "it left " + std::to_string(after.solids) + " solids of " + std::to_string(before.solids);
  }
  if (before.volume && after.volume) {
    const double change = *after.volume - *before.volume;
    if (std::abs(change) > allowed) {
      return "it changed the volume by " + figure(change) + " mm^3 (" + figure(100 * change / *before.volume) +
             " %), more than the " + figure(allowed) + " mm^3 allowed";
    }
  }
  return {};
}

class PartHealer {
 public:
  PartHealer(const TopoDS_Shape &shape, PartHealing &report) : report_(report) {
    // A copy: the kernel's repairs change tolerances in place, and the caller's parts (and other
    // instances of the same product) must stay as they are.
    current_ = stateOf(BRepBuilderAPI_Copy(shape, true, false).Shape());
  }

  const State &current() const { return current_; }

  /// Tries the step; keeps its result when it changed the part and made it no worse.
  template <typename Step>
  void attempt(const char *name, double allowed, Step step) {
    State after;
    try {
      const TopoDS_Shape result = step(current_.shape);
      if (result.IsNull() || result.IsSame(current_.shape)) return;
      after = stateOf(result);
    } catch (const Standard_Failure &failure) {
      report_.undone.push_back({name, "the kernel failed: " + kernelFailureText(failure)});
      return;
    } catch (const std::exception &error) {
      report_.undone.push_back({name, error.what()});
      return;
    }
    const bool changed = after.faces != current_.faces || after.edges != current_.edges ||
                         after.solids != current_.solids || after.valid != current_.valid ||
                         countOf(after.shape, TopAbs_VERTEX) != countOf(current_.shape, TopAbs_VERTEX);
    if (!changed) return;
    const std::string why = worse(current_, after, allowed);
    if (!why.empty()) {
      report_.undone.push_back({name, why});
      return;
    }
    current_ = after;
    report_.steps.push_back(name);
  }

 private:
  PartHealing &report_;
  State current_;
};

TopoDS_Shape fixed(const TopoDS_Shape &shape, double tolerance) {
  ShapeFix_Shape fix(shape);
  fix.SetPrecision(Precision::Confusion());
  fix.SetMinTolerance(Precision::Confusion());
  fix.SetMaxTolerance(tolerance);
  fix.Perform();
  return fix.Status(ShapeExtend_DONE) ? fix.Shape() : shape;
}

TopoDS_Shape withoutSmallEdgesAndFaces(const TopoDS_Shape &shape, double tolerance) {
  Handle(ShapeFix_Wireframe) wireframe = new ShapeFix_Wireframe(shape);
  wireframe->SetPrecision(tolerance);
  wireframe->SetMaxTolerance(tolerance);
  wireframe->ModeDropSmallEdges() = Standard_True;
  wireframe->FixSmallEdges();
  wireframe->FixWireGaps();
  ShapeFix_FixSmallFace faces;
  faces.Init(wireframe->Shape());
  faces.SetPrecision(tolerance);
  faces.SetMaxTolerance(tolerance);
  faces.Perform();
  return faces.FixShape();
}

TopoDS_Shape unified(const TopoDS_Shape &shape) {
  ShapeUpgrade_UnifySameDomain unify(shape, true, true, false);
  unify.Build();
  return unify.Shape();
}

void heal(const Part &part, double size, const HealOptions &options, PartHealing &report, Part &healed) {
  PartHealer healer(part.shape, report);
  const State &start = healer.current();
  report.facesBefore = start.faces;
  report.edgesBefore = start.edges;
  report.solidsBefore = start.solids;
  report.volumeBefore = start.volume;
  const double small = options.smallFraction * size;
  const double gap = options.gapFraction * size;
  const std::vector<Finding> before = detail::findingsOf(start.shape, size, options, false);
  const auto has = [&](const char *kind) {
    for (const Finding &finding : before) {
      if (finding.kind == kind) return true;
    }
    return false;
  };
  for (const Finding &finding : before) report.gapsBefore += finding.kind == "gap";
  const auto bound = [&] { return relativeVolumeBound * healer.current().volume.value_or(0.0); };

  if (start.faces == 0) {
    report.verdict = Verdict::ok;
    healed = part;
    return;
  }
  healer.attempt("fix", bound(), [&](const TopoDS_Shape &shape) { return fixed(shape, small); });
  if (healer.current().solids == 0 || has("free edges")) {
    healer.attempt("sew", bound(), [&](const TopoDS_Shape &shape) {
      bool closed = false;
      const TopoDS_Shape joined = detail::sewn(shape, gap, closed);
      // Sewing a solid's faces anew is worth it only when the gaps close.
      return closed || healer.current().solids == 0 ? joined : shape;
    });
  }
  if (has("short edge") || has("sliver") || has("small face")) {
    healer.attempt("small", bound(),
                   [&](const TopoDS_Shape &shape) { return withoutSmallEdgesAndFaces(shape, small); });
  }
  healer.attempt("unify", bound(), [](const TopoDS_Shape &shape) { return unified(shape); });
  if (options.defeature && healer.current().volume) {
    std::vector<detail::Feature> features;
    double held = 0.0;
    // A feature as large as the part is its body, not a detail of it.
    for (const detail::Feature &feature : detail::smallFeatures(healer.current().shape, size)) {
      if (feature.boxVolume < 0.5 * *healer.current().volume) {
        features.push_back(feature);
        held += feature.boxVolume;
      }
    }
    if (!features.empty()) {
      healer.attempt("defeature", bound() + held,
                     [&](const TopoDS_Shape &shape) { return detail::withoutFeatures(shape, features); });
    }
  }

  const State &end = healer.current();
  report.facesAfter = end.faces;
  report.edgesAfter = end.edges;
  report.solidsAfter = end.solids;
  report.volumeAfter = end.volume;
  report.remaining = detail::findingsOf(end.shape, size, options, false);
  for (const Finding &finding : report.remaining) report.gapsAfter += finding.kind == "gap";
  report.verdict = detail::verdictOf(report.remaining);
  healed = part;
  if (!report.steps.empty()) healed.shape = end.shape;
}

// Surface models often hold each face as a part of its own: the parts still without solids are sewn
// together, and the solids of each group that closes go to its earliest part.
void sewTogether(Healing &healing, const HealOptions &options) {
  std::vector<TopoDS_Shape> open;
  std::vector<std::size_t> owners;
  for (const PartHealing &report : healing.report) {
    if (report.solidsAfter == 0 && report.facesAfter > 0) {
      open.push_back(healing.parts[report.part].shape);
      owners.push_back(report.part);
    }
  }
  std::vector<bool> gone(healing.parts.size(), false);
  for (const detail::SewnGroup &group : detail::sewnTogether(open, owners, options.gapFraction * healing.size)) {
    const std::size_t kept = group.parts.front();
    if (!detail::isValid(group.solids)) continue;
    healing.parts[kept].shape = group.solids;
    PartHealing &report = healing.report[kept];
    report.steps.push_back("sew");
    report.facesAfter = countOf(group.solids, TopAbs_FACE);
    report.edgesAfter = countOf(group.solids, TopAbs_EDGE);
    report.solidsAfter = countOf(group.solids, TopAbs_SOLID);
    report.volumeAfter = volumeOf(group.solids);
    report.remaining = detail::findingsOf(group.solids, healing.size, options, false);
    report.verdict = detail::verdictOf(report.remaining);
    for (const std::size_t k : group.parts) {
      if (k == kept) continue;
      healing.report[k].sewnInto = kept;
      healing.report[k].steps.push_back("sew");
      healing.report[k].remaining.clear();
      healing.report[k].verdict = report.verdict;
      gone[k] = true;
    }
  }
  std::vector<Part> kept;
  for (std::size_t k = 0; k < healing.parts.size(); ++k) {
    if (!gone[k]) kept.push_back(healing.parts[k]);
  }
  healing.parts = kept;
}

}  // namespace

Healing healParts(const std::vector<Part> &parts, const HealOptions &options, const Message_ProgressRange &progress) {
  Healing healing{healSize(parts, options), std::vector<Part>(parts.size()), std::vector<PartHealing>(parts.size())};
  Message_ProgressScope scope(progress, "Healing", static_cast<double>(parts.size()));
  std::vector<Message_ProgressRange> ranges;
  for (std::size_t k = 0; k < parts.size(); ++k) ranges.push_back(scope.Next());
  std::atomic<bool> stopped{false};
  std::vector<std::string> failures(parts.size());
  detail::forEachPart(parts.size(), options.threads, [&](std::size_t k) {
    Message_ProgressScope one(ranges[k], nullptr, 1);
    healing.report[k].part = k;
    if (stopped || !one.More()) {
      stopped = true;
      return;
    }
    try {
      heal(parts[k], healing.size, options, healing.report[k], healing.parts[k]);
    } catch (const Standard_Failure &failure) {
      failures[k] = kernelFailureText(failure);
    } catch (const std::exception &error) {
      failures[k] = error.what();
    }
  });
  if (stopped) throw nimbo_exception("Healing stopped before it was complete");
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (!failures[k].empty()) throw nimbo_exception("Cannot heal " + parts[k].path + ": " + failures[k]);
  }
  sewTogether(healing, options);
  return healing;
}

}  // namespace nimbo
