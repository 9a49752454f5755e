// Links against the installed package: every installed header compiles on its own, two boxes
// compare equal, and a box written as BREP reads back as an assembly of one solid part. Exit
// status 0 when all holds.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/crash_dump.h>
#include <nimbo/environment.h>
#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>
#include <nimbo/render/Render.h>
#include <nimbo/topology/ShapeAlgorithms.h>
#if __has_include(<nimbo/mesh/Mesh.h>)  // installed where Gmsh is
#include <nimbo/mesh/Mesh.h>
#endif

#include <BRepPrimAPI_MakeBox.hxx>

#include <cstdio>
#include <string>

int main() {
  const TopoDS_Shape box = BRepPrimAPI_MakeBox(1.0, 2.0, 3.0).Shape();
  const std::string file = "consumer_box.brep";
  writeBrep(box, file);
  const nimbo::Assembly assembly = nimbo::readAssembly(file);
  std::remove(file.c_str());
  const bool one_part = assembly.parts.size() == 1 && assembly.parts[0].path == "solid_1";
  return areShapesEqual(box, box) && file_name_of("parts/box.step") == "box.step" && one_part ? 0 : 1;
}
