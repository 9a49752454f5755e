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
// radial clearance.
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
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
