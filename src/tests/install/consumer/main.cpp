// Links against the installed package: every installed header compiles on its own, and two boxes
// compare equal. Exit status 0 when they do.
#include <nimbo/crash_dump.h>
#include <nimbo/environment.h>
#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <BRepPrimAPI_MakeBox.hxx>

int main() {
  const TopoDS_Shape box = BRepPrimAPI_MakeBox(1.0, 2.0, 3.0).Shape();
  return areShapesEqual(box, box) && file_name_of("parts/box.step") == "box.step" ? 0 : 1;
}
