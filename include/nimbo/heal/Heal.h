// nimbo healing: what in a part's geometry keeps it from meshing at a given element size, and the
// repairs that make it mesh: fixed, sewn into solids, small edges and faces merged, same-domain
// faces unified and, when asked, small features removed.
//
// Everything is judged against the target element size H: a defect is a feature far smaller than
// the elements that must fill it. Faces and edges are numbered as TopExp::MapShapes numbers them
// over the part's shape, from 1.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <Message_ProgressRange.hxx>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace nimbo {

/// What checkParts and healParts judge against.
struct HealOptions {
  /// The target element size H in mm; 0 for the size Gmsh gives when none is asked (and so the one
  /// meshAssembly leaves it at): the diagonal of the parts' common box.
  double size = 0.0;
  /// Edges shorter and faces narrower than this share of H are defects, as are faces smaller than
  /// its square times H^2. Healing merges them within this tolerance.
  double smallFraction = 1e-3;
  /// Gaps up to this share of H are closed by sewing; wider ones need the designer.
  double gapFraction = 1e-2;
  /// healParts only: features narrower than H removed (holes, bosses and fillets whose faces curve
  /// everywhere to a radius under H / 2), changing the volume by up to what they held.
  bool defeature = false;
  /// Parts worked on at once; 0 for one per core.
  int threads = 0;
};

/// The H used: options.size, else the diagonal of the parts' common box. Throws nimbo_exception when
/// neither gives a positive size (no geometry).
double healSize(const std::vector<Part> &parts, const HealOptions &options);

/// One thing found in a part.
struct Finding {
  /// "invalid", "free edges", "gap", "short edge", "sliver", "small face", "self-intersection",
  /// "closes when sewn" or "open surface"; "check failed" where the kernel failed looking.
  std::string kind;
  std::vector<int> faces;  ///< in the part's numbering
  std::vector<int> edges;  ///< in the part's numbering
  /// In mm (mm^2 for a small face): the length, width or gap; the free edges' length (left once
  /// sewn, for an open surface); the sewing tolerance that closes it; none for an invalid shape or a
  /// self-intersection.
  std::optional<double> size;
  bool healable;  ///< whether healParts sets out to repair it
};

/// How a part stands.
enum class Verdict {
  ok,              ///< nothing found
  healable,        ///< only what healParts repairs
  needsAttention,  ///< something healing does not repair: the designer's work
};

/// "ok", "healable" or "needs attention".
const char *toString(Verdict verdict);

/// One part as checked.
struct PartCheck {
  std::size_t part;  ///< its position in the parts given
  Verdict verdict;
  std::vector<Finding> findings;  ///< invalidity and free edges first, then by kind as listed above
};

/// Every part as checked.
struct Checks {
  double size;                   ///< the H used
  std::vector<PartCheck> parts;  ///< in the order given
};

/// Checks every part against H: validity, free edges and the gaps between them, short edges, sliver
/// and small faces, self-intersections, and for parts without solids whether their faces close into
/// solids once sewn. Parts holding nothing but vertices or edges have no findings. Throws
/// nimbo_exception when stopped through `progress`.
Checks checkParts(const std::vector<Part> &parts, const HealOptions &options = {},
                  const Message_ProgressRange &progress = Message_ProgressRange());

/// A step of healing that was tried on a part and taken back.
struct UndoneStep {
  std::string step;  ///< "fix", "sew", "small", "unify" or "defeature"
  std::string why;   ///< what it would have done to the part
};

/// What healing did to one part.
struct PartHealing {
  std::size_t part;  ///< its position in the parts given
  std::size_t facesBefore = 0;
  std::size_t facesAfter = 0;
  std::size_t edgesBefore = 0;
  std::size_t edgesAfter = 0;
  std::size_t solidsBefore = 0;
  std::size_t solidsAfter = 0;
  std::size_t gapsBefore = 0;  ///< gap findings of the part before and after
  std::size_t gapsAfter = 0;
  std::optional<double> volumeBefore;  ///< in mm^3, when it holds a solid
  std::optional<double> volumeAfter;
  std::vector<std::string> steps;  ///< the steps that changed the part, in order
  std::vector<UndoneStep> undone;
  Verdict verdict;  ///< after healing
  /// What the check still finds, self-intersections aside (finding those can take longer than all
  /// the healing; checkParts looks for them).
  std::vector<Finding> remaining;
  /// For a part without solids whose faces closed only together with other such parts' faces: the
  /// earliest of them, which holds the solids they made. The part itself is gone.
  std::optional<std::size_t> sewnInto;
};

/// The parts healed, and what was done to each.
struct Healing {
  double size;  ///< the H used
  /// The parts given, each with its healed shape, path, name and colour, less those sewn into another.
  std::vector<Part> parts;
  std::vector<PartHealing> report;  ///< in the order given
};

/// Heals every part on a copy of its shape, step by step: the kernel's shape fix, sewing (for parts
/// with free edges or without solids, with solids made where shells close; parts without solids that
/// close only together are sewn into the earliest of them), merging of short edges
/// and small faces, unifying of same-domain faces and, with `defeature`, removal of small features.
/// After each step the part is checked again; a step that leaves the part invalid where it was
/// valid, loses a solid, or moves its volume by more than 1e-6 of it (with `defeature`, by more than
/// its features' boxes) is undone for that part and reported. Throws nimbo_exception when stopped
/// through `progress`.
Healing healParts(const std::vector<Part> &parts, const HealOptions &options = {},
                  const Message_ProgressRange &progress = Message_ProgressRange());

}  // namespace nimbo
