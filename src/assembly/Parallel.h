// Work spread over threads, with the failures of any thread brought back to the caller's. Private
// to the assembly module.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace nimbo::detail {

/// The threads to use when `requested` are asked for: that many when positive, else one per core.
int threadsFor(int requested);

/// Throws `error` again as nimbo_exception: as it is when it is one, else in the words of the kernel
/// failure or standard exception it holds.
[[noreturn]] void rethrowAsNimboException(const std::exception_ptr &error);

/// Runs work(k) for every k < count on threadsFor(threads) threads, each taking the next k when it
/// is free. A task that throws stops the others from taking more; once every thread has ended, the
/// first exception reaches the caller as nimbo_exception. An exception must never leave a thread,
/// which would end the process.
template <typename Work>
void inParallel(std::size_t count, int threads, const Work &work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first;
  std::mutex guard;
  const auto drain = [&] {
    for (std::size_t k = next++; k < count && !failed; k = next++) {
      try {
        work(k);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(guard);
        if (!first) first = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> pool;
  const int used = threadsFor(threads);
  for (int t = 1; t < used && static_cast<std::size_t>(t) < count; ++t) pool.emplace_back(drain);
  drain();
  for (std::thread &thread : pool) thread.join();
  if (first) rethrowAsNimboException(first);
}

}  // namespace nimbo::detail
