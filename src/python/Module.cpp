// nimbo's libraries as the Python module `nimbo`: assemblies and their parts as objects, meshes as
// numpy arrays, and every job the tool has as a function returning the dict of its --json report.
// Long calls release the GIL and take a progress callable that can stop them.
#include "Progress.h"

#include <nimbo/assembly/Assembly.h>
#include <nimbo/mesh/Mesh.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "console.h"
#include "reports/Reports.h"
#include "shape_files.h"

#include <nimbo/heal/Heal.h>
#include <nimbo/html/Html.h>
#include <nimbo/render/Render.h>
#include <nimbo/solve/Solve.h>

#include <yaml-cpp/yaml.h>

#include <BRepTools.hxx>
#include <Standard_Failure.hxx>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace nimbo::python {
namespace {

/// nimbo.Error: the tool's one-line message, "<subject>: <problem>".
struct module_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// An assembly with the files it came from, which failures about it are named by.
struct FileAssembly {
  std::vector<std::string> files;
  Assembly assembly;
};

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
      result = work(Message_ProgressIndicator::Start(indicator));
    } catch (const nimbo_exception &error) {
      failure = error.what();
      if (!error.dump_path().empty()) failure += "; dump " + error.dump_path();
    } catch (const Standard_Failure &error) {
      failure = kernelFailureText(error);
    } catch (const tool_error &error) {
      failure = std::string(error.what());
      if (error.subject() != subject) failure = error.subject() + ": " + failure;
    }
  }
  indicator->rethrow();
  if (indicator->stopped()) throw module_error("stopped");
  // A message that names its subject first (as a study's do) is not named twice.
  if (failure.rfind(subject + ": ", 0) == 0) failure.erase(0, subject.size() + 2);
  if (!failure.empty()) throw module_error(subject + ": " + failure);
  return std::move(*result);
}

FileAssembly readFiles(const std::vector<std::string> &files, const py::object &progress) {
  if (files.empty()) throw module_error("read_assembly: no file given");
  for (const std::string &file : files) {
    try {
      checkReadableShapeFile(file);
    } catch (const tool_error &error) {
      throw module_error(error.subject() + ": " + error.what());
    }
  }
  return released(subjectOf(files), progress, [&](const Message_ProgressRange &range) {
    return FileAssembly{files, files.size() == 1 ? readAssembly(files.front(), range) : readAssemblies(files, range)};
  });
}

py::object colorOf(const Part &part) {
  if (!part.color) return py::none();
  return py::make_tuple(part.color->red, part.color->green, part.color->blue);
}

py::object optional(const std::optional<double> &value) { return value ? py::cast(*value) : py::none(); }

py::tuple point(const gp_Pnt &p) { return py::make_tuple(p.X(), p.Y(), p.Z()); }

/// The part's figures, measured once.
const PartFigures &figuresOf(const Part &part, std::shared_ptr<PartFigures> &cache) {
  if (!cache) {
    py::gil_scoped_release unlocked;
    cache = std::make_shared<PartFigures>(measurePart(part));
  }
  return *cache;
}

/// A part as Python holds it: the part, and its figures once asked for.
struct PyPart {
  Part part;
  std::shared_ptr<PartFigures> figures;
};

py::bytes brepOf(const Part &part) {
  std::ostringstream text;
  BRepTools::Write(part.shape, text);
  return py::bytes(text.str());
}

template <typename Value, typename Rows>
py::array_t<Value> matrix(const Rows &rows, std::size_t columns) {
  py::array_t<Value> array({rows.size(), columns});
  auto view = array.template mutable_unchecked<2>();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < columns; ++c) view(r, c) = static_cast<Value>(rows[r][c]);
  }
  return array;
}

/// Gmsh keeps one model per process: meshing and reading meshes take turns.
std::mutex gmshTurn;

/// A mesh read back: arrays numpy and meshio take as they are.
struct PyMesh {
  py::array_t<double> nodes;
  py::array_t<std::int64_t> tetrahedra;
  py::dict volumes;
  py::dict surfaces;
};

PyMesh meshDataOf(const std::string &path) {
  const MeshData data = released(path, py::none(), [&](const Message_ProgressRange &) {
    const std::lock_guard<std::mutex> turn(gmshTurn);
    return readMesh(path);
  });
  PyMesh mesh{matrix<double>(data.nodes, 3), matrix<std::int64_t>(data.tetrahedra, 4), {}, {}};
  for (const auto &[name, rows] : data.volumes) {
    py::array_t<std::int64_t> indices(rows.size());
    auto view = indices.mutable_unchecked<1>();
    for (std::size_t k = 0; k < rows.size(); ++k) view(k) = static_cast<std::int64_t>(rows[k]);
    mesh.volumes[py::str(name)] = indices;
  }
  for (const auto &[name, triangles] : data.surfaces) mesh.surfaces[py::str(name)] = matrix<std::int64_t>(triangles, 3);
  return mesh;
}

