// What a part measures: the shape library's measure by dominant type, and its exact box.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "Fusing.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <TopExp_Explorer.hxx>

#include <limits>

namespace nimbo {

PartFigures measurePart(const Part &part) {
  PartFigures figures{};
  figures.type = part.shape.ShapeType();
  // A compound is measured by the highest type it holds, so wrapping the part lets a shell or a
  // compsolid count by its faces or solids.
  const TopoDS_Shape whole = detail::compoundOf({part.shape});
  const std::optional<GProp_GProps> measure = getDominantMeasure(whole);
  if (!measure) {
    // A part of vertices only: its first vertex, and the box of its points.
    const double unset = std::numeric_limits<double>::quiet_NaN();
    figures.center =
        TopExp_Explorer(whole, TopAbs_VERTEX).More() ? getCenterOfMass(whole) : gp_Pnt(unset, unset, unset);
    Bnd_Box box;
    BRepBndLib::Add(whole, box, false);
    figures.boxMin = box.CornerMin();
    figures.boxMax = box.CornerMax();
    return figures;
  }
  figures.center = measure->CentreOfMass();
  switch (getDominantShapeType(whole)) {
    case TopAbs_SOLID:
      figures.volume = measure->Mass();
      break;
    case TopAbs_FACE:
      figures.area = measure->Mass();
      break;
    default:
      figures.length = measure->Mass();
      break;
  }
  const std::optional<Bnd_Box> box = getExactBoundingBox(whole);
  if (!box) throw nimbo_exception("Could not compute the bounding box of " + part.path);
  figures.boxMin = box->CornerMin();
  figures.boxMax = box->CornerMax();
  return figures;
}

}  // namespace nimbo
