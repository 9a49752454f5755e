// The GetDP problem: one nodal (Form0) formulation for the three physics, which differ only in
// their constants. Fixed boundaries are groups of nodes whose value is a global quantity; its dual
// is the boundary's exact integrated flow, the reaction of the discrete system.
#include "Problem.h"

#include <nimbo/nimbo_exception.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace nimbo::detail {
namespace {

// Always with a point or an exponent: GetDP reads digits alone as an integer, which overflows past
// 2^31 (a heat source of 6e15 W/m^3 became a sink).
std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  std::string written = text;
  if (written.find_first_of(".eEn") == std::string::npos) written += ".0";
  return written;
}

std::string partRegion(std::size_t k) { return "Part_" + std::to_string(k + 1); }
std::string boundaryRegion(std::size_t k) { return "Boundary_" + std::to_string(k + 1); }

// Keeps a name readable inside a comment or an Echo string.
std::string plain(const std::string &text) {
  std::string out;
  for (const char c : text) out += (c == '"' || c == '\n' || c == '\r' || c == '\\') ? '_' : c;
  return out;
}

std::string regionList(const std::vector<std::string> &names) {
  std::string list;
  for (const std::string &name : names) list += (list.empty() ? "" : ", ") + name;
  return "Region[{" + list + "}]";
}

const char *conditionText(Physics physics, const Boundary &boundary) {
  switch (boundary.condition) {
    case Condition::fixed:
      return physics == Physics::heat ? "temperature, degC" : "potential, V";
    case Condition::flux:
      return physics == Physics::heat ? "inflow, W/m^2" : physics == Physics::current ? "inflow, A/m^2" : "surface charge, C/m^2";
    case Condition::convection:
      return "convection: h in W/(m^2 K), ambient in degC";
    case Condition::displacement:
    case Condition::force:
    case Condition::pressure:
      break;  // structural: never a GetDP problem
  }
  return "";
}

// Heat spread over the part's volume as meshed (in m^3), so that exactly the power asked for goes in;
// 0 for none.
double densityOf(const SolvePart &part) { return part.power != 0 ? part.power / (part.volume * 1e-9) : 0.0; }

}  // namespace

