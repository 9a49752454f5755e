// Topology test driver: runs three shape comparisons and reports through its exit status.
// Prints nothing when every test passes; a failed expectation prints a message and both shapes.
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <Message_ProgressRange.hxx>

#include <cmath>
#include <iostream>
#include <string>

namespace {

TopoDS_Shape makeBox(const gp_Pnt &corner1, const gp_Pnt &corner2) {
  BRepPrimAPI_MakeBox maker(corner1, corner2);
  maker.Build(Message_ProgressRange());
  return maker.Shape();
}

TopoDS_Shape makeSphere(const gp_Pnt &center, double radius) {
  BRepPrimAPI_MakeSphere maker(center, radius);
  maker.Build(Message_ProgressRange());
  return maker.Shape();
}

// The read's outcome is deliberately not checked: a missing asset leaves a null shape, which the
// comparison reports as a failed test.
TopoDS_Shape readAsset(const char *name, BRep_Builder &builder) {
  TopoDS_Shape shape;
  const std::string path = std::string(NIMBO_TESTS_DIR) + "/topology/assets/" + name;
  BRepTools::Read(shape, path.c_str(), builder, Message_ProgressRange());
  return shape;
}

void report(const char *message, const TopoDS_Shape &first, const TopoDS_Shape &second) {
  std::cout << message;
  BRepTools::Dump(first, std::cout);
  BRepTools::Dump(second, std::cout);
}

bool testEqualBoxes() {
  const TopoDS_Shape box_1 = makeBox(gp_Pnt(0.1, 0.1, 0.1), gp_Pnt(100000, 200000, 300000));
  const TopoDS_Shape box_2 = makeBox(gp_Pnt(0, 0, 0), gp_Pnt(100000.1, 200000.1, 300000.1));
  const char *message = "Boxes 1 and 2 should be considered equal, but they are not:\n";
  if (!areShapesEqual(box_1, box_2)) {
    report(message, box_1, box_2);
    return false;
  }
  if (!areShapesEqual(box_2, box_1)) {
    report(message, box_2, box_1);
    return false;
  }
  return true;
}

bool testSphereAndCubeDistinct() {
  // Radius of the sphere of volume 1: the cube's volume, centred like the cube.
  const TopoDS_Shape sphere = makeSphere(gp_Pnt(0, 0, 0), std::pow(0.23873241463784303, 0.3333333333333333));
  const TopoDS_Shape box = makeBox(gp_Pnt(-0.5, -0.5, -0.5), gp_Pnt(0.5, 0.5, 0.5));
  const char *message = "Shapes should be considered distinct, but they are not:\n";
  if (areShapesEqual(sphere, box)) {
    report(message, sphere, box);
    return false;
  }
  if (areShapesEqual(box, sphere)) {
    report(message, box, sphere);
    return false;
  }
  return true;
}

bool testEqualImportedShapes() {
  BRep_Builder b;
  const TopoDS_Shape face1 = readAsset("shaft_small_face_1.brep", b);
  BRep_Builder b2;
  const TopoDS_Shape face2 = readAsset("shaft_small_face_2.brep", b2);
  const char *message = "Shapes should be considered equal, but they are not:\n";
  if (!areShapesEqual(face1, face2) || !areShapesEqual(face2, face1)) {
    report(message, face1, face2);
    return false;
  }
  return true;
}

}  // namespace

int main() {
  bool passed = true;
  passed = testEqualBoxes() && passed;
  passed = testSphereAndCubeDistinct() && passed;
  passed = testEqualImportedShapes() && passed;
  return passed ? 0 : 1;
}
