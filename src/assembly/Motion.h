// The rigid motion that carries one part onto another, for the revision diff: the figures a part is
// indexed and turned by, the check that a motion carries one part onto the other, and the search
// for the least turn that does. Private to the assembly module.
#pragma once

#include <nimbo/assembly/Assembly.h>

#include <GeomAbs_SurfaceType.hxx>
#include <TopAbs_ShapeEnum.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>
#include <gp_Mat.hxx>
#include <gp_Pnt.hxx>
#include <gp_Trsf.hxx>
#include <gp_Vec.hxx>

#include <cstddef>
#include <optional>
#include <vector>

namespace nimbo::detail {

/// The area of a part's faces of one kind of surface along one direction: the outward normal of
/// planes, the axis (each way) of cylinders, cones, tori and swept surfaces. Unlike the principal
/// axes, these turn with the part even where its moments are equal.
struct Direction {
  GeomAbs_SurfaceType kind;
  gp_Dir direction;
  double area;
};

/// What the index and the motion need of a part: its measure by its dominant type, its centre of
/// mass, the tolerance areShapesEqual puts on that centre, its inertia about that centre in the
/// model's axes with its principal axes and moments, and its directions (those within
/// sameDirection of each other summed) with their total area.
struct Figures {
  TopAbs_ShapeEnum type;
  double measure;
  gp_Pnt center;
  double centerTolerance;
  gp_Mat inertia;
  gp_Vec axes[3];
  double moments[3];
  std::vector<Direction> directions;
  double directedArea;
};

/// The figures of a part's shape.
Figures figuresOf(const TopoDS_Shape &shape);

/// Whether the shapes are equal where they are: areShapesEqual both ways, and their inertia and the
/// directions of their faces agree, which the comparison's box tolerance alone does not see for a
/// part turned a little, or turned about an axis its outline is round about.
bool equalInPlace(const TopoDS_Shape &a, const Figures &aFigures, const TopoDS_Shape &b, const Figures &bFigures);

/// The rigid motion, of least turn, that carries `from` onto `to`, if there is one.
std::optional<gp_Trsf> motionBetween(const TopoDS_Shape &from, const Figures &fromFigures, const TopoDS_Shape &to,
                                     const Figures &toFigures);

/// The motion as the diff reports it: a translation and a turn about an axis through the origin.
Motion motionReport(std::size_t before, std::size_t after, const gp_Trsf &trsf);

}  // namespace nimbo::detail
