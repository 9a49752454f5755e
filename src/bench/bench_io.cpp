// readStep, readIges, writeStep and writeBrep on models of 1, 10 and 100 boxes, against the kernel's
// readers and writers called directly.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "bench_shapes.h"

#include <benchmark/benchmark.h>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepTools.hxx>
#include <IGESControl_Reader.hxx>
#include <IGESControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPControl_Reader.hxx>
#include <STEPControl_Writer.hxx>

#include <map>
#include <set>
#include <stdexcept>
#include <string>

namespace {

/// The models and their STEP and IGES files, written once per process into a folder of their own.
class Models {
 public:
  static Models &instance() {
    static Models models;
    return models;
  }

  /// A row of `count` boxes, meshed so that BREP files carry triangles and normals.
  const TopoDS_Shape &shape(int count) {
    auto found = shapes_.find(count);
    if (found == shapes_.end()) {
      TopoDS_Shape boxes = nimbo::bench::rowOfBoxes(count);
      const BRepMesh_IncrementalMesh mesh(boxes, 0.01);
      found = shapes_.emplace(count, boxes).first;
    }
    return found->second;
  }

  std::string stepFile(int count) {
    const std::string path = file("boxes-" + std::to_string(count) + ".step");
    if (written_.emplace(path).second) {
      STEPControl_Writer writer;
      if (writer.Transfer(shape(count), STEPControl_AsIs) != IFSelect_RetDone ||
          writer.Write(path.c_str()) != IFSelect_RetDone) {
        throw std::runtime_error("Cannot write " + path);
      }
    }
    return path;
  }

  std::string igesFile(int count) {
    const std::string path = file("boxes-" + std::to_string(count) + ".igs");
    if (written_.emplace(path).second) {
      IGESControl_Writer writer("MM", 1);  // B-Rep mode: solids, as readIges requires
      writer.AddShape(shape(count));
      writer.ComputeModel();
      if (!writer.Write(path.c_str())) throw std::runtime_error("Cannot write " + path);
    }
    return path;
  }

  std::string file(const std::string &name) const { return (folder_.path() / name).string(); }

 private:
  // The translators report every transfer on standard output; both sides of each pair would pay
  // for the terminal, and the figures would scroll away among the reports.
  Models() { Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream)); }

  nimbo::test::TempDir folder_;
  std::map<int, TopoDS_Shape> shapes_;
  std::set<std::string> written_;
};

int count(const benchmark::State &state) { return static_cast<int>(state.range(0)); }

void BM_ReadStep(benchmark::State &state) {
  const std::string path = Models::instance().stepFile(count(state));
  for (auto _ : state) benchmark::DoNotOptimize(readStep(path));
}
BENCHMARK(BM_ReadStep)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ReadStep_baseline(benchmark::State &state) {
  const std::string path = Models::instance().stepFile(count(state));
  for (auto _ : state) {
    STEPControl_Reader reader;
    reader.ReadFile(path.c_str());
    Interface_Static::SetIVal("read.step.nonmanifold", 1);
    reader.TransferRoots();
    benchmark::DoNotOptimize(reader.OneShape());
  }
}
BENCHMARK(BM_ReadStep_baseline)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ReadIges(benchmark::State &state) {
  const std::string path = Models::instance().igesFile(count(state));
  for (auto _ : state) benchmark::DoNotOptimize(readIges(path));
}
BENCHMARK(BM_ReadIges)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ReadIges_baseline(benchmark::State &state) {
  const std::string path = Models::instance().igesFile(count(state));
  for (auto _ : state) {
    IGESControl_Reader reader;
    reader.ReadFile(path.c_str());
    reader.TransferRoots();
    benchmark::DoNotOptimize(reader.OneShape());
  }
}
BENCHMARK(BM_ReadIges_baseline)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_WriteStep(benchmark::State &state) {
  const TopoDS_Shape &shape = Models::instance().shape(count(state));
  const std::string path = Models::instance().file("written.step");
  for (auto _ : state) writeStep(shape, path);
}
BENCHMARK(BM_WriteStep)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_WriteStep_baseline(benchmark::State &state) {
  const TopoDS_Shape &shape = Models::instance().shape(count(state));
  const std::string path = Models::instance().file("written.step");
  for (auto _ : state) {
    STEPControl_Writer writer;
    writer.Transfer(shape, STEPControl_AsIs);
    benchmark::DoNotOptimize(writer.Write(path.c_str()));
  }
}
BENCHMARK(BM_WriteStep_baseline)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_WriteBrep(benchmark::State &state) {
  const TopoDS_Shape &shape = Models::instance().shape(count(state));
  const std::string path = Models::instance().file("written.brep");
  for (auto _ : state) writeBrep(shape, path);
}
BENCHMARK(BM_WriteBrep)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_WriteBrep_baseline(benchmark::State &state) {
  const TopoDS_Shape &shape = Models::instance().shape(count(state));
  const std::string path = Models::instance().file("written.brep");
  for (auto _ : state) {
    benchmark::DoNotOptimize(BRepTools::Write(shape, path.c_str(), true, true, TopTools_FormatVersion_VERSION_1));
  }
}
BENCHMARK(BM_WriteBrep_baseline)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
