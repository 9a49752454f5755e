// Pictures of assemblies: the 3D page and the SVG line drawing, as the tool's view and render.
#include "Module.h"

#include <nimbo/html/Html.h>
#include <nimbo/render/Render.h>

namespace nimbo::python {
namespace {

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

}  // namespace

void definePictures(py::module_ &m) {
  m.def("view", &viewOf, py::arg("assembly"), py::arg("output"), py::arg("deflection") = 0.0,
        "Writes the parts as a self-contained 3D page (.html): the dict of `view --json`");
  m.def("render", &renderOf, py::arg("assembly"), py::arg("output"), py::arg("view") = "iso", py::arg("hidden") = false,
        "Draws the parts as an SVG line drawing: the dict of `render --json`");
}

}  // namespace nimbo::python
