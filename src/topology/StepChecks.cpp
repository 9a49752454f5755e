// Whether a STEP read can be trusted. The kernel drops what its parser rejects and goes on: a
// solid whose entities are missing vanishes without a word. Yet real files draw complaints about
// annotations (presentation text, fonts, descriptions) that no shape needs, and refusing those
// loses good geometry. So each complaint is judged by what it could have cost the shapes.
#include <nimbo/environment.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include <Interface_Check.hxx>
#include <Interface_CheckIterator.hxx>
#include <STEPControl_Reader.hxx>
#include <StepBasic_MeasureWithUnit.hxx>
#include <StepBasic_NamedUnit.hxx>
#include <StepBasic_Product.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepBasic_ProductDefinitionFormation.hxx>
#include <StepData_StepModel.hxx>
#include <StepGeom_GeometricRepresentationItem.hxx>
#include <StepRepr_ItemDefinedTransformation.hxx>
#include <StepRepr_MappedItem.hxx>
#include <StepRepr_ProductDefinitionShape.hxx>
#include <StepRepr_HArray1OfRepresentationItem.hxx>
#include <StepRepr_ProductDefinitionUsage.hxx>
#include <StepRepr_RepresentationContext.hxx>
#include <StepRepr_RepresentationItem.hxx>
#include <StepRepr_RepresentationMap.hxx>
#include <StepRepr_Representation.hxx>
#include <StepRepr_RepresentationRelationship.hxx>
#include <StepShape_ContextDependentShapeRepresentation.hxx>
#include <StepShape_ManifoldSolidBrep.hxx>
#include <StepShape_ShapeDefinitionRepresentation.hxx>
#include <StepShape_ShapeDimensionRepresentation.hxx>
#include <StepShape_ShapeRepresentation.hxx>
#include <StepShape_TopologicalRepresentationItem.hxx>
#include <TopoDS_Shape.hxx>
#include <TransferBRep.hxx>
#include <Transfer_TransientProcess.hxx>
#include <XSControl_TransferReader.hxx>
#include <XSControl_WorkSession.hxx>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace nimbo {
namespace {

bool startsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

// Geometry and topology items: points, curves, surfaces, placements, vertices to solids. Text
// literals and other annotations derive from the geometric item too; their classes say otherwise.
bool isShapeItem(const Handle(Standard_Transient) & entity) {
  const std::string type = entity->DynamicType()->Name();
  const bool shapeClass = startsWith(type, "StepGeom_") || startsWith(type, "StepShape_");
  return shapeClass && (entity->IsKind(STANDARD_TYPE(StepGeom_GeometricRepresentationItem)) ||
                        entity->IsKind(STANDARD_TYPE(StepShape_TopologicalRepresentationItem)));
}

// What holds, places or scales the shape items: shape representations and their contexts (the
// units), the relations and transformations that place one in another, and the product structure.
bool isShapeStructure(const Handle(Standard_Transient) & entity) {
  if (entity->IsKind(STANDARD_TYPE(StepShape_ShapeRepresentation))) {
    return !entity->IsKind(STANDARD_TYPE(StepShape_ShapeDimensionRepresentation));  // a dimension
  }
  for (const Handle(Standard_Type) &type :
       {STANDARD_TYPE(StepRepr_RepresentationContext), STANDARD_TYPE(StepRepr_RepresentationRelationship),
        STANDARD_TYPE(StepRepr_ItemDefinedTransformation), STANDARD_TYPE(StepRepr_MappedItem),
        STANDARD_TYPE(StepRepr_RepresentationMap), STANDARD_TYPE(StepShape_ShapeDefinitionRepresentation),
        STANDARD_TYPE(StepShape_ContextDependentShapeRepresentation),
        STANDARD_TYPE(StepRepr_ProductDefinitionShape), STANDARD_TYPE(StepRepr_ProductDefinitionUsage),
        STANDARD_TYPE(StepBasic_Product), STANDARD_TYPE(StepBasic_ProductDefinition),
        STANDARD_TYPE(StepBasic_ProductDefinitionFormation), STANDARD_TYPE(StepBasic_NamedUnit),
        STANDARD_TYPE(StepBasic_MeasureWithUnit)}) {
    if (entity->IsKind(type)) return true;
  }
  return false;
}

bool shapesNeed(const Handle(Standard_Transient) & entity) { return isShapeItem(entity) || isShapeStructure(entity); }

// The parameter a parser message names: "Parameter n0.2 (description) absent" gives
// "description", "(representation.items)" gives "items".
std::string parameterOf(const std::string &message) {
  const std::size_t open = message.find('(');
  const std::size_t close = message.find(')', open);
  if (open == std::string::npos || close == std::string::npos) return "";
  const std::string name = message.substr(open + 1, close - open - 1);
  return name.substr(name.rfind('.') + 1);
}

// Names and descriptions are text for people; a shape reads the same without them.
bool isText(const std::string &parameter) {
  return parameter == "name" || parameter == "description" || parameter == "id";
}

// The entity labels `#n` that the record of entity `label` refers to, read from the file's text:
// what the parser dropped is no longer in the model to ask.
std::vector<int> referencesInRecord(const std::string &text, int label) {
  const std::string key = "#" + std::to_string(label);
  for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    std::size_t next = at + key.size();
    if (next < text.size() && std::isdigit(static_cast<unsigned char>(text[next]))) continue;
    while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next]))) ++next;
    if (next >= text.size() || text[next] != '=') continue;
    std::vector<int> references;
    for (std::size_t i = next + 1; i < text.size() && text[i] != ';'; ++i) {
      if (text[i] == '\'') {  // a string; '' is a quote inside it
        for (++i; i < text.size() && !(text[i] == '\'' && (i + 1 >= text.size() || text[i + 1] != '\'')); ++i) {
          if (text[i] == '\'') ++i;
        }
      } else if (text[i] == '#') {
        std::size_t end = i + 1;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
        if (end > i + 1) references.push_back(std::stoi(text.substr(i + 1, end - i - 1)));
        i = end - 1;
      }
    }
    return references;
  }
  return {};
}

