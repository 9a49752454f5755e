// The assembly layer's tolerances, each once, with the reason for its size. Private to the module.
#pragma once

namespace nimbo::detail {

/// Common volume up to this share of the smaller part's volume is a sliver left by the parts' own
/// tolerances where they touch, not an overlap.
constexpr double relativeMinimumOverlap = 1e-6;

/// Parts closer than this share of their common box's diagonal touch: far above the kernel's
/// confusion, far below any clearance a designer draws.
constexpr double relativeContactTolerance = 1e-6;

/// Measures and centres agree as the shape comparison holds them: within 0.1 % of the measure, and
/// of the linear scale for centres.
constexpr double comparisonTolerance = 0.001;

/// The measure index is searched a little wider than comparisonTolerance, so that rounding at its
/// edge loses no candidate.
constexpr double measureIndexReach = 0.0011;

/// Principal moments this close (relative) are equal: the principal axes in their plane are then
/// arbitrary, and other turns must be tried.
constexpr double equalMoments = 1e-6;

/// A turn of less than this (radians), or about an axis shorter, is rounding noise of no turn.
constexpr double noTurn = 1e-12;

/// The imprint may move a part's volume by this share before the part's own tolerances count:
/// splitting a trimmed B-spline face changes how it is integrated, and a rocket body's volume moves
/// by 5e-7 between two requested precisions.
constexpr double relativeVolumeSlack = 1e-6;

/// Face directions closer than this (radians) are one: a turn this small moves a part's points by
/// about the comparison's 0.1 % of its size, which the comparison could not tell anyway.
constexpr double sameDirection = 1e-3;

}  // namespace nimbo::detail
