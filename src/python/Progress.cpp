#include "Progress.h"

namespace py = pybind11;

namespace nimbo::python {

CallbackProgress::CallbackProgress(py::object callback) : callback_(std::move(callback)) {}

CallbackProgress::~CallbackProgress() {
  py::gil_scoped_acquire gil;
  delete error_;
  callback_ = py::object();
}

void CallbackProgress::Show(const Message_ProgressScope &, const Standard_Boolean force) {
  if (callback_.is_none() || stopped_) return;
  const std::lock_guard<std::mutex> lock(guard_);
  const double fraction = GetPosition();
  // A hundred calls at most: Python is not to slow the kernel down.
  if (!force && fraction < shown_ + 0.01) return;
  shown_ = fraction;
  py::gil_scoped_acquire gil;
  try {
    const py::object answer = callback_(fraction);
    if (py::isinstance<py::bool_>(answer) && !answer.cast<bool>()) stopped_ = true;
  } catch (py::error_already_set &error) {
    if (error_ == nullptr) error_ = new py::error_already_set(std::move(error));
    stopped_ = true;
  }
}

void CallbackProgress::rethrow() {
  if (error_ == nullptr) return;
  py::error_already_set error = std::move(*error_);
  delete error_;
  error_ = nullptr;
  throw error;
}

}  // namespace nimbo::python
