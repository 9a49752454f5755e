// What a part measures, through the shape library's statistics.
#include "Assembly.h"

#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepBndLib.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <TopoDS_Compound.hxx>

#include <limits>

namespace nimbo {

PartFigures measurePart(const Part &part) {
  PartFigures figures{};
  figures.type = part.shape.ShapeType();
  // A compound is measured by the highest type it holds, so wrapping the part lets a shell or a
  // compsolid count by its faces or solids.
  TopoDS_Compound whole;
  BRep_Builder builder;
  builder.MakeCompound(whole);
  builder.Add(whole, part.shape);
  const double unset = std::numeric_limits<double>::quiet_NaN();
  ShapeStatistics statistics{unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset, unset};
  getShapeStatistics(whole, statistics);
  figures.center = gp_Pnt(statistics.centerX, statistics.centerY, statistics.centerZ);
  switch (getDominantShapeType(whole)) {
    case TopAbs_SOLID:
      figures.volume = statistics.volume;
      break;
    case TopAbs_FACE:
      figures.area = statistics.area;
      break;
    case TopAbs_EDGE:
      figures.length = statistics.length;
      break;
    default: {
      // The statistics give vertices a centre only; their box is the points'.
      Bnd_Box box;
      BRepBndLib::Add(whole, box, false);
      figures.boxMin = box.CornerMin();
      figures.boxMax = box.CornerMax();
      return figures;
    }
  }
  figures.boxMin = gp_Pnt(statistics.xmin, statistics.ymin, statistics.zmin);
  figures.boxMax = gp_Pnt(statistics.xmax, statistics.ymax, statistics.zmax);
  return figures;
}

}  // namespace nimbo