// --- The tool's jobs, each returning the dict of its --json report ------------------------------

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

/// The report as the tool's --json prints it, as a Python dict.
py::dict dictOf(const json &report, const std::vector<std::string> &textOnly) {
  const py::object loads = py::module_::import("json").attr("loads");
  return loads(withoutTextOnly(report, textOnly).dump());
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
  if (html) {
    released(*html, py::none(), [&](const Message_ProgressRange &) {
      checkExtension(*html, ".html", "pages are written as HTML (.html)");
      writePage(clashPage(assembly.assembly.parts, found, "clash " + subjectOf(assembly.files)), *html);
      return true;
    });
  }
  return dictOf(clashReport(assembly.files, assembly.assembly.parts, found, secondsSince(started)),
                textOnlyKeys::clash);
}

/// An imprint with what made it: its report names the parts it numbers and the file it was written to.
struct PyImprint {
  std::vector<std::string> files;
  std::vector<Part> parts;
  Imprint imprint;
  double seconds = 0.0;
  std::string written;
};

PyImprint imprintOf(const FileAssembly &assembly, bool assignOverlaps, const std::string &glue, double fuzzy,
                    const py::object &progress) {
  ImprintOptions options;
  options.assignOverlaps = assignOverlaps;
  const std::optional<Glue> glued = glueNamed(glue);
  if (!glued) throw module_error("glue: \"" + glue + "\" is none of auto, off, shift and full");
  options.glue = *glued;
  options.fuzzy = fuzzy;
  const auto started = Clock::now();
  PyImprint result{assembly.files, assembly.assembly.parts, {}, 0.0, {}};
  result.imprint = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    return imprintAssembly(result.parts, options, range);
  });
  result.seconds = secondsSince(started);
  return result;
}

py::dict meshOf(const FileAssembly &assembly, const std::string &output, double size, int order,
                const std::string &format, bool assignOverlaps, const py::object &progress) {
  MeshOptions options;
  options.size = size;
  options.order = order;
  const std::optional<MeshFormat> named = meshFormatNamed(format);
  if (!named) throw module_error("format: \"" + format + "\" is neither msh4 nor msh2");
  options.format = *named;
  const PyImprint imprinted = imprintOf(assembly, assignOverlaps, "auto", 0.0, progress);
  const auto started = Clock::now();
  const MeshSummary summary = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    const std::lock_guard<std::mutex> turn(gmshTurn);
    return meshAssembly(imprinted.imprint, output, options, range);
  });
  return dictOf(meshReport(assembly.files, output, options.format, imprinted.imprint, summary, nullptr,
                           imprinted.seconds, secondsSince(started)),
                textOnlyKeys::mesh);
}

py::dict diffOf(const FileAssembly &before, const FileAssembly &after, const py::object &progress,
                const std::optional<std::string> &html) {
  const auto started = Clock::now();
  const std::string first = subjectOf(before.files);
  const std::string second = subjectOf(after.files);
  const AssemblyDiff diff = released(first + " and " + second, progress, [&](const Message_ProgressRange &range) {
    return diffAssemblies(before.assembly.parts, after.assembly.parts, range);
  });
  if (html) {
    released(*html, py::none(), [&](const Message_ProgressRange &) {
      checkExtension(*html, ".html", "pages are written as HTML (.html)");
      writePage(diffPage(before.assembly.parts, after.assembly.parts, diff, "diff " + first + " " + second), *html);
      return true;
    });
  }
  return dictOf(diffReport(first, second, before.assembly.parts, after.assembly.parts, diff, secondsSince(started)),
                textOnlyKeys::diff);
}

py::dict viewOf(const FileAssembly &assembly, const std::string &output, double deflection) {
  const auto started = Clock::now();
  released(subjectOf(assembly.files), py::none(), [&](const Message_ProgressRange &) {
    checkExtension(output, ".html", "view writes a web page (.html)");
    Page page = partsPage(assembly.assembly.parts, subjectOf(assembly.files));
    page.deflection = deflection;
    writePage(page, output);
    return true;
  });
  return dictOf(viewReport(assembly.files, output, assembly.assembly.parts.size(), secondsSince(started)),
                textOnlyKeys::view);
}

