#include "Sweep.h"

#include <algorithm>
#include <limits>

namespace nimbo::detail {

Interval3 intervalOf(const Bnd_Box &box) {
  if (box.IsVoid()) {
    const double inf = std::numeric_limits<double>::infinity();
    return {{-inf, -inf, -inf}, {inf, inf, inf}};
  }
  Interval3 interval;
  box.Get(interval.min[0], interval.min[1], interval.min[2], interval.max[0], interval.max[1], interval.max[2]);
  return interval;
}

// Sort and sweep along x: a box leaves the active list once the sweep has passed its end, so each
// box is tested only against those it overlaps in x.
std::vector<Pair> pairsThatMeet(const std::vector<Interval3> &boxes) {
  std::vector<std::size_t> order(boxes.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return boxes[a].min[0] < boxes[b].min[0]; });
  std::vector<Pair> pairs;
  std::vector<std::size_t> active;
  for (const std::size_t i : order) {
    const Interval3 &box = boxes[i];
    active.erase(
        std::remove_if(active.begin(), active.end(), [&](std::size_t a) { return boxes[a].max[0] < box.min[0]; }),
        active.end());
    for (const std::size_t a : active) {
      const Interval3 &other = boxes[a];
      const bool meet = box.min[1] <= other.max[1] && other.min[1] <= box.max[1] && box.min[2] <= other.max[2] &&
                        other.min[2] <= box.max[2];
      if (meet) pairs.emplace_back(std::min(a, i), std::max(a, i));
    }
    active.push_back(i);
  }
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

}  // namespace nimbo::detail
