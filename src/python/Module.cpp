// nimbo's libraries as the Python module `nimbo`: assemblies and their parts as objects, meshes as
// numpy arrays, and every job the tool has as a function returning the dict of its --json report.
// Long calls release the GIL and take a progress callable that can stop them. Each area of the
// module is a file of its own: Reading, Jobs (clash, imprint, check, heal, diff), Solving (mesh and
// solve), Pictures.
#include "Module.h"

#include "frontend/Console.h"

#include <iostream>

namespace nimbo::python {

py::dict dictOf(const json &report, const std::vector<std::string> &textOnly) {
  const py::object loads = py::module_::import("json").attr("loads");
  return loads(withoutTextOnly(report, textOnly).dump());
}

Glue glueOf(const std::string &name) {
  const std::optional<Glue> glue = glueNamed(name);
  if (!glue) throw module_error("glue: \"" + name + "\" is none of auto, off, shift and full");
  return *glue;
}

}  // namespace nimbo::python

PYBIND11_MODULE(_nimbo, m) {
  using namespace nimbo::python;
  m.doc() = "nimbo's libraries, run in the calling process.";
  // The library logs its refusals and the kernel prints its messages, as in the tool; the module
  // keeps both to itself (standard output too, which only the kernel's messages reach) and says
  // what failed through its exceptions.
  quietStartup();
  std::cout.rdbuf(routeDiagnostics(false));
  py::register_exception<module_error>(m, "Error", PyExc_RuntimeError);
  defineReading(m);
  defineJobs(m);
  defineSolving(m);
  definePictures(m);
}
