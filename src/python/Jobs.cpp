// The jobs on assemblies that need no mesh: how parts meet (clash), the imprint, check and heal, and
// what changed between two revisions (diff), each returning the dict of the tool's --json report.
#include "Module.h"

#include <nimbo/heal/Heal.h>
#include <nimbo/html/Html.h>
#include <nimbo/pipeline/Pipeline.h>

#include <pybind11/stl.h>

namespace nimbo::python {
namespace {

/// Writes the job's page when asked, as the tool's --html does.
template <typename MakePage>
void writePageIf(const std::optional<std::string> &html, MakePage makePage) {
  if (!html) return;
  released(*html, py::none(), [&](const Message_ProgressRange &) {
    checkExtension(*html, ".html", "pages are written as HTML (.html)");
    writePage(makePage(), *html);
    return true;
  });
}

py::dict findInterferencesOf(const FileAssembly &assembly, double clearance, int threads,
                             const std::optional<double> &contactTolerance, const std::optional<double> &minimumOverlap,
                             const py::object &progress, const std::optional<std::string> &html) {
  InterferenceOptions options;
  options.clearance = clearance;
  options.threads = threads;
  options.contactTolerance = contactTolerance;
  options.minimumOverlap = minimumOverlap;
  const auto started = Clock::now();
  const Interferences found = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    return findInterferences(assembly.assembly.parts, options, range);
  });
  writePageIf(html, [&] { return clashPage(assembly.assembly.parts, found, "clash " + subjectOf(assembly.files)); });
  return dictOf(clashReport(assembly.files, assembly.assembly.parts, found, secondsSince(started)),
                textOnlyKeys::clash);
}

/// An imprint with what made it: its report names the parts it numbers and the file it was written to.
struct PyImprint {
  std::vector<std::string> files;
  std::vector<Part> given;
  Prepared prepared;
  double seconds = 0.0;
  std::string written;
};

PyImprint imprintOf(const FileAssembly &assembly, bool assignOverlaps, const std::string &glue, double fuzzy,
                    const py::object &progress, bool heal, double size) {
  RouteOptions options;
  options.heal = heal;
  options.mesh.size = size;
  options.imprint.assignOverlaps = assignOverlaps;
  options.imprint.glue = glueOf(glue);
  options.imprint.fuzzy = fuzzy;
  const auto started = Clock::now();
  PyImprint result{assembly.files, assembly.assembly.parts, {}, 0.0, {}};
  result.prepared = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    return prepareParts(result.given, options, range);
  });
  result.seconds = secondsSince(started);
  return result;
}

py::dict checkOf(const FileAssembly &assembly, double size, const py::object &progress) {
  HealOptions options;
  options.size = size;
  const Checks checks = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    return checkParts(assembly.assembly.parts, options, range);
  });
  return dictOf(checkReport(assembly.files, assembly.assembly.parts, checks), textOnlyKeys::check);
}

py::dict healOf(const FileAssembly &assembly, const std::string &output, double size, bool defeature,
                const py::object &progress) {
  HealOptions options;
  options.size = size;
  options.defeature = defeature;
  checked([&] { checkWritablePath(output); });
  const auto started = Clock::now();
  const Healing healing = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    Healing healed = healParts(assembly.assembly.parts, options, range);
    writeAssembly({"millimetre", healed.parts, {}}, output);
    return healed;
  });
  return dictOf(healReport(assembly.files, output, healing, assembly.assembly.parts, secondsSince(started)),
                textOnlyKeys::heal);
}

py::dict diffOf(const FileAssembly &before, const FileAssembly &after, const py::object &progress,
                const std::optional<std::string> &html) {
  const auto started = Clock::now();
  const std::string first = subjectOf(before.files);
  const std::string second = subjectOf(after.files);
  const AssemblyDiff diff = released(first + " and " + second, progress, [&](const Message_ProgressRange &range) {
    return diffAssemblies(before.assembly.parts, after.assembly.parts, range);
  });
  writePageIf(html, [&] {
    return diffPage(before.assembly.parts, after.assembly.parts, diff, "diff " + first + " " + second);
  });
  return dictOf(diffReport(first, second, before.assembly.parts, after.assembly.parts, diff, secondsSince(started)),
                textOnlyKeys::diff);
}

}  // namespace

void defineJobs(py::module_ &m) {
  m.def("find_interferences", &findInterferencesOf, py::arg("assembly"), py::arg("clearance") = 0.0,
        py::arg("threads") = 0, py::arg("contact_tolerance") = py::none(), py::arg("minimum_overlap") = py::none(),
        py::arg("progress") = py::none(), py::arg("html") = py::none(),
        "How the solid parts meet: the dict of `clash --json`; with `html`, also its 3D page");

  py::class_<PyImprint>(m, "Imprint", "The solid parts fused into one conformal compound")
      .def(
          "report",
          [](const PyImprint &i) {
            py::dict report =
                dictOf(imprintReport(i.files, i.written, i.prepared, i.given, i.seconds), textOnlyKeys::imprint);
            if (i.written.empty()) report["output"] = py::none();
            return report;
          },
          "The dict of `imprint --json`; its output is the file last written, else None")
      .def(
          "write",
          [](PyImprint &i, const std::string &path) {
            released(path, py::none(), [&](const Message_ProgressRange &) {
              checkImprintOutput(path);
              writeShapeFile(i.prepared.imprint.compound, path);
              return true;
            });
            i.written = path;
          },
          py::arg("path"), "Writes the compound as BREP, which keeps its numbering");
  m.def("imprint", &imprintOf, py::arg("assembly"), py::arg("assign_overlaps") = false, py::arg("glue") = "auto",
        py::arg("fuzzy") = 0.0, py::arg("progress") = py::none(), py::arg("heal") = false, py::arg("size") = 0.0,
        "Fuses the solid parts into one conformal compound; with `heal`, heals them for the element size `size` "
        "first, as `imprint --heal` does");
  m.def("check", &checkOf, py::arg("assembly"), py::arg("size") = 0.0, py::arg("progress") = py::none(),
        "What keeps each part from meshing at the element size: the dict of `check --json`");
  m.def("heal", &healOf, py::arg("assembly"), py::arg("output"), py::arg("size") = 0.0, py::arg("defeature") = false,
        py::arg("progress") = py::none(), "Heals the parts and writes them: the dict of `heal --json`");
  m.def("diff", &diffOf, py::arg("before"), py::arg("after"), py::arg("progress") = py::none(),
        py::arg("html") = py::none(),
        "What became of each part between two revisions: the dict of `diff --json`; with `html`, also its 3D page");
}

}  // namespace nimbo::python
