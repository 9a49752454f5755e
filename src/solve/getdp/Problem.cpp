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
      return physics == Physics::heat      ? "inflow, W/m^2"
             : physics == Physics::current ? "inflow, A/m^2"
                                           : "surface charge, C/m^2";
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

// The heat sources' density, of which a source that stops is on up to its time (and the rounding of
// the steps' sum) and off after.
std::string sourceDensity(const SolvePart &part) {
  bool stops = false;
  for (const Source &source : part.sources) stops |= source.until.has_value();
  if (!stops) return number(densityOf(part));
  std::string sum;
  for (const Source &source : part.sources) {
    sum += (sum.empty() ? "" : " + ") + number(source.power / (part.volume * 1e-9));
    if (source.until) sum += " * ($Time <= " + number(*source.until * (1 + 1e-9)) + " ? 1 : 0)";
  }
  return sum;
}

}  // namespace

std::string problemText(const SetUp &setUp, bool pos) {
  const Study &study = setUp.study;
  const std::vector<SolvePart> &parts = setUp.parts;
  const std::vector<SolveBoundary> &boundaries = setUp.boundaries;
  const std::string &meshName = setUp.meshName;
  const Physics physics = study.physics;
  const char *field = physics == Physics::heat ? "temperature (degC)" : "electric potential (V)";
  const std::optional<TimeStepping> &time = study.time;
  std::ostringstream pro;
  pro << "// " << plain(study.file) << ": " << toString(physics)
      << (time ? ", over time (theta " + number(time->theta) + ")" : std::string(", steady state"))
      << "; the field is the " << field << ".\n"
      << "// Written by nimbo. The mesh (" << meshName << ") is in metres, every other figure in SI units.\n"
      << "// To solve again, in this folder:  getdp " << meshName.substr(0, meshName.rfind('.')) << ".pro -solve Solve"
      << (time ? "" : " -pos Post") << "\n\n";

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
      pro << "eps0 * " << number(parts[k].material->value) << ";  // relative permittivity "
          << number(parts[k].material->value) << "\n";
    } else {
      pro << number(parts[k].material->value) << ";  // " << (physics == Physics::heat ? "W/(m K)" : "S/m") << "\n";
    }
    if (densityOf(parts[k]) != 0) {
      pro << "  q[" << partRegion(k) << "] = " << sourceDensity(parts[k]) << ";  // W/m^3\n";
    }
    if (time) {
      const Material &material = *parts[k].material;
      pro << "  rc[" << partRegion(k)
          << "] = " << number(material.density.value_or(0) * material.specificHeat.value_or(0))
          << ";  // density times specific heat, J/(m^3 K)\n";
    }
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
  pro << "    }\n  }\n";
  if (time) {
    pro << "  { Name Initial;  // the temperature at time 0\n"
        << "    Case { { Region Domain; Type Init; Value " << number(time->initial) << "; } }\n  }\n";
  }
  pro << "}\n\n";

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
         "      { NameOfCoef Level; EntityType GroupsOfNodesOf; NameOfConstraint FixedValue; }\n";
  if (time) pro << "      { NameOfCoef un; EntityType NodesOf; NameOfConstraint Initial; }\n";
  pro << "    }\n"
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
         "    { GeoElement Triangle2; NumberOfPoints 6; } { GeoElement Tetrahedron2; NumberOfPoints 15; } } } } }\n";
  // The heat capacity's integrand is quadratic even on linear elements: exact, its rows sum to the
  // stored heat, and the energy balance closes.
  if (time) {
    pro << "  { Name Mass; Case { { Type Gauss; Case {\n"
           "    { GeoElement Tetrahedron; NumberOfPoints 4; } { GeoElement Tetrahedron2; NumberOfPoints 15; } } } } "
           "}\n";
  }
  pro << "}\n\n";

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
  if (time) pro << "      Integral { DtDof[ rc[] * Dof{u}, {u} ]; In Domain; Jacobian Vol; Integration Mass; }\n";
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
         "  { Name Solve; System { { Name A; NameOfFormulation Conduction; } }\n";
  if (time) {
    // The flows at every step (the energy balance sums them), the field at the output steps; each
    // step's solution is printed as it is found rather than kept.
    const long steps = stepsIn(time->end, time->step), every = outputStride(*time);
    pro << "    Operation {\n"
           "      InitSolution[A]; PostOperation[Start];\n"
           "      TimeLoopTheta[0, "
        << number(time->end) << ", " << number(time->step) << ", " << number(time->theta)
        << "] {\n"
           "        Generate[A]; Solve[A]; PostOperation[Flows];\n"
           "        Print[ {$TimeStep}, Format \"step %g of "
        << steps << "\" ];  // the progress, read by nimbo\n"
           "        Test[ Fmod[$TimeStep, "
        << every << "] == 0 || $TimeStep == " << steps
        << " ] { PostOperation[Snapshot]; }\n"
           "      }\n"
           "    }\n  }\n";
  } else {
    pro << "    Operation { Generate[A]; Solve[A]; SaveSolution[A]; } }\n";
  }
  pro << "}\n\n"
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
  if (time) {
    pro << "      { Name stored; Value { Integral { [ rc[] * ({u} - " << number(time->initial)
        << ") ]; In Domain; Jacobian Vol; Integration Int; } } }\n";
  }
  pro << "    }\n"
         "  }\n"
         "}\n\n";

  // Each figure is a label line and a "time value" line; over time, the step's only.
  const std::string now = time ? ", LastTimeStepOnly" : "";
  const auto figure = [&now](const std::string &label, const std::string &print) {
    return "      Echo[ \"" + label + "\", Format Table, File > \"" + figuresName + "\" ];\n" + "      Print[ " +
           print + ", Format Table" + now + ", File > \"" + figuresName + "\" ];\n";
  };
  std::string volumes, integrals, flows;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const std::string region = partRegion(k);
    volumes += figure("part " + std::to_string(k + 1) + " volume", "volume[" + region + "], OnGlobal");
    integrals += figure("part " + std::to_string(k + 1) + " integral", "integral[" + region + "], OnGlobal");
  }
  for (std::size_t k = 0; k < boundaries.size(); ++k) {
    const std::string region = boundaryRegion(k);
    const std::string label = "boundary " + std::to_string(k + 1) + " flow";
    switch (boundaries[k].boundary->condition) {
      case Condition::fixed:
        flows += figure(label, "fixedFlow, OnRegion " + region);
        break;
      case Condition::flux:
        flows += figure(label, "fluxFlow[" + region + "], OnGlobal");
        break;
      case Condition::convection:
        flows += figure(label, "convectionFlow[" + region + "], OnGlobal");
        break;
      case Condition::displacement:
      case Condition::force:
      case Condition::pressure:
        break;
    }
  }
  if (!heated.empty()) flows += figure("power", "power[Heated], OnGlobal");
  const std::string stored = time ? figure("stored", "stored[Domain], OnGlobal") : "";
  const auto operation = [&pro](const char *name, const std::string &operations) {
    pro << "  { Name " << name << "; NameOfPostProcessing Field;\n    Operation {\n" << operations << "    }\n  }\n";
  };
  // The field is printed once, at the nodes: nimbo takes each part's extremes and the grid from it.
  pro << "PostOperation {\n";
  if (time) {
    // Every step's flows, which the energy balance sums, cost little; the field, the means and the
    // stored heat (a pass over every element each) only at the output steps. Each snapshot is
    // appended to one file.
    std::string snapshot;
    if (pos) {
      snapshot += "      Print[ u, OnElementsOf Domain, LastTimeStepOnly, File > \"" + std::string(fieldName) +
                  "\", Name \"" + field + "\" ];\n";
    }
    snapshot += "      Print[ u, OnElementsOf Domain, Format NodeTable, LastTimeStepOnly, File > \"" +
                std::string(snapshotsName) + "\" ];\n";
    operation("Start", volumes + integrals + stored + flows);
    operation("Flows", flows);
    operation("Snapshot", snapshot + integrals + stored);
  } else {
    std::string post;
    if (pos)
      post +=
          "      Print[ u, OnElementsOf Domain, File \"" + std::string(fieldName) + "\", Name \"" + field + "\" ];\n";
    post += "      Print[ u, OnElementsOf Domain, Format NodeTable, File \"" + std::string(nodesName) + "\" ];\n" +
            "      Echo[ \"figures of " + plain(study.file) + "\", Format Table, File \"" + figuresName + "\" ];\n";
    operation("Post", post + volumes + integrals + flows);
  }
  pro << "}\n";
  return pro.str();
}

}  // namespace nimbo::detail
