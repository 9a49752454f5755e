// Reading: CAD files into assemblies of parts, each part's figures measured when asked, and a
// file's statistics.
#include "Module.h"

#include <nimbo/topology/ShapeAlgorithms.h>

#include <pybind11/stl.h>

#include <BRepTools.hxx>

#include <memory>
#include <sstream>

namespace nimbo::python {
namespace {

FileAssembly readFiles(const std::vector<std::string> &files, const py::object &progress) {
  if (files.empty()) throw module_error("read_assembly: no file given");
  for (const std::string &file : files) checked([&] { checkReadableShapeFile(file); });
  return released(subjectOf(files), progress,
                  [&](const Message_ProgressRange &range) { return FileAssembly{files, readParts(files, range)}; });
}

py::object colorOf(const Part &part) {
  if (!part.color) return py::none();
  return py::make_tuple(part.color->red, part.color->green, part.color->blue);
}

py::object optional(const std::optional<double> &value) { return value ? py::cast(*value) : py::none(); }

py::tuple point(const gp_Pnt &p) { return py::make_tuple(p.X(), p.Y(), p.Z()); }

/// A part as Python holds it: the part, and its figures once asked for.
struct PyPart {
  Part part;
  std::shared_ptr<PartFigures> figures;
};

/// The part's figures, measured once.
const PartFigures &figuresOf(PyPart &p) {
  if (!p.figures) {
    py::gil_scoped_release unlocked;
    p.figures = std::make_shared<PartFigures>(measurePart(p.part));
  }
  return *p.figures;
}

py::bytes brepOf(const Part &part) {
  std::ostringstream text;
  BRepTools::Write(part.shape, text);
  return py::bytes(text.str());
}

py::dict statsOf(const std::string &file) {
  return dictOf(released(file, py::none(),
                         [&](const Message_ProgressRange &range) {
                           return statsReport(file, readShapeFile(file, true, range));
                         }),
                textOnlyKeys::stats);
}

}  // namespace

void defineReading(py::module_ &m) {
  py::class_<PyPart>(m, "Part", "One placed part of an assembly")
      .def_property_readonly("path", [](const PyPart &p) { return p.part.path; })
      .def_property_readonly("name", [](const PyPart &p) { return p.part.name; })
      .def_property_readonly("color", [](const PyPart &p) { return colorOf(p.part); })
      .def_property_readonly("type", [](PyPart &p) { return shapeTypeName(figuresOf(p).type); })
      .def_property_readonly("volume", [](PyPart &p) { return optional(figuresOf(p).volume); })
      .def_property_readonly("area", [](PyPart &p) { return optional(figuresOf(p).area); })
      .def_property_readonly("center", [](PyPart &p) { return point(figuresOf(p).center); })
      .def_property_readonly("box",
                             [](PyPart &p) {
                               const PartFigures &f = figuresOf(p);
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
                               for (const Part &part : a.assembly.parts) parts.append(PyPart{part, nullptr});
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
  m.def("stats", &statsOf, py::arg("file"), "The shape's statistics: the dict of `stats --json`");
}

}  // namespace nimbo::python
