// Private helpers shared by the implementation files of the shape library; not installed.
#pragma once

#include <Bnd_Box.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

namespace nimbo::detail {

/// The bounding box of the shape, with triangulation used where present and no gap.
Bnd_Box boundingBox(const TopoDS_Shape &shape);

/// The sub-shapes of the compound's dominant type, in explorer order, each occurrence listed.
TopTools_ListOfShape representativeSubShapes(const TopoDS_Shape &compound);

/// Whether some face of the shape has no surface (a triangulation only): the kernel's modelling
/// algorithms evaluate a face's surface without checking that there is one.
bool hasFaceWithoutSurface(const TopoDS_Shape &shape);

/// Whether two vertex points are one: at most 1e-6 apart, absolute, in the model's length unit.
inline bool arePointsCoincident(const gp_Pnt &first, const gp_Pnt &second) { return first.Distance(second) <= 1e-6; }

}  // namespace nimbo::detail
