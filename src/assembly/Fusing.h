// What the general fuse makes of the solid parts, and the thread pool, shared by the interference
// check and the imprint.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <BOPAlgo_Builder.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopoDS_Shape.hxx>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace nimbo::detail {

/// The positions of the solid parts in `parts` (a solid, or a compound of solids only: what takes
/// part in volume work); the others' go to `others`.
std::vector<std::size_t> solidPartsOf(const std::vector<Part> &parts, std::vector<std::size_t> &others);

/// What the fuse made of `shape`'s sub-shapes of `type`: their splits, or themselves where unsplit,
/// each once, in the order the sub-shapes are explored.
std::vector<TopoDS_Shape> imagesOf(BOPAlgo_Builder &fuse, const TopoDS_Shape &shape, TopAbs_ShapeEnum type);

/// The shapes in one compound, in order.
TopoDS_Shape compoundOf(const std::vector<TopoDS_Shape> &shapes);

/// The fuse's errors as one text, for a message.
std::string errorsOf(const BOPAlgo_Builder &fuse);

/// Runs work(k) for k < count on `threads` threads (0 for one per core), each taking the next k when
/// it is free.
template <typename Work>
void inParallel(std::size_t count, int threads, const Work &work) {
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t k = next++; k < count; k = next++) work(k);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads && static_cast<std::size_t>(t) < count; ++t) pool.emplace_back(drain);
  drain();
  for (std::thread &thread : pool) thread.join();
}

}  // namespace nimbo::detail
