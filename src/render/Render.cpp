// Line drawings: the shapes meshed, their hidden lines removed in the view's projection, the edges
// that remain fitted to the page and written as SVG paths.
#include <nimbo/render/Render.h>

#include <nimbo/nimbo_exception.h>

#include "EdgeLines.h"
#include "SvgText.h"

#include <BRepBndLib.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <HLRAlgo_Projector.hxx>
#include <HLRBRep_Algo.hxx>
#include <HLRBRep_HLRToShape.hxx>
#include <HLRBRep_PolyAlgo.hxx>
#include <HLRBRep_PolyHLRToShape.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Ax2.hxx>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

namespace nimbo {
namespace {

// Sizes as shares of the drawing's diagonal: the mesh's deflection, and how closely lines follow
// their curves.
constexpr double meshShare = 0.002;
constexpr double curveShare = 0.0005;

using detail::escaped;
using detail::hex;
using detail::Polyline;

struct Drawn {
  std::vector<Polyline> visible;
  std::vector<Polyline> hidden;                    // when asked for
  bool behind = false;                             // hidden lines found, asked for or not
  std::vector<std::array<gp_Pnt2d, 3>> triangles;  // of the fill
};

// The projected edges of a compound as polylines, curves followed to a small part of the drawing.
void addEdges(const TopoDS_Shape &compound, double deflection, std::vector<Polyline> &into) {
  if (compound.IsNull()) return;
  for (TopExp_Explorer it(compound, TopAbs_EDGE); it.More(); it.Next()) {
    Polyline line;
    for (const gp_Pnt &p : detail::edgePoints(TopoDS::Edge(it.Current()), deflection)) line.emplace_back(p.X(), p.Y());
    if (line.size() >= 2) into.push_back(std::move(line));
  }
}

bool holdsEdges(const TopoDS_Shape &shape) { return !shape.IsNull() && TopExp_Explorer(shape, TopAbs_EDGE).More(); }

bool holdsFacesOrEdges(const TopoDS_Shape &shape) {
  return holdsEdges(shape) || TopExp_Explorer(shape, TopAbs_FACE).More();
}

// Each item's sharp edges and silhouettes, visible and (when asked) hidden; smooth edges and seams
// (the "Rg1" and "RgN" lines) are left out. Both algorithms' results answer the same calls, for
// the shapes they were given (null for an item that gave them none).
template <typename Lines>
void takeLines(Lines &lines, const std::vector<TopoDS_Shape> &given, bool hidden, double deflection,
               std::vector<Drawn> &drawn) {
  for (std::size_t i = 0; i < given.size(); ++i) {
    const TopoDS_Shape &s = given[i];
    if (s.IsNull()) continue;
    addEdges(lines.VCompound(s), deflection, drawn[i].visible);
    addEdges(lines.OutLineVCompound(s), deflection, drawn[i].visible);
    const TopoDS_Shape behind = lines.HCompound(s), behindOutline = lines.OutLineHCompound(s);
    if (holdsEdges(behind) || holdsEdges(behindOutline)) drawn[i].behind = true;
    if (hidden) {
      addEdges(behind, deflection, drawn[i].hidden);
      addEdges(behindOutline, deflection, drawn[i].hidden);
    }
  }
}

void addTriangles(const TopoDS_Shape &shape, const HLRAlgo_Projector &projector, Drawn &drawn) {
  detail::forEachTriangle(shape, [&](const std::array<gp_Pnt, 3> &points) {
    std::array<gp_Pnt2d, 3> corners;
    for (int k = 0; k < 3; ++k) projector.Project(points[k], corners[k]);
    drawn.triangles.push_back(corners);
  });
}

bool hasTriangles(const TopoDS_Face &face) {
  TopLoc_Location location;
  const Handle(Poly_Triangulation) &mesh = BRep_Tool::Triangulation(face, location);
  return !mesh.IsNull() && mesh->NbTriangles() > 0;
}

bool hasSurface(const TopoDS_Face &face) {
  TopLoc_Location location;
  return !BRep_Tool::Surface(face, location).IsNull();
}

// The exact algorithm works on the geometry: faces with a surface (one without crashes it), and
// loose edges, which it hides behind faces too.
void drawExact(const std::vector<detail::SplitShape> &split, const HLRAlgo_Projector &projector, bool hidden,
               double deflection, std::vector<Drawn> &drawn) {
  const Handle(HLRBRep_Algo) algo = new HLRBRep_Algo();
  std::vector<TopoDS_Shape> given(split.size());
  BRep_Builder builder;
  for (std::size_t i = 0; i < split.size(); ++i) {
    if (split[i].faces.IsNull() && split[i].edges.empty()) continue;
    TopoDS_Compound both;
    builder.MakeCompound(both);
    if (!split[i].faces.IsNull()) builder.Add(both, split[i].faces);
    for (const TopoDS_Edge &edge : split[i].edges) builder.Add(both, edge);
    algo->Add(both);
    given[i] = both;
  }
  if (algo->NbShapes() == 0) return;
  algo->Projector(projector);
  algo->Update();
  algo->Hide();
  HLRBRep_HLRToShape lines(algo);
  takeLines(lines, given, hidden, deflection, drawn);
}

// The algorithm on triangulations takes faces with triangles only: a loose edge makes it fail (it
// sizes an array by the faces of the edges' group, none) and a face without triangles it drops.
// Those edges are drawn here instead, hidden where a triangle lies in front; they hide nothing.
void drawOnTriangles(const std::vector<detail::SplitShape> &split, const HLRAlgo_Projector &projector, bool hidden,
                     double size, std::vector<Drawn> &drawn) {
  std::vector<TopoDS_Shape> given;
  const Handle(HLRBRep_PolyAlgo) algo = new HLRBRep_PolyAlgo();
  for (const detail::SplitShape &piece : split) {
    given.push_back(piece.faces);
    if (!piece.faces.IsNull()) algo->Load(piece.faces);
  }
  if (algo->NbShapes() > 0) {
    algo->Projector(projector);
    algo->Update();
    HLRBRep_PolyHLRToShape lines;
    lines.Update(algo);
    takeLines(lines, given, hidden, curveShare * size, drawn);
  }
  if (std::all_of(split.begin(), split.end(), [](const detail::SplitShape &piece) { return piece.edges.empty(); })) {
    return;
  }
  // A triangle hides an edge only well in front of it: an edge on a face lies up to the mesh's
  // deflection behind the face's chords.
  const detail::Occluders occluders(given, projector, 2 * meshShare * size);
  std::vector<Polyline> unseen;
  for (std::size_t i = 0; i < split.size(); ++i) {
    for (const TopoDS_Edge &edge : split[i].edges) {
      detail::addEdgeLines(edge, projector, occluders, curveShare * size, meshShare * size, drawn[i].visible,
                           hidden ? drawn[i].hidden : unseen);
    }
    if (!unseen.empty() || !drawn[i].hidden.empty()) drawn[i].behind = true;
    unseen.clear();
  }
}

// Every item gives lines or a fill, or is named in a failure; one without a face or an edge (an
// empty compound, points) has nothing to give.
void checkDrawn(const std::vector<RenderItem> &items, const std::vector<detail::SplitShape> &split,
                const std::vector<Drawn> &drawn, bool exact) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Drawn &d = drawn[i];
    if (!d.visible.empty() || d.behind || !d.triangles.empty()) continue;
    TopTools_IndexedMapOfShape faces, edges;
    TopExp::MapShapes(items[i].shape, TopAbs_FACE, faces);
    TopExp::MapShapes(items[i].shape, TopAbs_EDGE, edges);
    if (faces.IsEmpty() && edges.IsEmpty()) continue;
    std::ostringstream why;
    why << "Cannot draw item " << i + 1;
    if (!items[i].style.label.empty()) why << " (" << items[i].style.label << ")";
    why << ": no line came of its " << faces.Extent() << " faces and " << edges.Extent() << " edges";
    if (split[i].refusedFaces > 0) {
      why << ", " << split[i].refusedFaces << " of the faces without " << (exact ? "a surface" : "triangles");
    }
    throw nimbo_exception(why.str());
  }
}

