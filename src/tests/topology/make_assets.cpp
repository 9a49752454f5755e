// Writes the repository's model files, run by hand when they need to change.
//
//   make_topology_assets <folder>            the driver's two BREP assets
//   make_topology_assets --samples <folder>  the sample models that come with nimbo-shape
//
// The driver's assets are shaft_small_face_1.brep and shaft_small_face_2.brep, the half cross-section
// of a stepped shaft in the XY plane (radius along X, axis along Y). Both faces cover the same region;
// the second one's boundary is split into more edges and starts at another corner, so the two differ
// in topology only. The samples repeat them beside solid parts in millimetres, axes along Y as well:
// a flanged shaft in STEP and IGES, and a bearing ring that sits around the shaft with 2 mm of
// radial clearance. The sample assembly is a bolted joint in STEP: a plate with two L-brackets
// bolted onto it, each bracket with two bolts and two nuts.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "assembly_fixtures.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <IGESControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Solid.hxx>
#include <gp_Ax1.hxx>
#include <gp_Ax2.hxx>

#include <cmath>
#include <exception>
#include <initializer_list>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

TopoDS_Face planarFace(std::initializer_list<gp_Pnt> corners) {
  BRepBuilderAPI_MakePolygon polygon;
  for (const gp_Pnt &corner : corners) polygon.Add(corner);
  polygon.Close();
  return BRepBuilderAPI_MakeFace(polygon.Wire(), true).Face();
}

// Steps of radius 10, 6 and 8 over an axial length of 120.
TopoDS_Face shaftFace1() {
  return planarFace(
      {{0, 0, 0}, {10, 0, 0}, {10, 40, 0}, {6, 40, 0}, {6, 100, 0}, {8, 100, 0}, {8, 120, 0}, {0, 120, 0}});
}

TopoDS_Face shaftFace2() {
  return planarFace({{10, 40, 0},
                     {8, 40, 0},
                     {6, 40, 0},
                     {6, 70, 0},
                     {6, 100, 0},
                     {8, 100, 0},
                     {8, 120, 0},
                     {4, 120, 0},
                     {0, 120, 0},
                     {0, 60, 0},
                     {0, 0, 0},
                     {5, 0, 0},
                     {10, 0, 0},
                     {10, 20, 0}});
}

const gp_Ax1 y_axis(gp_Pnt(0, 0, 0), gp_Dir(0, 1, 0));

TopoDS_Shape revolvedAboutY(const TopoDS_Face &profile) {
  return BRepPrimAPI_MakeRevol(profile, y_axis, 2 * M_PI).Shape();
}

// The one solid of a Boolean result, which comes wrapped in a compound.
TopoDS_Solid onlySolid(const TopoDS_Shape &shape) {
  TopExp_Explorer solids(shape, TopAbs_SOLID);
  if (!solids.More()) throw std::runtime_error("the Boolean operation left no solid");
  return TopoDS::Solid(solids.Current());
}

// A flange of radius 30 and thickness 10 at Y = 0 on a shaft of radius 10 up to Y = 100, with four
// bolt holes of radius 3 on a pitch circle of radius 22: volume 17640 pi mm^3.
TopoDS_Solid flangedShaft() {
  const TopoDS_Shape body =
      revolvedAboutY(planarFace({{0, 0, 0}, {30, 0, 0}, {30, 10, 0}, {10, 10, 0}, {10, 100, 0}, {0, 100, 0}}));
  TopoDS_Compound holes;
  BRep_Builder builder;
  builder.MakeCompound(holes);
  for (const gp_Pnt &centre : {gp_Pnt(22, -1, 0), gp_Pnt(0, -1, 22), gp_Pnt(-22, -1, 0), gp_Pnt(0, -1, -22)}) {
    builder.Add(holes, BRepPrimAPI_MakeCylinder(gp_Ax2(centre, gp_Dir(0, 1, 0)), 3, 12).Shape());
  }
  BRepAlgoAPI_Cut cut(body, holes);
  if (!cut.IsDone()) throw std::runtime_error("cutting the bolt holes failed");
  return onlySolid(cut.Shape());
}

// Radii 12 to 20 from Y = 40 to Y = 55: around the shaft, touching nothing.
TopoDS_Shape bearingRing() { return revolvedAboutY(planarFace({{12, 40, 0}, {20, 40, 0}, {20, 55, 0}, {12, 55, 0}})); }

TopoDS_Solid cut(const TopoDS_Shape &body, const TopoDS_Shape &tool) {
  BRepAlgoAPI_Cut cutter(body, tool);
  if (!cutter.IsDone()) throw std::runtime_error("cutting a hole failed");
  return onlySolid(cutter.Shape());
}

// Vertical holes of radius `radius` through z from -1 to `height` + 1 at the given (x, y).
TopoDS_Shape verticalHoles(std::initializer_list<gp_Pnt> centres, double radius, double height) {
  TopoDS_Compound holes;
  BRep_Builder builder;
  builder.MakeCompound(holes);
  for (const gp_Pnt &centre : centres) {
    const gp_Pnt bottom(centre.X(), centre.Y(), -1);
    builder.Add(holes, BRepPrimAPI_MakeCylinder(gp_Ax2(bottom, gp_Dir(0, 0, 1)), radius, height + 2).Shape());
  }
  return holes;
}

