// nimbo drawings: shapes as line drawings in SVG, hidden lines removed, and solved fields as
// coloured surfaces, on a machine without a display.
#pragma once

#include <nimbo/base.h>

#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace nimbo {

/// How one shape is drawn.
struct RenderStyle {
  Color stroke;               ///< of its lines
  std::optional<Color> fill;  ///< shaded with its own triangles, for highlighted regions
  std::string label;          ///< shown in the legend; none when empty
};

/// A shape to draw, and how.
struct RenderItem {
  TopoDS_Shape shape;
  RenderStyle style;
};

/// Where the eye looks from: the direction towards the viewer, and what is up on the page.
struct View {
  gp_Dir towardsViewer;
  gp_Dir up;  ///< shown upwards on the page, projected square to towardsViewer
};

/// "iso" (from +X +Y +Z, Z up), "front" (from -Y), "back", "top" (from +Z, Y up), "bottom",
/// "left" (from -X), "right", or a direction "X,Y,Z" towards the viewer. Throws nimbo_exception
/// naming the text otherwise.
View viewNamed(const std::string &name);

/// The page and the way edges are found.
struct RenderOptions {
  int width = 800;  ///< of the page, in pixels
  int height = 600;
  bool hidden = false;  ///< hidden edges dashed
  bool exact = false;   ///< the exact hidden-line algorithm instead of the one on triangulations
};

/// The i-th colour of a fixed palette, for parts that carry none.
Color paletteColor(std::size_t i);

/// Draws the shapes together (each hides what lies behind it of the others) as an SVG document of
/// the page size: visible sharp edges and silhouettes as solid lines, hidden ones dashed when asked,
/// smooth edges and seams left out; the drawing fitted to the page with a margin, line widths in
/// page units, and a legend of the labels. Meshes the shapes, as the comparison does.
///
/// A shape may be of any kind: solids, shells, loose faces, wires, loose edges, and compounds of
/// them. Edges that bound no face, and on triangulations the edges of faces that could not be
/// meshed, are drawn as lines that faces in front of them hide and that hide nothing themselves. A
/// shape with no edge and no face (an empty compound, points) is drawn as nothing. Throws
/// nimbo_exception when no shape holds an edge or a face, and naming the item (its position from 1
/// and its label) when one that does gives no line, seen or hidden, nor a fill, as a face of bare
/// triangles does; the exact algorithm cannot take faces without a surface, and leaves them to that
/// rule too.
std::string renderSvg(const std::vector<RenderItem> &items, const View &view, const RenderOptions &options = {});

/// A triangulated surface with a value at each node: the outer surface of a solved model.
struct FieldSurface {
  std::vector<gp_Pnt> nodes;                          ///< in mm
  std::vector<std::array<std::size_t, 3>> triangles;  ///< rows of `nodes`, in either orientation
  std::vector<double> values;                         ///< one per node
};

/// The colour of a field at `share` (clamped to [0, 1]) of the way from its least value to its
/// greatest: dark violet through blue and green to yellow, lightness rising steadily.
Color fieldColor(double share);

/// Draws the surface as seen from `view` as an SVG document of the page size: each triangle filled
/// with the colour of the mean of its nodes' values on a scale from the least value to the greatest,
/// nearer triangles over farther ones, fitted to the page with a margin as renderSvg fits, beside a
/// colour bar at the right labelled with `title` (e.g. "temperature (degC)"), the values at its ends
/// and a few between. RenderOptions' hidden and exact do not apply. Throws nimbo_exception when the
/// surface has no triangle, a triangle names a node that does not exist, or the values are not one
/// per node or not finite, and when the page leaves the drawing no room beside the bar.
std::string renderFieldSvg(const FieldSurface &surface, const std::string &title, const View &view,
                           const RenderOptions &options = {});

// --- glTF ----------------------------------------------------------------------------------------

/// One part of a glTF scene.
struct GltfNode {
  std::string name;  ///< the node's name: the part's path
  TopoDS_Shape shape;
  Color color;
};

/// How writeGltf triangulates.
struct GltfOptions {
  double deflection = 0.0;  ///< in mm; 0 for the drawings' own, 0.002 of the parts' box diagonal
};

/// Writes the parts as binary glTF (.glb): one node per part, named and coloured, in metres with Y
/// up as glTF has it. Triangulates the shapes (kept on them, as the drawings do). An existing file is
/// replaced only by a complete one. Throws nimbo_exception naming the file when there is nothing to
/// write or the writer fails.
void writeGltf(const std::vector<GltfNode> &nodes, const std::string &path, const GltfOptions &options = {});

}  // namespace nimbo
