// Private helpers shared by the implementation files of the shape library; not installed.
#pragma once

#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

namespace nimbo::detail {

/// The mass properties that measure a shape of the given dominant type: volume for TopAbs_SOLID,
/// area for TopAbs_FACE, length for anything else. Every optional flag is off.
GProp_GProps measureProperties(const TopoDS_Shape &shape, TopAbs_ShapeEnum dominantType);

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
