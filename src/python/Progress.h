// A Python callable as the libraries' progress: called with the fraction done, it stops the work by
// returning False. Private to the module.
#pragma once

#include <pybind11/pybind11.h>
#include <Message_ProgressIndicator.hxx>

#include <atomic>
#include <mutex>

namespace nimbo::python {

class CallbackProgress : public Message_ProgressIndicator {
 public:
  /// `callback` may be None: then nothing is called and nothing stops.
  explicit CallbackProgress(pybind11::object callback);
  ~CallbackProgress() override;

  /// Whether the callback asked to stop (or raised, which stops too).
  bool stopped() const { return stopped_; }
  /// Raises in Python what the callback raised, if it did; call with the GIL held.
  void rethrow();

  Standard_Boolean UserBreak() override { return stopped_; }
  void Show(const Message_ProgressScope &scope, const Standard_Boolean force) override;

 private:
  pybind11::object callback_;
  std::atomic<bool> stopped_{false};
  std::mutex guard_;  // the kernel reports from several threads at once
  double shown_ = -1.0;
  pybind11::error_already_set *error_ = nullptr;
};

}  // namespace nimbo::python