std::string fileText(const char *path) {
  std::ifstream file(path == nullptr ? "" : path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The parser's complaints, judged: the first that may have cost a shape, and the STEP types of
// the entities whose complaints cost none.
struct Complaints {
  std::optional<std::string> damage;
  std::map<std::string, int> harmless;
};

// The entries of a representation's record in `text` that the parsed representation lost: what
// its record refers to beside the items and the context that it kept.
std::vector<int> lostItems(const Handle(StepData_StepModel) & model, const std::string &text,
                           const Handle(StepRepr_Representation) & representation) {
  std::set<int> kept;
  if (!representation->ContextOfItems().IsNull()) kept.insert(model->IdentLabel(representation->ContextOfItems()));
  if (const Handle(StepRepr_HArray1OfRepresentationItem) &items = representation->Items(); !items.IsNull()) {
    for (const Handle(StepRepr_RepresentationItem) &item : items->Array1()) {
      if (!item.IsNull()) kept.insert(model->IdentLabel(item));
    }
  }
  std::vector<int> lost;
  for (const int label : referencesInRecord(text, model->IdentLabel(representation))) {
    if (!kept.count(label)) lost.push_back(label);
  }
  return lost;
}

Complaints judge(const STEPControl_Reader &reader) {
  Complaints complaints;
  const Handle(StepData_StepModel) model = Handle(StepData_StepModel)::DownCast(reader.Model());
  if (model.IsNull()) return complaints;
  std::string text;  // read only when a complaint needs it
  const auto costsShapes = [&](const Handle(Standard_Transient) & entity, const std::string &message) {
    if (!shapesNeed(entity)) return false;
    if (isText(parameterOf(message))) return false;
    if (isShapeItem(entity)) return true;
    // A representation whose items held something that cannot be an item (an annotation of a type
    // the parser does not know): harmless unless what it lost is itself something shapes need.
    const Handle(StepRepr_Representation) representation = Handle(StepRepr_Representation)::DownCast(entity);
    if (representation.IsNull() || message.find("illegal type") == std::string::npos) return true;
    if (text.empty()) text = fileText(reader.WS()->LoadedFile());
    const std::vector<int> lost = lostItems(model, text, representation);
    return lost.empty() || std::any_of(lost.begin(), lost.end(), [&](int label) {
             const int number = model->NextNumberForLabel(("#" + std::to_string(label)).c_str());
             return number < 1 || shapesNeed(model->Value(number));
           });
  };
  Interface_CheckIterator checks = reader.WS()->ModelCheckList(true);
  for (checks.Start(); checks.More() && !complaints.damage; checks.Next()) {
    const Handle(Interface_Check) &check = checks.Value();
    if (check->NbFails() == 0) continue;
    const int number = checks.Number();
    // A complaint about the file as a whole (a reference to an entity it does not hold).
    if (number < 1 || number > model->NbEntities()) {
      complaints.damage = check->CFail(1);
      continue;
    }
    const Handle(Standard_Transient) entity = model->Value(number);
    for (int k = 1; k <= check->NbFails() && !complaints.damage; ++k) {
      if (costsShapes(entity, check->CFail(k))) {
        complaints.damage = std::string(check->CFail(k)) + " (entity #" + std::to_string(model->IdentLabel(entity)) +
                            ", " + reader.WS()->SignValue(reader.WS()->SignType(), entity) + ")";
      }
    }
    if (!complaints.damage) ++complaints.harmless[reader.WS()->SignValue(reader.WS()->SignType(), entity)];
  }
  return complaints;
}

}  // namespace

std::optional<std::string> stepReadProblem(const STEPControl_Reader &reader) {
  const Handle(StepData_StepModel) model = Handle(StepData_StepModel)::DownCast(reader.Model());
  if (model.IsNull()) return std::nullopt;
  if (const std::optional<std::string> damage = judge(reader).damage) return "is damaged: " + *damage;
  const Handle(Transfer_TransientProcess) process = reader.WS()->TransferReader()->TransientProcess();
  if (process.IsNull()) return std::nullopt;
  for (int i = 1; i <= model->NbEntities(); ++i) {
    if (Handle(StepShape_ManifoldSolidBrep)::DownCast(model->Value(i)).IsNull()) continue;
    const TopoDS_Shape shape = TransferBRep::ShapeResult(process, model->Value(i));
    if (shape.IsNull()) continue;  // not asked for: no root reaches it
    if (shape.ShapeType() != TopAbs_SOLID && shape.ShapeType() != TopAbs_COMPOUND) {
      return "is damaged: solid entity #" + std::to_string(model->IdentLabel(model->Value(i))) + " became a " +
             shapeTypeName(shape.ShapeType());
    }
  }
  return std::nullopt;
}

std::optional<std::string> stepReadWarning(const STEPControl_Reader &reader) {
  const Complaints complaints = judge(reader);
  if (complaints.damage || complaints.harmless.empty()) return std::nullopt;
  int count = 0;
  std::string types;
  for (const auto &[type, entities] : complaints.harmless) {
    count += entities;
    types += (types.empty() ? "" : ", ") + (entities > 1 ? std::to_string(entities) + " " : "") + type;
  }
  return "the parser rejected parameters of " + std::to_string(count) + (count > 1 ? " entities" : " entity") +
         " that no shape needs (" + types + "); read without them";
}

}  // namespace nimbo
