// The tool's subcommands: each reads its files, asks the library, and returns what it found.
#pragma once

#include <nimbo/assembly/Assembly.h>
#include <nimbo/mesh/Mesh.h>
#include <nimbo/render/Render.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <TopAbs_ShapeEnum.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>

#include <optional>
#include <string>
#include <vector>

/// What `stats` reports about one file. Statistics fields the shape's type does not write are NaN.
struct StatsReport {
  std::string file;
  TopAbs_ShapeEnum shape_type;
  TopAbs_ShapeEnum dominant_type;
  int solids;
  int faces;
  int edges;
  int vertices;
  ShapeStatistics statistics;
  double bounding_box_diagonal;
  std::optional<double> min_edge_length;  ///< none when the shape has no edge
  bool negligible;
  bool internal_faces;
};

/// The figures the comparison looks at, for one shape.
struct ShapeFigures {
  std::string file;
  TopAbs_ShapeEnum shape_type;
  TopAbs_ShapeEnum dominant_type;
  std::optional<double> measure;  ///< volume, area or length by the dominant type; none for the vertex class
  gp_Pnt center;
  gp_Pnt box_min;
  gp_Pnt box_max;
};

/// One direction of the comparison: its verdict and, when both shapes are single solids, faces or
/// edges of one type, the library's three checks against the first shape's tolerances.
struct DirectionChecks {
  bool equal;
  std::optional<ComparisonChecks> checks;
};

struct CompareReport {
  ShapeFigures first;
  ShapeFigures second;
  DirectionChecks forward;   ///< first compared with second
  DirectionChecks backward;  ///< second compared with first
};

struct OverlapReport {
  std::string first;
  std::string second;
  bool overlap;
};

struct DistanceReport {
  std::string first;
  std::string second;
  double distance;
  gp_Vec vector;  ///< from the first shape's closest point to the second's
};

struct ConvertReport {
  std::string input;
  std::string output;
  double scale;
  TopAbs_ShapeEnum dominant_type;
};

/// One part of an assembly file and what it measures.
struct PartRow {
  std::string path;
  std::string name;
  nimbo::PartFigures figures;
};

/// What `parts` reports about one file: its length unit and its parts in file order.
struct PartsReport {
  std::string file;
  std::string length_unit;  ///< empty when the file declares none
  std::vector<PartRow> parts;
};

/// What `clash` found among the parts of its files, read together.
struct ClashReport {
  std::vector<std::string> files;
  /// Every part's path, in file order; with several files each starts with its file's name.
  std::vector<std::string> paths;
  nimbo::Interferences found;
  double seconds;  ///< reading and checking
};

/// What `imprint` wrote: the compound's map, with solids and faces numbered as TopExp::MapShapes
/// numbers them (from 1) over the written compound.
struct ImprintReport {
  std::vector<std::string> files;
  std::string output;
  std::vector<std::string> paths;  ///< every part's, as in ClashReport
  nimbo::Imprint imprint;
  int solids;
  int shared_faces;
  std::vector<std::vector<int>> part_solids;      ///< by imprint.parts
  std::vector<std::vector<int>> interface_faces;  ///< by imprint.interfaces
  double seconds;
};

/// What `mesh` wrote (built where Gmsh is; the header itself needs no Gmsh).
struct MeshReport {
  std::vector<std::string> files;
  std::string output;
  std::size_t solids;
  nimbo::MeshSummary summary;
  double imprint_seconds;
  double mesh_seconds;
};

/// What `diff` found between two revisions.
struct DiffReport {
  std::string before;
  std::string after;
  std::vector<std::string> before_paths;
  std::vector<std::string> after_paths;
  nimbo::AssemblyDiff diff;
  double seconds;
};

/// What `render` drew.
struct RenderReport {
  std::vector<std::string> files;
  std::string output;
  std::size_t parts;
  double seconds;
};

StatsReport statsOf(const std::string &file);
PartsReport partsOf(const std::string &file);
/// With `svg`, also draws the two shapes over each other there, in two colours.
CompareReport compareFiles(const std::string &first, const std::string &second, const std::string &svg = "");
OverlapReport overlapOf(const std::string &first, const std::string &second);
/// Throws tool_error when the distance cannot be computed.
DistanceReport distanceOf(const std::string &first, const std::string &second);
/// Reads the files' assemblies and checks all their parts against one another.
/// With `svg`, also draws the parts there: grey, overlapping ones outlined in red with their common
/// region filled, and with `contacts` the touching ones and their shared faces in blue.
ClashReport clashOf(const std::vector<std::string> &files, const nimbo::InterferenceOptions &options,
                    const std::string &svg = "", bool contacts = false);
/// Reads the files' assemblies, imprints their parts together and writes the compound to `output`
/// (.brep, where the numbering holds).
ImprintReport imprintFiles(const std::vector<std::string> &files, const std::string &output,
                           const nimbo::ImprintOptions &options);
/// Reads, imprints and meshes the files' parts with Gmsh into `output` (.msh).
MeshReport meshFiles(const std::vector<std::string> &files, const std::string &output,
                     const nimbo::ImprintOptions &imprint, double size, int order, bool verbose);
/// Reads both revisions and classifies their parts.
DiffReport diffFiles(const std::string &before, const std::string &after);
/// Draws the files' parts together as SVG into `output`: each in its file's colour, else one of a
/// palette; labelled in the legend when there are few.
RenderReport renderFiles(const std::vector<std::string> &files, const std::string &output, const std::string &view,
                         const nimbo::RenderOptions &options);
/// Reads `input`, scales it about the origin unless `scale` is 1, and writes `output`. The output's
/// format is checked before the input is read.
ConvertReport convertFile(const std::string &input, const std::string &output, double scale);
