// diff: which parts of one revision are unchanged, moved, modified or removed in the next.
#include "shape_files.h"
#include "subcommand.h"
#include "terminal_progress.h"

#include <nimbo/html/Html.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

struct Options {
  std::string before;
  std::string after;
  std::string html;
};

// "before -> after", or the path once when it kept it.
std::string pathText(const json &change) {
  return change["before"] == change["after"] ? textOf(change["after"])
                                             : textOf(change["before"]) + " -> " + textOf(change["after"]);
}

void printDiff(const json &report, std::ostream &out) {
  Rows rows;
  for (const json &m : report["renamed"]) rows.push_back({"renamed", pathText(m), ""});
  for (const json &m : report["moved"]) {
    // Seven digits, rounding noise on a zero component read as 0.
    std::string how = "by " + cellOf(m["translation"], pointOf(m["translation"]).Distance(gp_Pnt()));
    if (m["angle"].get<double>() > 0) {
      how += ", turned " + cellOf(m["angle"], 1.0) + " deg about " + cellOf(m["axis"], 1.0);
    }
    rows.push_back({"moved", pathText(m), how});
  }
  for (const json &m : report["modified"]) {
    rows.push_back({"modified", pathText(m),
                    "volume " + textOf(m["volume_before"]) + " -> " + textOf(m["volume_after"]) + ", added " +
                        textOf(m["added"]) + ", removed " + textOf(m["removed"])});
  }
  for (const json &path : report["added"]) rows.push_back({"added", textOf(path), ""});
  for (const json &path : report["removed"]) rows.push_back({"removed", textOf(path), ""});
  printRows(rows, out);
  if (!rows.empty()) out << '\n';
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "%zu unchanged (%zu renamed), %zu moved, %zu modified, %zu added, %zu removed, %.2f s",
                report["unchanged"].size(), report["renamed"].size(), report["moved"].size(), report["modified"].size(),
                report["added"].size(), report["removed"].size(), report["seconds"].get<double>());
  out << summary << '\n';
}

Outcome diffFiles(const Options &options) {
  if (!options.html.empty()) {
    checkExtension(options.html, ".html", "--html writes a web page (.html)");
    about("--html", [&] { nimbo::checkPageCanBeWritten(options.html); });
  }
  const auto started = std::chrono::steady_clock::now();
  // Each revision alone: its paths are its own, without a file name in front.
  const nimbo::Assembly old = readParts({options.before}, OnTerminal(readingLabel({options.before})));
  // One file given twice is read once: its parts are then the very same shapes, equal as they stand.
  std::error_code unknown;
  const nimbo::Assembly now = std::filesystem::equivalent(options.before, options.after, unknown)
                                  ? old
                                  : readParts({options.after}, OnTerminal(readingLabel({options.after})));
  const nimbo::AssemblyDiff diff = about(options.before + " and " + options.after, [&] {
    const Handle(TerminalProgress) progress = TerminalProgress::forStandardError("Comparing");
    return nimbo::diffAssemblies(old.parts, now.parts, Message_ProgressIndicator::Start(progress));
  });
  if (!options.html.empty()) {
    about(options.before + " and " + options.after, [&] {
      const std::string title = "diff " + options.before + " " + options.after;
      nimbo::writePage(nimbo::diffPage(old.parts, now.parts, diff, title), options.html);
    });
  }
  return {diffReport(options.before, options.after, old.parts, now.parts, diff, secondsSince(started)), printDiff,
          textOnlyKeys::diff, diff.changed() ? 1 : 0};
}

std::function<Plan()> defineDiff(CLI::App &command, const CommonOptions &) {
  auto options = std::make_shared<Options>();
  command.add_option("BEFORE", options->before, "The earlier revision")->required();
  command.add_option("AFTER", options->after, "The later revision")->required();
  command.add_option(
      "--html", options->html,
      "Also write a 3D page (.html) of AFTER coloured by change, with BEFORE's moved and removed parts as "
      "ghosts");
  return [options] {
    return Plan{options->before + " and " + options->after, [options] { return diffFiles(*options); }, {options->html}};
  };
}

}  // namespace

extern const Subcommand diff_command{
    "diff", "Which parts of BEFORE are unchanged, moved, modified or removed in AFTER, and which were added", nullptr,
    defineDiff};
