// The statistics record of a shape, and the axial volume of planar cross-sections.
#include <nimbo/topology/ShapeAlgorithms.h>
#include "ShapeMeasures.h"
#include "ShapeProperties.h"

#include <nimbo/nimbo_exception.h>

#include <BOPTools_AlgoTools3D.hxx>
#include <BRepBndLib.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRep_Tool.hxx>
#include <GeomLib_IsPlanarSurface.hxx>
#include <Geom_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Ax1.hxx>

#include <easylogging++.h>

namespace {

void writeCentre(const gp_Pnt &centre, ShapeStatistics &statistics) {
  statistics.centerX = centre.X();
  statistics.centerY = centre.Y();
  statistics.centerZ = centre.Z();
}

void writeBoundingBox(const TopoDS_Shape &shape, ShapeStatistics &statistics) {
  const std::optional<Bnd_Box> box = nimbo::getExactBoundingBox(shape);
  if (!box) throw nimbo_exception("Could not compute bounding box for shape during getShapeStatistics");
  statistics.xmax = box->CornerMax().X();
  statistics.ymax = box->CornerMax().Y();
  statistics.zmax = box->CornerMax().Z();
  statistics.xmin = box->CornerMin().X();
  statistics.ymin = box->CornerMin().Y();
  statistics.zmin = box->CornerMin().Z();
}

// Planar, and parallel to the XY plane within 0.05 rad whichever way its normal points.
bool isRevolvable(const TopoDS_Face &face) {
  const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
  const GeomLib_IsPlanarSurface planarCheck(surface, 1e-7);
  gp_Dir dir(1, 0, 0);
  BOPTools_AlgoTools3D::GetNormalToSurface(surface, 0.0, 0.0, dir);
  if (!planarCheck.IsPlanar()) return false;
  const gp_Dir zAxis(0, 0, 1);
  return dir.IsEqual(zAxis, 0.05) || dir.IsOpposite(zAxis, 0.05);
}

double revolvedVolume(const TopoDS_Shape &sh) {
  const gp_Ax1 axis(gp_Pnt(0, 0, 0), gp_Dir(0, 1, 0));
  // Revolve a copy: revolving the face itself adds curves of the revolved solid to the caller's
  // edges, so every call would grow the caller's shape and slow the next one down.
  const TopoDS_Shape revolvedShape = BRepPrimAPI_MakeRevol(sh, axis, true).Shape();
  // Only its size is wanted, and the volume alone takes the planar ends in closed form.
  return nimbo::detail::volumeOf(revolvedShape);
}

}  // namespace

namespace nimbo {

std::optional<Bnd_Box> getExactBoundingBox(const TopoDS_Shape &shape) {
  // Any failure of the kernel here is the caller's to report, in its own words.
  try {
    Bnd_Box box;
    box.SetGap(0.0);
    BRepBndLib::AddOptimal(shape, box, true, false);
    if (box.IsVoid()) return std::nullopt;
    return box;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace nimbo

double getAxialVolume(const TopoDS_Shape *shape, const double z) {
  if (shape == nullptr || z != 0.0) return 0.0;
  double sum = 0.0;
  for (TopExp_Explorer exp(*shape, TopAbs_FACE, TopAbs_SHAPE); exp.More(); exp.Next()) {
    const TopoDS_Shape sh = exp.Current();
    if (!isRevolvable(TopoDS::Face(sh))) continue;
    // One face that cannot be revolved must not lose the volume of the others.
    try {
      sum += revolvedVolume(sh);
    } catch (...) {
      LOG(ERROR) << "Could not compute axial volume for shape during getShapeStatistics";
    }
  }
  return sum;
}

void getShapeStatistics(const TopoDS_Shape &shape, ShapeStatistics &statistics) {
  const TopAbs_ShapeEnum type = getDominantShapeType(shape);
  if (type == TopAbs_VERTEX) {
    // No vertex at all (null shape, empty compound): nothing to report.
    if (shape.IsNull()) return;
    TopExp_Explorer exp(shape, TopAbs_VERTEX, TopAbs_SHAPE);
    if (!exp.More()) return;
    writeCentre(BRep_Tool::Pnt(TopoDS::Vertex(exp.Current())), statistics);
    return;
  }
  const GProp_GProps gprops = nimbo::detail::measureProperties(shape, type);
  writeCentre(gprops.CentreOfMass(), statistics);
  switch (type) {
    case TopAbs_EDGE:
      statistics.length = gprops.Mass();
      break;
    case TopAbs_FACE:
      statistics.area = gprops.Mass();
      statistics.axialVolume = getAxialVolume(&shape, statistics.centerZ);
      break;
    default:
      statistics.volume = gprops.Mass();
      break;
  }
  writeBoundingBox(shape, statistics);
}
