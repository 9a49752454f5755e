// check: what in each part keeps it from meshing at the element size asked, and a verdict per part.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/heal/Heal.h>

#include <cstdio>
#include <map>

namespace {

struct Options {
  std::vector<std::string> files;
  nimbo::HealOptions heal;
};

// "2 short edge, 1 sliver": how many findings of each kind, in the order met.
std::string tally(const json &findings) {
  std::vector<std::pair<std::string, int>> counts;
  for (const json &finding : findings) {
    const std::string kind = finding["kind"];
    auto at = std::find_if(counts.begin(), counts.end(), [&](const auto &count) { return count.first == kind; });
    if (at == counts.end()) {
      counts.push_back({kind, 1});
    } else {
      ++at->second;
    }
  }
  std::string text;
  for (const auto &[kind, count] : counts) text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
  return text;
}

// "faces 3,4 edges 12 size 1e-05"
std::string where(const json &finding) {
  std::string text;
  if (!finding["faces"].empty()) text += "faces " + joined(finding["faces"]) + " ";
  if (!finding["edges"].empty()) text += "edges " + joined(finding["edges"]) + " ";
  if (!finding["size"].is_null()) text += "size " + textOf(finding["size"]);
  return text;
}

void printCheck(const json &report, std::ostream &out) {
  Rows rows = {{"part", "verdict", "findings"}};
  std::map<std::string, int> verdicts;
  for (const json &part : report["parts"]) {
    rows.push_back({textOf(part["path"]), textOf(part["verdict"]), tally(part["findings"])});
    ++verdicts[part["verdict"]];
  }
  printRows(rows, out);
  rows = {};
  for (const json &part : report["parts"]) {
    for (const json &finding : part["findings"]) {
      rows.push_back({textOf(part["path"]), textOf(finding["kind"]), where(finding)});
    }
  }
  if (!rows.empty()) {
    out << '\n';
    rows.insert(rows.begin(), {"part", "finding", "where"});
    printRows(rows, out);
  }
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "checked %zu parts against an element size of %s mm: %d ok, %d healable, %d need attention",
                report["parts"].size(), textOf(report["size"]).c_str(), verdicts["ok"], verdicts["healable"],
                verdicts["needs attention"]);
  out << '\n' << summary << '\n';
}

Outcome checkFiles(const Options &options) {
  const nimbo::Assembly read = readParts(options.files, OnTerminal(readingLabel(options.files)));
  const nimbo::Checks checks = about(subjectOf(options.files), [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Checking");
    return nimbo::checkParts(read.parts, options.heal, Message_ProgressIndicator::Start(progress));
  });
  bool ok = true;
  for (const nimbo::PartCheck &check : checks.parts) ok = ok && check.verdict == nimbo::Verdict::ok;
  return {checkReport(options.files, read.parts, checks), printCheck, textOnlyKeys::check, ok ? 0 : 1};
}

std::function<Plan()> defineCheck(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("FILE", options->files, "Shape files, checked together")->required();
  command
      .add_option("--size", options->heal.size,
                  "The element size H to check against, in mm (default: Gmsh's, the diagonal of the parts' box)")
      ->check(CLI::PositiveNumber);
  return [options] { return Plan{workSubject(options->files, "check"), [options] { return checkFiles(*options); }}; };
}

}  // namespace

extern const Subcommand check_command{
    "check", "Check the parts of FILE... for what keeps them from meshing at an element size; exit 1 unless all are ok",
    nullptr, defineCheck};