py::dict renderOf(const FileAssembly &assembly, const std::string &output, const std::string &view, bool hidden) {
  const auto started = Clock::now();
  RenderOptions options;
  options.hidden = hidden;
  const std::vector<RenderItem> items = drawnParts(assembly.assembly.parts);
  released(subjectOf(assembly.files), py::none(), [&](const Message_ProgressRange &) {
    writeTextFile(renderSvg(items, viewNamed(view), options), output);
    return true;
  });
  return dictOf(renderReport(assembly.files, output, items.size(), secondsSince(started)), textOnlyKeys::render);
}

py::dict solveOf(const py::object &study, const std::optional<std::string> &output, const py::object &progress) {
  const auto started = Clock::now();
  std::string name;
  Study read;
  if (py::isinstance<py::dict>(study)) {
    // JSON is YAML: the dict goes through the study's own reader, checked key by key as a file is.
    name = "the study given";
    const std::string text = py::module_::import("json").attr("dumps")(study).cast<std::string>();
    read = released(name, py::none(), [&](const Message_ProgressRange &) {
      return studyFrom(YAML::Load(text), name, std::filesystem::current_path().string());
    });
  } else {
    name = py::str(study);
    read = released(name, py::none(), [&](const Message_ProgressRange &) { return readStudy(name); });
  }
  const std::string folder = output.value_or(defaultResultFolder(name));
  const SolveResult result = released(name, progress, [&](const Message_ProgressRange &range) {
    const std::lock_guard<std::mutex> turn(gmshTurn);
    return solveStudy(read, folder, {}, range);
  });
  return dictOf(solveReport(name, result, "", secondsSince(started)), textOnlyKeys::solve);
}

py::dict statsOf(const std::string &file) {
  return dictOf(released(file, py::none(),
                         [&](const Message_ProgressRange &) { return statsReport(file, readShapeFile(file, true)); }),
                textOnlyKeys::stats);
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
  const auto started = Clock::now();
  const Healing healing = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    Healing healed = healParts(assembly.assembly.parts, options, range);
    writeAssembly({"millimetre", healed.parts}, output);
    return healed;
  });
  return dictOf(healReport(assembly.files, output, healing, assembly.assembly.parts, secondsSince(started)),
                textOnlyKeys::heal);
}

}  // namespace
}  // namespace nimbo::python

using namespace nimbo::python;