std::string problemText(const SetUp &setUp, bool pos) {
  const Study &study = setUp.study;
  const std::vector<SolvePart> &parts = setUp.parts;
  const std::vector<SolveBoundary> &boundaries = setUp.boundaries;
  const std::string &meshName = setUp.meshName;
  const Physics physics = study.physics;
  const char *field = physics == Physics::heat ? "temperature (degC)" : "electric potential (V)";
  std::ostringstream pro;
  pro << "// " << plain(study.file) << ": " << toString(physics) << ", steady state; the field is the " << field
      << ".\n"
      << "// Written by nimbo. The mesh (" << meshName << ") is in metres, every other figure in SI units.\n"
      << "// To solve again, in this folder:  getdp " << meshName.substr(0, meshName.rfind('.'))
      << ".pro -solve Solve -pos Post\n\n";

  std::vector<std::string> domain, heated, fixed, flux, convection;
  pro << "Group {\n";
  for (std::size_t k = 0; k < parts.size(); ++k) {
    pro << "  " << partRegion(k) << " = Region[" << parts[k].physical << "];  // " << plain(parts[k].path) << ": "
        << plain(nameOf(*parts[k].material)) << "\n";
    domain.push_back(partRegion(k));
    if (densityOf(parts[k]) != 0) heated.push_back(partRegion(k));
  }
  for (std::size_t k = 0; k < boundaries.size(); ++k) {
    const Boundary &boundary = *boundaries[k].boundary;
    pro << "  " << boundaryRegion(k) << " = Region[" << boundaries[k].physical << "];  // " << plain(boundary.name)
        << ": " << conditionText(physics, boundary) << "\n";
    (boundary.condition == Condition::fixed  ? fixed
     : boundary.condition == Condition::flux ? flux
                                             : convection)
        .push_back(boundaryRegion(k));
  }
  pro << "  Domain = " << regionList(domain) << ";\n"
      << "  Heated = " << regionList(heated) << ";      // parts with a heat source\n"
      << "  Fixed = " << regionList(fixed) << ";       // boundaries of fixed value\n"
      << "  Flux = " << regionList(flux) << ";\n"
      << "  Convection = " << regionList(convection) << ";\n"
      << "  Model = Region[{Domain, Fixed, Flux, Convection}];\n"
      << "}\n\n";

  pro << "Function {\n";
  if (physics == Physics::electrostatic) pro << "  eps0 = 8.8541878128e-12;  // F/m\n";
  for (std::size_t k = 0; k < parts.size(); ++k) {
    pro << "  k[" << partRegion(k) << "] = ";
    if (physics == Physics::electrostatic) {
      pro << "eps0 * " << number(parts[k].material->value) << ";  // relative permittivity " << number(parts[k].material->value) << "\n";
    } else {
      pro << number(parts[k].material->value) << ";  // " << (physics == Physics::heat ? "W/(m K)" : "S/m") << "\n";
    }
    if (densityOf(parts[k]) != 0) pro << "  q[" << partRegion(k) << "] = " << number(densityOf(parts[k])) << ";  // W/m^3\n";
  }
  for (std::size_t k = 0; k < boundaries.size(); ++k) {
    const Boundary &boundary = *boundaries[k].boundary;
    if (boundary.condition == Condition::flux) {
      pro << "  g[" << boundaryRegion(k) << "] = " << number(boundary.value) << ";\n";
    } else if (boundary.condition == Condition::convection) {
      pro << "  h[" << boundaryRegion(k) << "] = " << number(boundary.value) << ";  ambient[" << boundaryRegion(k)
          << "] = " << number(boundary.ambient) << ";\n";
    }
  }
  pro << "}\n\n";

  pro << "Constraint {\n  { Name FixedValue;\n    Case {\n";
  for (std::size_t k = 0; k < boundaries.size(); ++k) {
    if (boundaries[k].boundary->condition != Condition::fixed) continue;
    pro << "      { Region " << boundaryRegion(k) << "; Value " << number(boundaries[k].boundary->value) << "; }\n";
  }
  pro << "    }\n  }\n}\n\n";

  // On a second-order mesh the nodal functions are GetDP's quadratic ones, mid-edge nodes included.
  pro << "FunctionSpace {\n"
         "  { Name H; Type Form0;\n"
         "    BasisFunction {\n"
         "      { Name sn; NameOfCoef un; Function BF_Node; Support Model; Entity NodesOf[All, Not Fixed]; }\n"
         "      { Name sf; NameOfCoef uf; Function BF_GroupOfNodes; Support Model; Entity GroupsOfNodesOf[Fixed]; }\n";
  pro << "    }\n"
         "    GlobalQuantity {\n"
         "      { Name Level; Type AliasOf; NameOfCoef uf; }        // the value of a fixed boundary\n"
         "      { Name Reaction; Type AssociatedWith; NameOfCoef uf; }  // what flows in through it\n"
         "    }\n"
         "    Constraint {\n"
         "      { NameOfCoef Level; EntityType GroupsOfNodesOf; NameOfConstraint FixedValue; }\n"
         "    }\n"
         "  }\n"
         "}\n\n"
         "Jacobian {\n"
         "  { Name Vol; Case { { Region All; Jacobian Vol; } } }\n"
         "  { Name Sur; Case { { Region All; Jacobian Sur; } } }\n"
         "}\n\n"
         "// Exact on linear elements, whose integrands are at most linear in a tetrahedron and quadratic\n"
         "// on a triangle (convection); curved quadratic elements take more.\n"
         "Integration {\n"
         "  { Name Int; Case { { Type Gauss; Case {\n"
         "    { GeoElement Triangle; NumberOfPoints 3; }  { GeoElement Tetrahedron; NumberOfPoints 1; }\n"
         "    { GeoElement Triangle2; NumberOfPoints 6; } { GeoElement Tetrahedron2; NumberOfPoints 15; } } } } }\n"
         "}\n\n";

  // Inflow through the outer surface is k grad(u).n: the weak form's boundary term. Terms whose
  // regions are empty are left out, and with them the constants they would name.
  pro << "Formulation {\n"
         "  { Name Conduction; Type FemEquation;\n"
         "    Quantity {\n"
         "      { Name u; Type Local; NameOfSpace H; }\n"
         "      { Name U; Type Global; NameOfSpace H [Level]; }\n"
         "      { Name I; Type Global; NameOfSpace H [Reaction]; }\n"
         "    }\n"
         "    Equation {\n"
         "      Integral { [ k[] * Dof{d u}, {d u} ]; In Domain; Jacobian Vol; Integration Int; }\n";
  if (!heated.empty()) pro << "      Integral { [ -q[], {u} ]; In Heated; Jacobian Vol; Integration Int; }\n";
  if (!flux.empty()) pro << "      Integral { [ -g[], {u} ]; In Flux; Jacobian Sur; Integration Int; }\n";
  if (!convection.empty()) {
    pro << "      Integral { [ h[] * Dof{u}, {u} ]; In Convection; Jacobian Sur; Integration Int; }\n"
           "      Integral { [ -h[] * ambient[], {u} ]; In Convection; Jacobian Sur; Integration Int; }\n";
  }
  if (!fixed.empty()) pro << "      GlobalTerm { [ -Dof{I}, {U} ]; In Fixed; }\n";
  pro << "    }\n"
         "  }\n"
         "}\n\n"
         "Resolution {\n"
         "  { Name Solve; System { { Name A; NameOfFormulation Conduction; } }\n"
         "    Operation { Generate[A]; Solve[A]; SaveSolution[A]; } }\n"
         "}\n\n"
         "PostProcessing {\n"
         "  { Name Field; NameOfFormulation Conduction;\n"
         "    Quantity {\n"
         "      { Name u; Value { Local { [ {u} ]; In Domain; Jacobian Vol; } } }\n"
         "      { Name volume; Value { Integral { [ 1 ]; In Domain; Jacobian Vol; Integration Int; } } }\n"
         "      { Name integral; Value { Integral { [ {u} ]; In Domain; Jacobian Vol; Integration Int; } } }\n";
  if (!fixed.empty()) pro << "      { Name fixedFlow; Value { Term { [ {I} ]; In Fixed; } } }\n";
  if (!flux.empty()) {
    pro << "      { Name fluxFlow; Value { Integral { [ g[] ]; In Flux; Jacobian Sur; Integration Int; } } }\n";
  }
  if (!convection.empty()) {
    pro << "      { Name convectionFlow; Value { Integral { [ h[] * (ambient[] - {u}) ]; In Convection; Jacobian Sur; "
           "Integration Int; } } }\n";
  }
  if (!heated.empty()) {
    pro << "      { Name power; Value { Integral { [ q[] ]; In Heated; Jacobian Vol; Integration Int; } } }\n";
  }
  pro << "    }\n"
         "  }\n"
         "}\n\n";

  // Each figure is a label line and a "time value" line.
  const auto figure = [&pro](const std::string &label, const std::string &print) {
    pro << "      Echo[ \"" << label << "\", Format Table, File > \"" << figuresName << "\" ];\n"
        << "      Print[ " << print << ", Format Table, File > \"" << figuresName << "\" ];\n";
  };
  // The field is printed once, at the nodes: nimbo takes each part's extremes and the grid from it.
  pro << "PostOperation {\n"
         "  { Name Post; NameOfPostProcessing Field;\n"
         "    Operation {\n";
  if (pos) pro << "      Print[ u, OnElementsOf Domain, File \"" << fieldName << "\", Name \"" << field << "\" ];\n";
  pro << "      Print[ u, OnElementsOf Domain, Format NodeTable, File \"" << nodesName << "\" ];\n"
      << "      Echo[ \"figures of " << plain(study.file) << "\", Format Table, File \"" << figuresName << "\" ];\n";
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::string region = partRegion(k);
    figure("part " + std::to_string(k + 1) + " volume", "volume[" + region + "], OnGlobal");
    figure("part " + std::to_string(k + 1) + " integral", "integral[" + region + "], OnGlobal");
  }
  for (std::size_t k = 0; k < boundaries.size(); ++k) {
    const std::string region = boundaryRegion(k);
    const std::string label = "boundary " + std::to_string(k + 1) + " flow";
    switch (boundaries[k].boundary->condition) {
      case Condition::fixed:
        figure(label, "fixedFlow, OnRegion " + region);
        break;
      case Condition::flux:
        figure(label, "fluxFlow[" + region + "], OnGlobal");
        break;
      case Condition::convection:
        figure(label, "convectionFlow[" + region + "], OnGlobal");
        break;
      case Condition::displacement:
      case Condition::force:
      case Condition::pressure:
        break;
    }
  }
  if (!heated.empty()) figure("power", "power[Heated], OnGlobal");
  pro << "    }\n  }\n}\n";
  return pro.str();
}

}  // namespace nimbo::detail