gp_Dir parsedDirection(const std::string &name) {
  double x = 0, y = 0, z = 0;
  char rest = 0;
  if (std::sscanf(name.c_str(), "%lf,%lf,%lf%c", &x, &y, &z, &rest) != 3 || std::hypot(x, y, z) < 1e-12) {
    throw input_error("Unknown view \"" + name +
                          "\": use iso, front, back, top, bottom, left, right or a direction X,Y,Z");
  }
  return gp_Dir(x, y, z);
}

}  // namespace

View viewNamed(const std::string &name) {
  std::string key;
  for (const char c : name) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const gp_Dir z(0, 0, 1);
  if (key == "iso") return {gp_Dir(1, -1, 1), z};
  if (key == "front") return {gp_Dir(0, -1, 0), z};
  if (key == "back") return {gp_Dir(0, 1, 0), z};
  if (key == "top") return {gp_Dir(0, 0, 1), gp_Dir(0, 1, 0)};
  if (key == "bottom") return {gp_Dir(0, 0, -1), gp_Dir(0, 1, 0)};
  if (key == "left") return {gp_Dir(-1, 0, 0), z};
  if (key == "right") return {gp_Dir(1, 0, 0), z};
  const gp_Dir towards = parsedDirection(name);
  return {towards, towards.IsParallel(z, 1e-6) ? gp_Dir(0, 1, 0) : z};
}

