// nimbo assembly layer: the parts of a CAD file with their names, placements and colours.
#pragma once

#include <Message_ProgressRange.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

#include <optional>
#include <string>
#include <vector>

namespace nimbo {

/// A colour as the file gives it: sRGB components in [0, 1].
struct Color {
  double red;
  double green;
  double blue;
};

/// One placed part of an assembly: a solid, or what a product holds besides solids.
struct Part {
  /// The instance names from the root to the part, joined by "/"; unique within the assembly.
  /// Siblings that share a name are told apart by "#2", "#3", ...; the solids of one product by
  /// "#1", "#2", ...
  std::string path;
  /// The product's name; where the file gives none (or only a type word such as "SOLID"), the nearest
  /// named ancestor's, and at last the file's own name without its extension.
  std::string name;
  /// In the assembly's frame, in millimetres (BREP: as the file holds it). Instances of one product
  /// share its topology under different locations.
  TopoDS_Shape shape;
  std::optional<Color> color;
};

/// The parts of a CAD file in file order (depth first over the assembly tree), and its length unit.
struct Assembly {
  /// The length unit as the file names it ("millimetre", "INCH", ...); empty where the format has
  /// none (BREP).
  std::string lengthUnit;
  std::vector<Part> parts;
};

/// Reads a STEP (.step, .stp), IGES (.iges, .igs) or BREP (.brep) file, chosen by extension in any
/// case, into its parts. STEP external references are resolved relative to the file's folder. A BREP
/// compound gives one part per solid ("solid_1", ...) and one for what it holds besides. Throws
/// nimbo_exception naming the file when it cannot be read or holds no shape, and naming both files
/// when a file it refers to is missing or unreadable.
Assembly readAssembly(const std::string &path, const Message_ProgressRange &progress = Message_ProgressRange());

/// What a part measures, by what it holds: its volume when it holds a solid, else its area when it
/// holds a face (so a shell or an open surface model has an area), else its length.
struct PartFigures {
  TopAbs_ShapeEnum type;  ///< the shape's own type
  std::optional<double> volume;
  std::optional<double> area;
  std::optional<double> length;
  gp_Pnt center;  ///< of the measure above; for a part of vertices only, its first vertex
  gp_Pnt boxMin;  ///< the exact bounding box, without tolerance enlargement
  gp_Pnt boxMax;
};

/// Returns the figures of the part's shape. Throws nimbo_exception when its box cannot be computed.
PartFigures measurePart(const Part &part);

}  // namespace nimbo
