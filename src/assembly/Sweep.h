// Boxes and the sweep that finds which of them meet, shared by the interference check (parts) and
// the imprint's glue choice (faces). Private to the assembly module.
#pragma once

#include <Bnd_Box.hxx>

#include <cstddef>
#include <utility>
#include <vector>

namespace nimbo::detail {

/// An axis-aligned box as three closed intervals.
struct Interval3 {
  double min[3];
  double max[3];
};

/// The box's intervals, its gap included; a void box meets everything.
Interval3 intervalOf(const Bnd_Box &box);

using Pair = std::pair<std::size_t, std::size_t>;

/// The positions of every two boxes that meet (closed intervals on all three axes), the lower
/// first, in ascending order.
std::vector<Pair> pairsThatMeet(const std::vector<Interval3> &boxes);

}  // namespace nimbo::detail
