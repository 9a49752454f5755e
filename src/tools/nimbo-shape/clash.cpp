// clash: which parts of the assemblies in the files overlap, touch or come close.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/html/Html.h>
#include <nimbo/render/Render.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

struct Options {
  std::vector<std::string> files;
  nimbo::InterferenceOptions interference;
  std::string svg;
  std::string html;
  bool contacts = false;
};

// Grey parts, overlapping ones outlined in red with their common region filled, and with
// `contacts` the touching ones and their shared faces in blue.
void drawClash(const nimbo::Assembly &read, const nimbo::Interferences &found, const Options &options) {
  const nimbo::Color grey{0.6, 0.6, 0.6}, red{0.86, 0.08, 0.08}, blue{0.1, 0.35, 0.85};
  const auto pairName = [&](const nimbo::PartPair &pair, const char *between) {
    return read.parts[pair.first].path + between + read.parts[pair.second].path;
  };
  std::vector<nimbo::Color> stroke(read.parts.size(), grey);
  if (options.contacts) {
    for (const nimbo::Contact &c : found.contacts) stroke[c.first] = stroke[c.second] = blue;
  }
  for (const nimbo::Overlap &o : found.overlaps) stroke[o.first] = stroke[o.second] = red;
  std::vector<nimbo::RenderItem> items;
  for (std::size_t i = 0; i < read.parts.size(); ++i)
    items.push_back({read.parts[i].shape, {stroke[i], std::nullopt, ""}});
  for (const nimbo::Overlap &o : found.overlaps) items.push_back({o.region, {red, red, pairName(o, " x ")}});
  if (options.contacts) {
    for (const nimbo::Contact &c : found.contacts) {
      if (!c.faces.IsNull()) items.push_back({c.faces, {blue, blue, pairName(c, " | ")}});
    }
  }
  writeTextFile(about(options.svg, [&] { return nimbo::renderSvg(items, nimbo::viewNamed("iso")); }), options.svg);
}

void printClash(const json &report, std::ostream &out) {
  Rows rows;
  for (const json &o : report["overlaps"]) {
    rows.push_back({"overlap", textOf(o["first"]), textOf(o["second"]), "volume " + textOf(o["volume"])});
  }
  for (const json &c : report["contacts"]) {
    std::string figure = textOf(c["kind"]);
    if (c["kind"] == "face") figure += ", area " + textOf(c["area"]);
    rows.push_back({"contact", textOf(c["first"]), textOf(c["second"]), figure});
  }
  for (const json &c : report["clearances"]) {
    rows.push_back({"clearance", textOf(c["first"]), textOf(c["second"]),
                    "distance " + textOf(c["distance"]) + " between " + textOf(c["points"][0]) + " and " +
                        textOf(c["points"][1])});
  }
  for (const json &f : report["failures"]) {
    rows.push_back({"failure", textOf(f["first"]), textOf(f["second"]), textOf(f["message"])});
  }
  for (const json &path : report["skipped"]) {
    rows.push_back({"skipped", textOf(path), "", "holds no solid, or more than solids"});
  }
  printRows(rows, out);
  if (!rows.empty()) out << '\n';
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "%zu parts, %zu pairs, %zu reached exact geometry: %zu overlaps, %zu contacts, %zu clearances, "
                "%zu failures, %.2f s",
                report["parts"].get<std::size_t>(), report["pairs"].get<std::size_t>(),
                report["candidates"].get<std::size_t>(), report["overlaps"].size(), report["contacts"].size(),
                report["clearances"].size(), report["failures"].size(), report["seconds"].get<double>());
  out << summary << '\n';
}

Outcome clashOf(const Options &options) {
  if (!options.svg.empty()) checkExtension(options.svg, ".svg", "drawings are written as SVG (.svg)");
  if (!options.html.empty()) {
    checkExtension(options.html, ".html", "--html writes a web page (.html)");
    about("--html", [&] { nimbo::checkPageCanBeWritten(options.html); });
  }
  const auto started = std::chrono::steady_clock::now();
  const nimbo::Assembly read = readParts(options.files, OnTerminal(readingLabel(options.files)));
  const nimbo::Interferences found = about(subjectOf(options.files), [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Checking pairs");
    return nimbo::findInterferences(read.parts, options.interference, Message_ProgressIndicator::Start(progress));
  });
  if (!options.svg.empty()) drawClash(read, found, options);
  if (!options.html.empty()) {
    about(subjectOf(options.files), [&] {
      nimbo::writePage(nimbo::clashPage(read.parts, found, "clash " + subjectOf(options.files)), options.html);
    });
  }
  const double seconds = secondsSince(started);
  const std::string warning = found.checked() ? ""
                                              : "no pair could be checked: " + std::to_string(found.skipped.size()) +
                                                    " parts hold no solid, or more than solids (exit status 1)";
  return {clashReport(options.files, read.parts, found, seconds), printClash, textOnlyKeys::clash,
          found.clean() ? 0 : 1, warning};
}

std::function<Plan()> defineClash(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, checked together")->required();
  command
      .add_option("--clearance", options->interference.clearance,
                  "Also report parts closer than this, in mm (default: none)")
      ->check(CLI::NonNegativeNumber);
  command
      .add_option("--contact-tolerance", options->interference.contactTolerance,
                  "Parts this close touch, in mm (default: 1e-6 of the assembly's box diagonal)")
      ->check(CLI::NonNegativeNumber);
  command
      .add_option("--min-overlap", options->interference.minimumOverlap,
                  "Common volume above this overlaps, in mm^3 (default: 1e-6 of the smaller part's volume)")
      ->check(CLI::NonNegativeNumber);
  command
      .add_option("--threads", options->interference.threads, "Pairs examined at once (default: the number of cores)")
      ->check(CLI::PositiveNumber);
  command.add_option("--svg", options->svg,
                     "Also draw the parts there, overlapping ones in red with their common region");
  command.add_option("--html", options->html,
                     "Also write a 3D page (.html): overlaps in red, contacts in blue, a row per finding");
  command.add_flag("--contacts", options->contacts, "In the drawing, touching parts and their shared faces in blue");
  return [options] {
    return Plan{
        workSubject(options->files, "clash"), [options] { return clashOf(*options); }, {options->svg, options->html}};
  };
}

}  // namespace

extern const Subcommand clash_command{
    "clash", "Which parts of the assemblies in FILE... overlap, touch or come close (exit 0 none overlap, 1 some)",
    nullptr, defineClash};
