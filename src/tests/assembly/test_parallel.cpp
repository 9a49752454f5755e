// Work on several threads: a failure in any of them reaches the caller as nimbo_exception, and a stop
// asked through the progress range ends the interference check and the imprint cleanly.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>

#include "assembly/Parallel.h"
#include "test_checks.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <Message_ProgressIndicator.hxx>
#include <Standard_DomainError.hxx>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using nimbo::Part;
using nimbo::detail::inParallel;
using nimbo::test::box;

namespace {

// Asks to stop from the `calls`-th question on, from whichever thread asks.
class StopAfter : public Message_ProgressIndicator {
 public:
  explicit StopAfter(int calls) : left_(calls) {}
  Standard_Boolean UserBreak() override { return --left_ < 0; }

 protected:
  void Show(const Message_ProgressScope &, const Standard_Boolean) override {}

 private:
  std::atomic<int> left_;
};

// 27 touching cubes: enough pairs and parts for every thread to have work when the stop comes.
std::vector<Part> grid() {
  std::vector<Part> parts;
  for (int i = 0; i < 27; ++i) {
    const gp_Pnt corner(10.0 * (i % 3), 10.0 * (i / 3 % 3), 10.0 * (i / 9));
    const std::string path = "cube" + std::to_string(i);
    parts.push_back({path, path, box(corner, corner.Translated(gp_Vec(10, 10, 10))), std::nullopt});
  }
  return parts;
}

}  // namespace

TEST(InParallel, FirstFailureReachesTheCallerAndStopsTheRest) {
  nimbo::test::TempDirAsTemp dumps;
  for (const bool kernel : {false, true}) {
    SCOPED_TRACE(kernel ? "kernel failure" : "nimbo_exception");
    std::atomic<int> ran{0};
    try {
      inParallel(1000, 4, [&](std::size_t k) {
        ++ran;
        if (k != 3) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          return;
        }
        if (kernel) throw Standard_DomainError("no such curve");
        throw nimbo_exception("task 3 failed");
      });
      ADD_FAILURE() << "the failure was lost";
    } catch (const nimbo_exception &error) {
      EXPECT_STREQ(error.what(), kernel ? "kernel failure Standard_DomainError: no such curve" : "task 3 failed");
    }
    EXPECT_LT(ran.load(), 1000);
  }
}

TEST(InParallel, StopThroughTheProgressRangeEndsTheCheckAndTheImprint) {
  const std::vector<Part> parts = grid();
  nimbo::InterferenceOptions interference;
  interference.threads = 4;
  nimbo::test::TempDirAsTemp dumps;
  for (const int calls : {0, 5, 50}) {
    SCOPED_TRACE(calls);
    const Handle(StopAfter) stop = new StopAfter(calls);
    nimbo::test::expectRefusal([&] { nimbo::findInterferences(parts, interference, stop->Start()); },
                               "Interference check stopped before all pairs were examined");
  }
  // The imprint asks in the fuse and between its stages: wherever the stop comes, it ends with the
  // same message, or the imprint was done before it asked again.
  for (const int calls : {0, 1, 3, 10, 30, 100}) {
    SCOPED_TRACE(calls);
    const Handle(StopAfter) stop = new StopAfter(calls);
    try {
      nimbo::imprintAssembly(parts, {}, stop->Start());
      EXPECT_GT(calls, 0) << "a stop asked at once was not seen";
    } catch (const nimbo_exception &error) {
      EXPECT_STREQ(error.what(), "Imprint stopped before it was complete");
    }
  }
}
