// Writes the driver's two BREP assets into the folder given as the only argument:
// shaft_small_face_1.brep and shaft_small_face_2.brep, the half cross-section of a stepped shaft in
// the XY plane (radius along X, axis along Y). Both faces cover the same region; the second one's
// boundary is split into more edges and starts at another corner, so the two differ in topology only.
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepTools.hxx>
#include <TopoDS_Face.hxx>

#include <initializer_list>
#include <iostream>
#include <string>

namespace {

TopoDS_Face planarFace(std::initializer_list<gp_Pnt> corners) {
  BRepBuilderAPI_MakePolygon polygon;
  for (const gp_Pnt &corner : corners) polygon.Add(corner);
  polygon.Close();
  return BRepBuilderAPI_MakeFace(polygon.Wire(), true).Face();
}

bool write(const TopoDS_Face &face, const std::string &path) {
  if (BRepTools::Write(face, path.c_str())) return true;
  std::cerr << "Could not write " << path << "\n";
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "usage: make_topology_assets <output folder>\n";
    return 2;
  }
  const std::string folder = argv[1];
  // Steps of radius 10, 6 and 8 over an axial length of 120.
  const TopoDS_Face face1 = planarFace({{0, 0, 0}, {10, 0, 0}, {10, 40, 0}, {6, 40, 0}, {6, 100, 0}, {8, 100, 0},
                                        {8, 120, 0}, {0, 120, 0}});
  const TopoDS_Face face2 = planarFace({{10, 40, 0}, {8, 40, 0}, {6, 40, 0}, {6, 70, 0}, {6, 100, 0}, {8, 100, 0},
                                        {8, 120, 0}, {4, 120, 0}, {0, 120, 0}, {0, 60, 0}, {0, 0, 0}, {5, 0, 0},
                                        {10, 0, 0}, {10, 20, 0}});
  const bool ok = write(face1, folder + "/shaft_small_face_1.brep") && write(face2, folder + "/shaft_small_face_2.brep");
  return ok ? 0 : 1;
}
