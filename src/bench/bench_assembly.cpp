// readAssembly on STEP assemblies of 1, 10 and 100 placed instances of one product, against the
// kernel's XDE reader and a walk over its assembly tree written by hand.
#include <nimbo/assembly/Assembly.h>

#include "assembly_fixtures.h"
#include "test_helpers.h"

#include <benchmark/benchmark.h>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <TDF_LabelSequence.hxx>

#include <map>
#include <string>
#include <vector>

namespace {

/// "rack": `count` instances of the product "pin" (a cylinder), 10 mm apart, each named.
class Racks {
 public:
  static Racks &instance() {
    static Racks racks;
    return racks;
  }

  const std::string &stepFile(int count) {
    auto found = files_.find(count);
    if (found != files_.end()) return found->second;
    nimbo::test::XdeAssembly document;
    const TDF_Label rack = document.assembly("rack");
    const TDF_Label pin = document.product("pin", BRepPrimAPI_MakeCylinder(2, 20).Shape());
    for (int i = 0; i < count; ++i) {
      document.place(rack, pin, nimbo::test::translation(10.0 * (i + 1), 0, 0), "pin_" + std::to_string(i));
    }
    const std::string path = (folder_.path() / ("rack-" + std::to_string(count) + ".step")).string();
    document.writeStep(path);
    return files_.emplace(count, path).first->second;
  }

 private:
  // The translators report every transfer on standard output.
  Racks() { Message::DefaultMessenger()->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream)); }

  nimbo::test::TempDir folder_;
  std::map<int, std::string> files_;
};

int count(const benchmark::State &state) { return static_cast<int>(state.range(0)); }

void BM_ReadAssembly(benchmark::State &state) {
  const std::string &path = Racks::instance().stepFile(count(state));
  for (auto _ : state) benchmark::DoNotOptimize(nimbo::readAssembly(path));
}
BENCHMARK(BM_ReadAssembly)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// A careful caller's own reading: the XDE reader with names and colours, then the placed shapes of
// the components under each free shape, one level deep as this model is.
void BM_ReadAssembly_baseline(benchmark::State &state) {
  const std::string &path = Racks::instance().stepFile(count(state));
  for (auto _ : state) {
    STEPCAFControl_Reader reader;
    reader.SetNameMode(true);
    reader.SetColorMode(true);
    reader.SetLayerMode(false);
    reader.SetPropsMode(false);
    reader.ReadFile(path.c_str());
    Handle(TDocStd_Document) document = new TDocStd_Document("MDTV-XCAF");
    XCAFDoc_DocumentTool::Set(document->Main());
    reader.Transfer(document);
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(document->Main());
    TDF_LabelSequence roots;
    shapes->GetFreeShapes(roots);
    std::vector<TopoDS_Shape> placed;
    for (const TDF_Label &root : roots) {
      TDF_LabelSequence components;
      XCAFDoc_ShapeTool::GetComponents(root, components, false);
      for (const TDF_Label &component : components) {
        TDF_Label product;
        XCAFDoc_ShapeTool::GetReferredShape(component, product);
        placed.push_back(XCAFDoc_ShapeTool::GetShape(product).Moved(XCAFDoc_ShapeTool::GetLocation(component)));
      }
    }
    benchmark::DoNotOptimize(placed);
  }
}
BENCHMARK(BM_ReadAssembly_baseline)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