// The bolted joint's parts, in millimetres. Bolts are M8: shank radius 4 in holes of radius 4.5.
TopoDS_Solid jointPlate() {
  const TopoDS_Shape plate = BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), gp_Pnt(160, 60, 10)).Shape();
  return cut(plate, verticalHoles({{20, 15, 0}, {20, 45, 0}, {140, 15, 0}, {140, 45, 0}}, 4.5, 10));
}

// An L of a flange 40 x 8 on the plate and a web 8 x 50 standing up, 60 long.
TopoDS_Solid jointBracket() {
  const TopoDS_Face profile = planarFace({{0, 0, 0}, {40, 0, 0}, {40, 0, 8}, {8, 0, 8}, {8, 0, 50}, {0, 0, 50}});
  const TopoDS_Shape bracket = BRepPrimAPI_MakePrism(profile, gp_Vec(0, 60, 0)).Shape();
  return cut(bracket, verticalHoles({{20, 15, 0}, {20, 45, 0}}, 4.5, 8));
}

// Head of radius 7 on z 0..5, shank of radius 4 down to z = -30.
TopoDS_Solid jointBolt() {
  const TopoDS_Shape head = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1)), 7, 5).Shape();
  const TopoDS_Shape shank = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, -30), gp_Dir(0, 0, 1)), 4, 30).Shape();
  BRepAlgoAPI_Fuse fuse(head, shank);
  if (!fuse.IsDone()) throw std::runtime_error("fusing the bolt failed");
  return onlySolid(fuse.Shape());
}

// A hexagon 13 across flats, 6 high on z 0..6, bored to the shank's radius.
TopoDS_Solid jointNut() {
  BRepBuilderAPI_MakePolygon hexagon;
  const double circumradius = 6.5 / std::cos(M_PI / 6);
  for (int corner = 0; corner < 6; ++corner) {
    const double angle = corner * M_PI / 3;
    hexagon.Add(gp_Pnt(circumradius * std::cos(angle), circumradius * std::sin(angle), 0));
  }
  hexagon.Close();
  const TopoDS_Face face = BRepBuilderAPI_MakeFace(hexagon.Wire(), true).Face();
  const TopoDS_Shape prism = BRepPrimAPI_MakePrism(face, gp_Vec(0, 0, 6)).Shape();
  return cut(prism, verticalHoles({{0, 0, 0}}, 4, 6));
}

// bolted_joint: the plate, and a bracket assembly placed "left" and, turned half a turn about the
// plate's centre, "right"; each holds the bracket, two bolts through bracket and plate, and two
// nuts under the plate. Bolt and nut instances take their product's name.
void writeBoltedJoint(const std::string &path) {
  nimbo::test::XdeAssembly document;
  const TDF_Label root = document.assembly("bolted_joint");
  const TDF_Label side = document.assembly("bracket_assembly");
  const TDF_Label bolt = document.product("bolt", jointBolt(), 0.85, 0.7, 0.2);
  const TDF_Label nut = document.product("nut", jointNut(), 0.6, 0.6, 0.3);
  document.place(side, document.product("bracket", jointBracket(), 0.2, 0.4, 0.8));
  for (const double y : {15.0, 45.0}) {
    document.place(side, bolt, nimbo::test::translation(20, y, 8));
    document.place(side, nut, nimbo::test::translation(20, y, -16));
  }
  document.place(root, document.product("plate", jointPlate(), 0.6, 0.6, 0.65), gp_Trsf(), "plate");
  document.place(root, side, nimbo::test::translation(0, 0, 10), "left");
  gp_Trsf turn;
  turn.SetRotation(gp_Ax1(gp_Pnt(80, 30, 0), gp_Dir(0, 0, 1)), M_PI);
  document.place(root, side, nimbo::test::translation(0, 0, 10) * turn, "right");
  document.writeStep(path);
}

void writeFace(const TopoDS_Face &face, const std::string &path) {
  if (!BRepTools::Write(face, path.c_str())) throw std::runtime_error("Could not write " + path);
}

void writeIges(const TopoDS_Shape &shape, const std::string &path) {
  IGESControl_Writer writer("MM", 1);  // B-Rep mode: solids, not trimmed surfaces
  writer.AddShape(shape);
  writer.ComputeModel();
  if (!writer.Write(path.c_str())) throw std::runtime_error("Could not write " + path);
}

void writeShaftFaces(const std::string &folder) {
  writeFace(shaftFace1(), folder + "/shaft_small_face_1.brep");
  writeFace(shaftFace2(), folder + "/shaft_small_face_2.brep");
}

void writeSamples(const std::string &folder) {
  writeShaftFaces(folder);
  const TopoDS_Solid shaft = flangedShaft();
  writeStep(shaft, folder + "/flanged_shaft.step");  // the kernel's default STEP unit: millimetres
  writeIges(shaft, folder + "/flanged_shaft.igs");
  writeStep(bearingRing(), folder + "/bearing_ring.step");
  writeBoltedJoint(folder + "/bolted_joint.step");
}

}  // namespace

int main(int argc, char **argv) {
  const std::string usage = "usage: make_topology_assets [--samples] <output folder>\n";
  try {
    if (argc == 2 && std::string(argv[1]) != "--samples") {
      writeShaftFaces(argv[1]);
    } else if (argc == 3 && std::string(argv[1]) == "--samples") {
      writeSamples(argv[2]);
    } else {
      std::cerr << usage;
      return 2;
    }
  } catch (const std::exception &error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  return 0;
}
