// Links against the installed package: two boxes compare equal, and a box written as BREP reads
// back as an assembly of one solid part. Exit status 0 when all holds. (The project beside this
// file compiles every installed header on its own.)
#include <nimbo/assembly/Assembly.h>
#include <nimbo/environment.h>
#include <nimbo/topology/ShapeAlgorithms.h>

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
