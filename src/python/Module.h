// What the module's files share: its exception, assemblies with the files they came from, and the
// way every long call runs (without the GIL, its failures as nimbo.Error). Private to the module.
#pragma once

#include "Progress.h"

#include "frontend/Files.h"
#include "frontend/Reports.h"

#include <nimbo/assembly/Assembly.h>

#include <pybind11/pybind11.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace nimbo::python {

namespace py = pybind11;

/// nimbo.Error: the tool's one-line message, "<subject>: <problem>".
struct module_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// An assembly with the files it came from, which failures about it are named by.
struct FileAssembly {
  std::vector<std::string> files;
  Assembly assembly;
};

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Gmsh keeps one model per process: meshing and reading meshes take turns.
inline std::mutex gmshTurn;

/// Runs `work` without the GIL, with `progress` (a callable or None) as its progress; the library's
/// and the kernel's failures become nimbo.Error about `subject`, a stop asked for becomes
/// nimbo.Error("stopped").
template <typename Work>
auto released(const std::string &subject, const py::object &progress, Work work)
    -> decltype(work(Message_ProgressRange())) {
  const Handle(CallbackProgress) indicator = new CallbackProgress(progress);
  std::string failure;
  std::optional<decltype(work(Message_ProgressRange()))> result;
  {
    py::gil_scoped_release unlocked;
    try {
      result = about(subject, [&] { return work(Message_ProgressIndicator::Start(indicator)); });
    } catch (const file_error &error) {
      failure = std::string(error.what());
      if (error.subject() != subject) failure = error.subject() + ": " + failure;
    }
  }
  const std::vector<std::string> warnings = takeReadWarnings();
  indicator->rethrow();
  if (indicator->stopped()) throw module_error("stopped");
  // A message that names its subject first (as a study's do) is not named twice.
  if (failure.rfind(subject + ": ", 0) == 0) failure.erase(0, subject.size() + 2);
  if (!failure.empty()) throw module_error(subject + ": " + failure);
  // What a read left out reaches Python's warnings, where a caller may also make it an error.
  for (const std::string &warning : warnings) {
    if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 1) < 0) throw py::error_already_set();
  }
  return std::move(*result);
}

/// Runs one of the front-ends' file checks before any work: its failure is nimbo.Error naming the file.
template <typename Check>
void checked(Check check) {
  try {
    check();
  } catch (const file_error &error) {
    throw module_error(error.subject() + ": " + error.what());
  }
}

/// The report as the tool's --json prints it, as a Python dict.
py::dict dictOf(const json &report, const std::vector<std::string> &textOnly);

/// The glue of that name, or nimbo.Error.
Glue glueOf(const std::string &name);

// Each area of the module adds its classes and functions.
void defineReading(py::module_ &m);
void defineJobs(py::module_ &m);
void defineSolving(py::module_ &m);
void definePictures(py::module_ &m);

}  // namespace nimbo::python
