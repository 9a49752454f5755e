// nimbo pages: the parts, and what a job found on them, as one self-contained HTML file that any
// browser opens without a network: turn, pan, zoom, a part list, and tables whose rows frame the
// parts they name.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/base.h>
#include <nimbo/render/Render.h>

#include <TopoDS_Shape.hxx>

#include <cstddef>
#include <string>
#include <vector>

namespace nimbo {

/// A shape on the page, and an entry of its part list.
struct PagePart {
  std::string name;  ///< unique on the page; rows name the parts they frame by it
  TopoDS_Shape shape;
  Color color;
  bool ghost = false;   ///< always drawn see-through: context, such as a part's place before it moved
  std::string kind;     ///< shown beside the name in the list, e.g. "overlap"; empty for a plain part
  bool inside = false;  ///< lies within other parts (a common region, shared faces): drawn through them when selected
};

/// A piece of surface coloured by a field: nodes in mm, one value per node.
struct PageFieldPiece {
  std::string name;  ///< in the part list, as a part's name
  FieldSurface surface;
};

/// One time step of a field that changes over time: its label ("t = 5 s") and each piece's values,
/// in the order of PageField::pieces, one per node of the piece's surface.
struct PageFieldFrame {
  std::string label;
  std::vector<std::vector<double>> values;
};

/// The field shown on the page, with its colour bar.
struct PageField {
  std::string title;  ///< of the colour bar, e.g. "temperature (degC)"
  std::vector<PageFieldPiece> pieces;
  /// Steps of the field in time, earliest first; when given, a slider picks the one shown, coloured on
  /// one scale over all of them. The pieces' own values are what is shown without the slider.
  std::vector<PageFieldFrame> frames;
};

/// A row of a table; clicking it highlights and frames `parts`.
struct PageRow {
  std::vector<std::string> cells;
  std::vector<std::string> parts;  ///< names of PagePart or PageFieldPiece
};

struct PageTable {
  std::string id;     ///< the HTML id of the table, e.g. "findings"
  std::string title;  ///< shown above it
  std::vector<std::string> columns;
  std::vector<PageRow> rows;
};

/// A swatch of the legend.
struct PageLegend {
  std::string label;
  Color color;
};

/// Everything a page shows.
struct Page {
  std::string title;    ///< of the browser tab and the side bar
  std::string summary;  ///< one line under the title
  std::vector<PagePart> parts;
  PageField field;  ///< no pieces for none
  std::vector<PageTable> tables;
  std::vector<PageLegend> legend;
  double deflection = 0.0;  ///< of the triangulation, in mm; 0 for the drawings' own
};

/// The most values (frames times nodes) of a field's frames that a page embeds. Each costs a byte in
/// base64, 1.34 bytes of page, so at most 5.3 MB more: about what a 100 000-node surface weighs
/// itself, and such a page opens within a second of one without its frames.
constexpr std::size_t pageFrameValues = 4'000'000;

/// Where three.js and its GLTFLoader and OrbitControls are read from: NIMBO_THREE_DIR when set,
/// else Debian's libjs-three folder.
std::string threeJsFolder();

/// Throws nimbo_exception naming `path` when three.js cannot be found, as writePage would: for
/// callers to refuse before long work whose page they could not write.
void checkPageCanBeWritten(const std::string &path);

/// Writes the page as one HTML file: the parts as binary glTF in base64, the field, the tables and
/// three.js itself inline, so that it needs nothing else. An existing file is replaced only by a
/// complete one. A field's frames are embedded up to pageFrameValues values in all (frames times
/// nodes); beyond that the page shows the pieces' own values and says why. Throws nimbo_exception
/// naming the file when there is nothing to show, a row names a part the page does not hold, a
/// frame's values do not match the pieces or are not finite (naming the frame), three.js cannot be
/// read (naming where it was looked for), or the file cannot be written.
void writePage(const Page &page, const std::string &path);

// --- Pages of the jobs ---------------------------------------------------------------------------

/// The parts in their own colours (a palette's for those without), listed by path.
Page partsPage(const std::vector<Part> &parts, const std::string &title);

/// The parts in grey; those of overlapping pairs in red and each common region as a part of its
/// own, those in contact in blue with their shared faces; a "findings" table of overlaps,
/// contacts, clearances and failures (kind, pair, figure), each row framing its pair.
Page clashPage(const std::vector<Part> &parts, const Interferences &found, const std::string &title);

/// The later revision's parts: unchanged grey, moved blue with its old place as a ghost, modified
/// orange, added green, and the removed ones as red ghosts; a "changes" table, each row framing the
/// part.
Page diffPage(const std::vector<Part> &before, const std::vector<Part> &after, const AssemblyDiff &diff,
              const std::string &title);

}  // namespace nimbo
