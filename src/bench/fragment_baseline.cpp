// The whole-process baseline of `nimbo-shape imprint`, and the generated assemblies as files, for
// scripts/bench-processes.py:
//   nimbo_fragment_baseline FILE OUT.brep   Gmsh reads FILE, fragments every volume, writes OUT.brep
//   nimbo_fragment_baseline --grids DIR     writes the benchmarks' grids into DIR (BREP, which both
//                                           read in a fraction of a STEP file's time)
#include "bench_assemblies.h"

#include <nimbo/assembly/Assembly.h>

#include <gmsh.h>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>

#include <cstdio>
#include <exception>
#include <string>

namespace {

void writeGrids(const std::string &folder) {
  const auto write = [&](const std::vector<nimbo::Part> &parts, const std::string &name) {
    nimbo::Assembly assembly;
    assembly.parts = parts;
    nimbo::writeAssembly(assembly, folder + "/" + name);
  };
  write(nimbo::bench::blockGrid(10), "blocks_1000.brep");
  write(nimbo::bench::touchingGrid(3), "touching_27.brep");
  write(nimbo::bench::touchingGrid(10), "touching_1000.brep");
}

void fragment(const std::string &file, const std::string &output) {
  gmsh::initialize(0, nullptr, false);
  gmsh::option::setNumber("General.Terminal", 0);
  gmsh::vectorpair imported;
  gmsh::model::occ::importShapes(file, imported);
  gmsh::vectorpair volumes;
  for (const auto &entity : imported) {
    if (entity.first == 3) volumes.push_back(entity);
  }
  gmsh::vectorpair out;
  std::vector<gmsh::vectorpair> map;
  gmsh::model::occ::fragment(volumes, {}, out, map);
  gmsh::model::occ::synchronize();
  gmsh::write(output);
  gmsh::finalize();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE OUT.brep | --grids DIR\n", argv[0]);
    return 2;
  }
  // The kernel's transfer statistics, a screenful for every part written, are of no use here.
  Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
  try {
    if (std::string(argv[1]) == "--grids") {
      writeGrids(argv[2]);
    } else {
      fragment(argv[1], argv[2]);
    }
  } catch (const std::exception &error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return 0;
}