Color paletteColor(std::size_t i) {
  static const Color palette[] = {{0.12, 0.47, 0.71}, {1.00, 0.50, 0.05}, {0.17, 0.63, 0.17},
                                  {0.58, 0.40, 0.74}, {0.55, 0.34, 0.29}, {0.89, 0.47, 0.76},
                                  {0.50, 0.50, 0.50}, {0.74, 0.74, 0.13}, {0.09, 0.75, 0.81}};
  return palette[i % (sizeof palette / sizeof palette[0])];
}

std::string renderSvg(const std::vector<RenderItem> &items, const View &view, const RenderOptions &options) {
  if (options.width < 16 || options.height < 16) throw input_error("The page is too small to draw on");
  Bnd_Box box;
  for (const RenderItem &item : items) BRepBndLib::Add(item.shape, box);
  if (box.IsVoid() ||
      std::none_of(items.begin(), items.end(), [](const RenderItem &item) { return holdsFacesOrEdges(item.shape); })) {
    throw input_error("Nothing to draw: the shapes hold no edges or faces");
  }
  const double size = std::sqrt(box.SquareExtent());
  for (const RenderItem &item : items) BRepMesh_IncrementalMesh(item.shape, meshShare * size, false, 0.35, true);

  const gp_Dir right = view.up.Crossed(view.towardsViewer);
  const HLRAlgo_Projector projector(gp_Ax2(gp_Pnt(0, 0, 0), view.towardsViewer, right));
  std::vector<detail::SplitShape> split;
  for (const RenderItem &item : items) {
    split.push_back(detail::splitShape(item.shape, options.exact ? hasSurface : hasTriangles));
  }
  std::vector<Drawn> drawn(items.size());
  if (options.exact) {
    drawExact(split, projector, options.hidden, curveShare * size, drawn);
  } else {
    drawOnTriangles(split, projector, options.hidden, size, drawn);
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].style.fill) addTriangles(items[i].shape, projector, drawn[i]);
  }
  checkDrawn(items, split, drawn, options.exact);

  // Fit the drawing to the page below the legend.
  double xmin = std::numeric_limits<double>::infinity(), ymin = xmin, xmax = -xmin, ymax = -xmin;
  const auto grow = [&](const gp_Pnt2d &p) {
    xmin = std::min(xmin, p.X());
    xmax = std::max(xmax, p.X());
    ymin = std::min(ymin, p.Y());
    ymax = std::max(ymax, p.Y());
  };
  for (const Drawn &d : drawn) {
    for (const auto *lines : {&d.visible, &d.hidden}) {
      for (const Polyline &line : *lines) std::for_each(line.begin(), line.end(), grow);
    }
    for (const auto &triangle : d.triangles) std::for_each(triangle.begin(), triangle.end(), grow);
  }
  if (xmin > xmax) xmin = xmax = ymin = ymax = 0;  // only hidden lines, not asked for
  std::vector<std::size_t> labelled;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!items[i].style.label.empty()) labelled.push_back(i);
  }
  // The legend takes a column on the left, as wide as its longest label; the drawing the rest.
  const std::size_t shown = std::min<std::size_t>(labelled.size(), 24);
  std::size_t longest = 0;
  for (const std::size_t i : labelled) longest = std::max(longest, items[i].style.label.size());
  const double legend = labelled.empty() ? 0.0 : std::min(0.4 * options.width, 34.0 + 6.3 * longest);
  const double margin = 0.05 * std::min(options.width, options.height);
  const double w = std::max(xmax - xmin, 1e-12), h = std::max(ymax - ymin, 1e-12);
  const double scale = std::min((options.width - legend - 2 * margin) / w, (options.height - 2 * margin) / h);
  const double left = legend + (options.width - legend - scale * w) / 2, top = (options.height - scale * h) / 2;
  const auto place = [&](const gp_Pnt2d &p, std::ostringstream &out) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f %.2f", left + (p.X() - xmin) * scale, top + (ymax - p.Y()) * scale);
    out << text;
  };

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << options.width << "\" height=\"" << options.height
      << "\" viewBox=\"0 0 " << options.width << ' ' << options.height << "\">\n"
      << "<rect width=\"" << options.width << "\" height=\"" << options.height << "\" fill=\"#ffffff\"/>\n";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (drawn[i].triangles.empty()) continue;
    svg << "<path fill=\"" << hex(*items[i].style.fill) << "\" fill-opacity=\"0.45\" stroke=\"none\" d=\"";
    for (const auto &triangle : drawn[i].triangles) {
      svg << 'M';
      place(triangle[0], svg);
      svg << 'L';
      place(triangle[1], svg);
      svg << 'L';
      place(triangle[2], svg);
      svg << 'Z';
    }
    svg << "\"/>\n";
  }
  const auto paths = [&](const std::vector<Polyline> &lines, const Color &color, const char *attributes) {
    if (lines.empty()) return;
    svg << "<path fill=\"none\" stroke=\"" << hex(color) << "\" " << attributes << " d=\"";
    for (const Polyline &line : lines) {
      for (std::size_t k = 0; k < line.size(); ++k) {
        svg << (k == 0 ? 'M' : 'L');
        place(line[k], svg);
      }
    }
    svg << "\"/>\n";
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    paths(drawn[i].hidden, items[i].style.stroke,
          "stroke-width=\"0.7\" stroke-dasharray=\"4 3\" stroke-opacity=\"0.6\" stroke-linecap=\"round\"");
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    paths(drawn[i].visible, items[i].style.stroke,
          "stroke-width=\"1.3\" stroke-linecap=\"round\" stroke-linejoin=\"round\"");
  }
  for (std::size_t k = 0; k < shown; ++k) {
    const RenderItem &item = items[labelled[k]];
    const double y = 8 + 16.0 * k;
    svg << "<rect x=\"8\" y=\"" << y << "\" width=\"12\" height=\"10\" fill=\""
        << hex(item.style.fill.value_or(item.style.stroke)) << "\"/>\n<text x=\"26\" y=\"" << y + 9
        << "\" font-family=\"sans-serif\" font-size=\"11\">" << escaped(item.style.label) << "</text>\n";
  }
  if (labelled.size() > shown) {
    svg << "<text x=\"26\" y=\"" << 8 + 16.0 * shown + 9 << "\" font-family=\"sans-serif\" font-size=\"11\">and "
        << labelled.size() - shown << " more</text>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace nimbo
