// The check that Gmsh numbered the imported entities as the imprinted compound numbers its shapes:
// boxes first, centres of mass where boxes cannot tell two shapes apart.
#include "Gmsh.h"

#include <gmsh.h>

#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>

#include <algorithm>

namespace nimbo::detail {
namespace {

gp_Pnt centerOf(const TopoDS_Shape &shape, int dim) {
  GProp_GProps properties;
  if (dim == 3) {
    BRepGProp::VolumeProperties(shape, properties);
  } else {
    BRepGProp::SurfaceProperties(shape, properties);
  }
  return properties.CentreOfMass();
}

}  // namespace

void checkNumbering(const std::vector<NumberedShape> &numbered, double scale) {
  const auto fail = [] {
    throw nimbo_exception(
        "Gmsh numbered the imported shapes in another order than the compound's, so the regions cannot be named");
  };
  const double tolerance = 1e-6 * scale;
  std::vector<Bnd_Box> boxes(numbered.size());
  for (std::size_t k = 0; k < numbered.size(); ++k) {
    BRepBndLib::Add(numbered[k].shape, boxes[k]);
    double x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;
    gmsh::model::getBoundingBox(numbered[k].dim, numbered[k].number, x0, y0, z0, x1, y1, z1);
    if (boxes[k].CornerMin().Distance(gp_Pnt(x0, y0, z0)) > tolerance ||
        boxes[k].CornerMax().Distance(gp_Pnt(x1, y1, z1)) > tolerance) {
      fail();
    }
  }
  // Shapes whose boxes' lower corners lie within the tolerance, found by sorting along x.
  std::vector<std::size_t> order(numbered.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return boxes[a].CornerMin().X() < boxes[b].CornerMin().X(); });
  std::vector<bool> alike(numbered.size(), false);
  for (std::size_t i = 0; i < order.size(); ++i) {
    for (std::size_t j = i + 1; j < order.size(); ++j) {
      const Bnd_Box &a = boxes[order[i]];
      const Bnd_Box &b = boxes[order[j]];
      if (b.CornerMin().X() - a.CornerMin().X() > tolerance) break;
      if (numbered[order[i]].dim == numbered[order[j]].dim && a.CornerMin().Distance(b.CornerMin()) <= tolerance &&
          a.CornerMax().Distance(b.CornerMax()) <= tolerance) {
        alike[order[i]] = alike[order[j]] = true;
      }
    }
  }
  for (std::size_t k = 0; k < numbered.size(); ++k) {
    if (!alike[k]) continue;
    double x = 0, y = 0, z = 0;
    gmsh::model::occ::getCenterOfMass(numbered[k].dim, numbered[k].number, x, y, z);
    if (centerOf(numbered[k].shape, numbered[k].dim).Distance(gp_Pnt(x, y, z)) > tolerance) fail();
  }
}

}  // namespace nimbo::detail
