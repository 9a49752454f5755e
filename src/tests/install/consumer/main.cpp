// Links against the installed package and compares two boxes; exit status 0 when they are equal.
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepPrimAPI_MakeBox.hxx>

int main() {
  const TopoDS_Shape box = BRepPrimAPI_MakeBox(1.0, 2.0, 3.0).Shape();
  return areShapesEqual(box, box) ? 0 : 1;
}
