// What nimbo-shape's subcommands report, as JSON built from the libraries' results: the tool prints
// it (as JSON, or as text made from it) and the Python module returns it as a dict, so that the keys
// are declared here alone. Keys are stable, in snake_case and in the order of the tool's text;
// numbers are numbers, and a figure the shape does not have is null.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/heal/Heal.h>
#include <nimbo/pipeline/Pipeline.h>
#include <nimbo/render/Render.h>

#ifdef NIMBO_HAVE_MESH
#include <nimbo/mesh/Mesh.h>
#include <nimbo/solve/Solve.h>
#endif

#include <nlohmann/json.hpp>

#include <TopoDS_Shape.hxx>

#include <optional>
#include <string>
#include <vector>

using json = nlohmann::ordered_json;

// --- Values --------------------------------------------------------------------------------------

/// A figure the shape may not have: null when there is none (or it is NaN).
json orNull(const std::optional<double> &value);
json orNull(double value);

/// Three coordinates as a JSON array.
template <typename XYZ>
json array(const XYZ &xyz) {
  return json::array({xyz.X(), xyz.Y(), xyz.Z()});
}

// --- Text-only keys ------------------------------------------------------------------------------

/// Keys (at any depth) of each report that only the tool's text shows: timings and counts for
/// people. Scripts never see them.
namespace textOnlyKeys {
inline const std::vector<std::string> stats = {};
inline const std::vector<std::string> parts = {};
inline const std::vector<std::string> check = {};
inline const std::vector<std::string> heal = {"seconds"};
inline const std::vector<std::string> clash = {"seconds"};
inline const std::vector<std::string> imprint = {"boundary_faces", "seconds"};
inline const std::vector<std::string> diff = {"seconds"};
inline const std::vector<std::string> mesh = {};
inline const std::vector<std::string> solve = {};
inline const std::vector<std::string> render = {};
inline const std::vector<std::string> view = {"seconds"};
}  // namespace textOnlyKeys

/// The report without the keys named, at any depth.
json withoutTextOnly(json report, const std::vector<std::string> &keys);

// --- Pieces shared by several reports ------------------------------------------------------------

/// {"kind", "faces", "edges", "size"}.
json findingJson(const nimbo::Finding &finding);

/// What the healing did to a part; `parts` are those healed, which its numbers refer to.
json partHealingJson(const nimbo::PartHealing &healing, const std::vector<nimbo::Part> &parts);

/// {"size", "parts": [partHealingJson...]}: a healing as imprint and mesh report it.
json healingJson(const nimbo::Healing &healing, const std::vector<nimbo::Part> &parts);

// --- Reports -------------------------------------------------------------------------------------

/// stats: the statistics, counts and measures of the shape read from `file`. Throws what the
/// kernel throws measuring it.
json statsReport(const std::string &file, const TopoDS_Shape &shape);

/// parts: the parts of the assembly read from `file`, with their measures and boxes.
json partsReport(const std::string &file, const nimbo::Assembly &assembly);

/// check: the verdict and findings of each part of `parts` (read from `files`).
json checkReport(const std::vector<std::string> &files, const std::vector<nimbo::Part> &parts,
                 const nimbo::Checks &checks);

/// heal: what the healing of `parts` (read from `files`) did, written to `output`.
json healReport(const std::vector<std::string> &files, const std::string &output, const nimbo::Healing &healing,
                const std::vector<nimbo::Part> &parts, double seconds);

/// clash: which of `parts` (read from `files`) overlap, touch or come close.
json clashReport(const std::vector<std::string> &files, const std::vector<nimbo::Part> &parts,
                 const nimbo::Interferences &found, double seconds);

/// imprint: the imprint of the parts `given` (read from `files`, and healed when they were) written to
/// `output`. "assigned" only when regions were assigned, "healing" only when healed.
json imprintReport(const std::vector<std::string> &files, const std::string &output, const nimbo::Prepared &prepared,
                   const std::vector<nimbo::Part> &given, double seconds);

/// diff: what became of the parts of revision `before` in revision `after`.
/// The parts as render draws them: each in its file's colour, else one of the palette, labelled in
/// the legend when there are few.
std::vector<nimbo::RenderItem> drawnParts(const std::vector<nimbo::Part> &parts);

/// render: the drawing written and how many parts it shows.
json renderReport(const std::vector<std::string> &files, const std::string &output, std::size_t parts, double seconds);

/// view: the page written, how many parts it shows and its size.
json viewReport(const std::vector<std::string> &files, const std::string &output, std::size_t parts, double seconds);

json diffReport(const std::string &before, const std::string &after, const std::vector<nimbo::Part> &old,
                const std::vector<nimbo::Part> &now, const nimbo::AssemblyDiff &diff, double seconds);

#ifdef NIMBO_HAVE_MESH
/// mesh: the mesh of the parts `given` (read from `files`) written to `output` by the route.
/// "healing" only when healed.
json meshReport(const std::vector<std::string> &files, const std::string &output, nimbo::MeshFormat format,
                const nimbo::Routed &routed, const std::vector<nimbo::Part> &given, double imprintSeconds);

/// solve: the solution of the study file `study`, per part and per boundary; `drawing` is the SVG
/// written of it, or empty.
json solveReport(const std::string &study, const nimbo::SolveResult &result, const std::string &drawing, double seconds,
                 const std::string &page = "");
#endif