PYBIND11_MODULE(_nimbo, m) {
  m.doc() = "nimbo's libraries, run in the calling process.";
  // The library logs its refusals and the kernel prints its messages, as in the tool; the module
  // keeps both to itself (standard output too, which only the kernel's messages reach) and says
  // what failed through its exceptions.
  quietStartup();
  std::cout.rdbuf(routeDiagnostics(false));
  py::register_exception<module_error>(m, "Error", PyExc_RuntimeError);

  py::class_<PyPart>(m, "Part", "One placed part of an assembly")
      .def_property_readonly("path", [](const PyPart &p) { return p.part.path; })
      .def_property_readonly("name", [](const PyPart &p) { return p.part.name; })
      .def_property_readonly("color", [](const PyPart &p) { return colorOf(p.part); })
      .def_property_readonly("type", [](PyPart &p) { return nimbo::shapeTypeName(figuresOf(p.part, p.figures).type); })
      .def_property_readonly("volume", [](PyPart &p) { return optional(figuresOf(p.part, p.figures).volume); })
      .def_property_readonly("area", [](PyPart &p) { return optional(figuresOf(p.part, p.figures).area); })
      .def_property_readonly("center", [](PyPart &p) { return point(figuresOf(p.part, p.figures).center); })
      .def_property_readonly("box",
                             [](PyPart &p) {
                               const nimbo::PartFigures &f = figuresOf(p.part, p.figures);
                               return py::make_tuple(point(f.boxMin), point(f.boxMax));
                             })
      .def(
          "to_brep", [](const PyPart &p) { return brepOf(p.part); },
          "The part's shape, placed in the assembly, as BREP text")
      .def("__repr__", [](const PyPart &p) { return "<nimbo.Part " + p.part.path + ">"; });

  py::class_<FileAssembly>(m, "Assembly", "The parts of CAD files, in file order")
      .def_property_readonly("files", [](const FileAssembly &a) { return a.files; })
      .def_property_readonly("length_unit",
                             [](const FileAssembly &a) -> py::object {
                               if (a.assembly.lengthUnit.empty()) return py::none();
                               return py::str(a.assembly.lengthUnit);
                             })
      .def_property_readonly("parts",
                             [](const FileAssembly &a) {
                               py::list parts;
                               for (const nimbo::Part &part : a.assembly.parts) parts.append(PyPart{part, nullptr});
                               return parts;
                             })
      .def("__len__", [](const FileAssembly &a) { return a.assembly.parts.size(); })
      .def("__repr__", [](const FileAssembly &a) {
        return "<nimbo.Assembly of " + std::to_string(a.assembly.parts.size()) + " parts from " + subjectOf(a.files) +
               ">";
      });

  m.def(
      "read_assembly",
      [](const py::object &files, const py::object &progress) {
        std::vector<std::string> list;
        if (py::isinstance<py::str>(files) || py::hasattr(files, "__fspath__")) {
          list.push_back(py::str(files));
        } else {
          for (const py::handle file : files) list.push_back(py::str(file));
        }
        return readFiles(list, progress);
      },
      py::arg("files"), py::arg("progress") = py::none(),
      "Reads a STEP, IGES or BREP file, or a list of them, into its parts");

  py::class_<PyMesh>(m, "Mesh", "A mesh file read back")
      .def_readonly("nodes", &PyMesh::nodes, "N x 3 coordinates, as the file holds them")
      .def_readonly("tetrahedra", &PyMesh::tetrahedra, "M x 4 corner node rows, 0-based")
      .def_readonly("volumes", &PyMesh::volumes, "physical volume name: rows of tetrahedra")
      .def_readonly("surfaces", &PyMesh::surfaces, "physical surface name: K x 3 corner node rows");

  m.def("read_mesh", &meshDataOf, py::arg("path"), "Reads a .msh file (4.1 or 2.2)");

  m.def("find_interferences", &findInterferencesOf, py::arg("assembly"), py::arg("clearance") = 0.0,
        py::arg("threads") = 0, py::arg("contact_tolerance") = py::none(), py::arg("minimum_overlap") = py::none(),
        py::arg("progress") = py::none(), py::arg("html") = py::none(),
        "How the solid parts meet: the dict of `clash --json`; with `html`, also its 3D page");

  py::class_<PyImprint>(m, "Imprint", "The solid parts fused into one conformal compound")
      .def(
          "report",
          [](const PyImprint &i) {
            py::dict report = dictOf(imprintReport(i.files, i.written, i.parts, i.imprint, nullptr, i.seconds),
                                     textOnlyKeys::imprint);
            if (i.written.empty()) report["output"] = py::none();
            return report;
          },
          "The dict of `imprint --json`; its output is the file last written, else None")
      .def(
          "write",
          [](PyImprint &i, const std::string &path) {
            released(path, py::none(), [&](const Message_ProgressRange &) {
              checkExtension(path, ".brep",
                             "imprint writes BREP (.brep), which keeps the shared faces and their numbering");
              writeShapeFile(i.imprint.compound, path);
              return true;
            });
            i.written = path;
          },
          py::arg("path"), "Writes the compound as BREP, which keeps its numbering");
  m.def("imprint", &imprintOf, py::arg("assembly"), py::arg("assign_overlaps") = false, py::arg("glue") = "auto",
        py::arg("fuzzy") = 0.0, py::arg("progress") = py::none(), "Fuses the solid parts into one conformal compound");
  m.def("mesh", &meshOf, py::arg("assembly"), py::arg("output"), py::arg("size") = 0.0, py::arg("order") = 1,
        py::arg("format") = "msh4", py::arg("assign_overlaps") = false, py::arg("progress") = py::none(),
        "Imprints and meshes with Gmsh: the dict of `mesh --json`");
  m.def("diff", &diffOf, py::arg("before"), py::arg("after"), py::arg("progress") = py::none(),
        py::arg("html") = py::none(),
        "What became of each part between two revisions: the dict of `diff --json`; with `html`, also its 3D page");
  m.def("view", &viewOf, py::arg("assembly"), py::arg("output"), py::arg("deflection") = 0.0,
        "Writes the parts as a self-contained 3D page (.html): the dict of `view --json`");
  m.def("render", &renderOf, py::arg("assembly"), py::arg("output"), py::arg("view") = "iso", py::arg("hidden") = false,
        "Draws the parts as an SVG line drawing: the dict of `render --json`");
  m.def("solve", &solveOf, py::arg("study"), py::arg("output") = py::none(), py::arg("progress") = py::none(),
        "Solves a study (a YAML file, or its dict) with GetDP: the dict of `solve --json`");
  m.def("stats", &statsOf, py::arg("file"), "The shape's statistics: the dict of `stats --json`");
  m.def("check", &checkOf, py::arg("assembly"), py::arg("size") = 0.0, py::arg("progress") = py::none(),
        "What keeps each part from meshing at the element size: the dict of `check --json`");
  m.def("heal", &healOf, py::arg("assembly"), py::arg("output"), py::arg("size") = 0.0, py::arg("defeature") = false,
        py::arg("progress") = py::none(), "Heals the parts and writes them: the dict of `heal --json`");
}
