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

#include <BRepTools.hxx>
#include <Standard_Failure.hxx>

#include <filesystem>
#include <iostream>
#include <memory>
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

/// What failures about the parts of `files` are about, as the tool names it.
std::string subjectOf(const std::vector<std::string> &files) {
  return files.size() == 1 ? files.front() : "the parts of " + std::to_string(files.size()) + " files";
}

/// Runs `work` without the GIL, with `progress` (a callable or None) as its progress; the library's
/// and the kernel's failures become nimbo.Error about `subject`, a stop asked for becomes
/// nimbo.Error("stopped").
template <typename Work>
auto released(const std::string &subject, const py::object &progress, Work work) -> decltype(work(Message_ProgressRange())) {
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
    }
  }
  indicator->rethrow();
  if (indicator->stopped()) throw module_error("stopped");
  if (!failure.empty()) throw module_error(subject + ": " + failure);
  return std::move(*result);
}

FileAssembly readFiles(const std::vector<std::string> &files, const py::object &progress) {
  if (files.empty()) throw module_error("read_assembly: no file given");
  for (const std::string &file : files) {
    if (!std::filesystem::is_regular_file(file)) throw module_error(file + ": No such file or directory");
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

/// A mesh read back: arrays numpy and meshio take as they are.
struct PyMesh {
  py::array_t<double> nodes;
  py::array_t<std::int64_t> tetrahedra;
  py::dict volumes;
  py::dict surfaces;
};

PyMesh meshOf(const std::string &path) {
  const MeshData data = released(path, py::none(), [&](const Message_ProgressRange &) { return readMesh(path); });
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
      .def_property_readonly("type",
                             [](PyPart &p) { return nimbo::shapeTypeName(figuresOf(p.part, p.figures).type); })
      .def_property_readonly("volume", [](PyPart &p) { return optional(figuresOf(p.part, p.figures).volume); })
      .def_property_readonly("area", [](PyPart &p) { return optional(figuresOf(p.part, p.figures).area); })
      .def_property_readonly("center", [](PyPart &p) { return point(figuresOf(p.part, p.figures).center); })
      .def_property_readonly("box",
                             [](PyPart &p) {
                               const nimbo::PartFigures &f = figuresOf(p.part, p.figures);
                               return py::make_tuple(point(f.boxMin), point(f.boxMax));
                             })
      .def("to_brep", [](const PyPart &p) { return brepOf(p.part); },
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
        return "<nimbo.Assembly of " + std::to_string(a.assembly.parts.size()) + " parts from " + subjectOf(a.files) + ">";
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

  m.def("read_mesh", &meshOf, py::arg("path"), "Reads a .msh file (4.1 or 2.2)");
}
