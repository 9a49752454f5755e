// Meshes and studies: the route from an assembly to a mesh, meshes read back as numpy arrays, and
// studies solved, each job returning the dict of the tool's --json report.
#include "Module.h"

#include <nimbo/mesh/Mesh.h>
#include <nimbo/pipeline/Pipeline.h>
#include <nimbo/solve/Solve.h>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <yaml-cpp/yaml.h>

#include <filesystem>

namespace nimbo::python {
namespace {

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

py::dict meshOf(const FileAssembly &assembly, const std::string &output, double size, int order,
                const std::string &format, bool assignOverlaps, const py::object &progress, bool heal,
                double maxElements) {
  if (order != 1 && order != 2) throw module_error("order: must be 1 or 2, not " + std::to_string(order));
  RouteOptions options;
  options.heal = heal;
  options.imprint.assignOverlaps = assignOverlaps;
  options.mesh.size = size;
  options.mesh.order = order;
  options.mesh.maxElements = maxElements;
  const std::optional<MeshFormat> named = meshFormatNamed(format);
  if (!named) throw module_error("format: \"" + format + "\" is neither msh4 nor msh2");
  options.mesh.format = *named;
  checked([&] { checkMeshOutput(output); });
  const Routed routed = released(subjectOf(assembly.files), progress, [&](const Message_ProgressRange &range) {
    const std::lock_guard<std::mutex> turn(gmshTurn);
    return meshParts(assembly.assembly.parts, output, options, nullptr, range);
  });
  return dictOf(meshReport(assembly.files, output, options.mesh.format, routed, assembly.assembly.parts,
                           routed.imprintSeconds),
                textOnlyKeys::mesh);
}

py::dict solveOf(const py::object &study, const std::optional<std::string> &output, const py::object &progress,
                 int processes, const std::string &launcher, bool pos, double maxElements) {
  SolveOptions options;
  options.processes = processes;
  options.launcher = launcher;
  options.pos = pos;
  options.maxElements = maxElements;
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
    return solveStudy(read, folder, options, range);
  });
  return dictOf(solveReport(name, result, "", secondsSince(started)), textOnlyKeys::solve);
}

}  // namespace

void defineSolving(py::module_ &m) {
  py::class_<PyMesh>(m, "Mesh", "A mesh file read back")
      .def_readonly("nodes", &PyMesh::nodes, "N x 3 coordinates, as the file holds them")
      .def_readonly("tetrahedra", &PyMesh::tetrahedra, "M x 4 corner node rows, 0-based")
      .def_readonly("volumes", &PyMesh::volumes, "physical volume name: rows of tetrahedra")
      .def_readonly("surfaces", &PyMesh::surfaces, "physical surface name: K x 3 corner node rows");
  m.def("read_mesh", &meshDataOf, py::arg("path"), "Reads a .msh file (4.1 or 2.2)");
  m.def("mesh", &meshOf, py::arg("assembly"), py::arg("output"), py::arg("size") = 0.0, py::arg("order") = 1,
        py::arg("format") = "msh4", py::arg("assign_overlaps") = false, py::arg("progress") = py::none(),
        py::arg("heal") = false, py::arg("max_elements") = 0.0,
        "Imprints and meshes with Gmsh by the tool's route (`heal` heals for the size first, as `mesh --heal`): "
        "the dict of `mesh --json`");
  m.def("solve", &solveOf, py::arg("study"), py::arg("output") = py::none(), py::arg("progress") = py::none(),
        py::arg("processes") = 1, py::arg("launcher") = "", py::arg("pos") = false, py::arg("max_elements") = 0.0,
        "Solves a study (a YAML file, or its dict) with GetDP or CalculiX, as `solve` does with --processes, "
        "--launcher, --pos and --max-elements: the dict of `solve --json`");
}

}  // namespace nimbo::python
