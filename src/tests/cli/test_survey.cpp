// A survey of bad input: files derived from the samples and the shared CAD files by damage of the
// kinds downloads, transfers and hand edits cause (truncation, flipped bytes, lost or repeated
// lines, numbers out of range), and a few things that are no CAD file at all, given to every
// subcommand. Each call must end within its limit with 0 (the file still read), 1 (a clean "no")
// or 2 and one line naming the file: never a crash, never a hang, never an output file or a
// temporary left behind.
//
// NIMBO_SHAPE_UNDER_TEST=<tool> surveys another build of the tool, one file per call and without
// limits, to measure what it did before; the figures are printed either way.
#include "test_helpers.h"
#include "tool_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <functional>
#include <iomanip>
#include <iostream>
#include <limits>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using nimbo::test::readText;
using nimbo::test::runTool;
using nimbo::test::ToolRun;
using nimbo::test::writeText;

namespace {

// Past this size a shared file costs the survey more time than it adds kinds of damage; the samples
// are taken whatever their size.
constexpr std::uintmax_t largest_shared_source = 50 * 1024;
constexpr double tool_limit = 3.0;   // --timeout given to the tool: a sound small file reads in well under 1 s
constexpr double limit_grace = 5.0;  // the tool's start-up and clean-up around its worker, on a busy machine
// Coarse for every source (the largest solid is 19 cm across): the curvature sets most element
// sizes, and a part that damage made huge meets the time limit instead.
constexpr double mesh_size = 20.0;

// A call still running then is a hang the tool did not contain.
double harnessLimit() { return std::getenv("NIMBO_SHAPE_UNDER_TEST") != nullptr ? 10.0 : 30.0; }

std::vector<std::string> linesOf(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines) text += line + "\n";
  return text;
}

using Damage = std::function<std::string(const std::string &, std::mt19937 &)>;

Damage truncatedAt(double fraction) {
  return [fraction](const std::string &text, std::mt19937 &) {
    return text.substr(0, static_cast<std::size_t>(fraction * static_cast<double>(text.size())));
  };
}

std::string bytesFlipped(const std::string &text, std::mt19937 &random) {
  std::string damaged = text;
  for (int i = 0; i < 8 && !damaged.empty(); ++i) {
    damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
  }
  return damaged;
}

Damage linesChanged(bool duplicate) {
  return [duplicate](const std::string &text, std::mt19937 &random) {
    std::vector<std::string> lines = linesOf(text);
    for (int i = 0; i < 3 && lines.size() > 1; ++i) {
      const std::size_t at = random() % lines.size();
      if (duplicate) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), lines[at]);
      } else {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    return joined(lines);
  };
}

// Five numbers of the file, chosen at random, replaced by `replacement`.
Damage numbersReplacedBy(const std::string &replacement) {
  return [replacement](const std::string &text, std::mt19937 &random) {
    static const std::regex number(R"([-+]?[0-9]+\.[0-9]*([eE][-+]?[0-9]+)?)");
    std::vector<std::pair<std::size_t, std::size_t>> found;
    for (auto match = std::sregex_iterator(text.begin(), text.end(), number); match != std::sregex_iterator();
         ++match) {
      found.emplace_back(match->position(), match->length());
    }
    std::vector<std::pair<std::size_t, std::size_t>> chosen;
    for (int i = 0; i < 5 && !found.empty(); ++i) chosen.push_back(found[random() % found.size()]);
    std::sort(chosen.rbegin(), chosen.rend());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    std::string damaged = text;
    for (const auto &[position, length] : chosen) damaged.replace(position, length, replacement);
    return damaged;
  };
}

const std::vector<std::pair<std::string, Damage>> damages = {
    {"cut10", truncatedAt(0.1)},
    {"cut50", truncatedAt(0.5)},
    {"cut90", truncatedAt(0.9)},
    {"flip1", bytesFlipped},
    {"flip2", bytesFlipped},
    {"lost1", linesChanged(false)},
    {"lost2", linesChanged(false)},
    {"twice", linesChanged(true)},
    {"huge", numbersReplacedBy("1.E308")},
    {"tiny", numbersReplacedBy("1.E-308")},
    {"nan", numbersReplacedBy("NaN")},
    {"text", numbersReplacedBy("abc")},
};

std::vector<fs::path> sourcesIn(const fs::path &folder, std::uintmax_t largest) {
  std::vector<fs::path> sources;
  if (!fs::is_directory(folder)) return sources;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
    const std::string extension = entry.path().extension().string();
    // Manifests and studies beside the shape files are not shape files.
    if (extension == ".tsv" || extension == ".yaml" || !entry.is_regular_file() || entry.file_size() > largest) continue;
    sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  return sources;
}

// Writes every damaged form of every source into `folder`; returns the files.
std::vector<fs::path> damagedFiles(const std::vector<fs::path> &sources, const fs::path &folder) {
  std::mt19937 random(20261208);
  std::vector<fs::path> files;
  for (const fs::path &source : sources) {
    const std::string text = readText(source);
    for (const auto &[name, damage] : damages) {
      const fs::path file = folder / (source.stem().string() + "." + name + source.extension().string());
      writeText(file, damage(text, random));
      files.push_back(file);
    }
  }
  return files;
}

// How the calls of one subcommand ended; each call counts once.
struct Tally {
  int calls = 0;
  int read = 0;     // 0 or 1: the file was still read
  int refused = 0;  // 2 and the tool's reason
  int limits = 0;   // 2: the time or memory limit ended it, and the tool said so
  int faults = 0;   // 2: a crash the tool contained and reported
  int escaped = 0;  // crashes and hangs that took the tool down, and statuses it does not have
  double seconds = 0;

  void count(int status, const std::string &problem, double took = 0) {
    ++calls;
    seconds += took;
    const auto says = [&](const char *text) { return problem.find(text) != std::string::npos; };
    if (status == 0 || status == 1) {
      ++read;
    } else if (status != 2) {
      ++escaped;
    } else if (says("gave up after") || says("ran out of memory")) {
      ++limits;
    } else if (says("crashed") || says("was killed") || says("ended without a report")) {
      ++faults;
    } else {
      ++refused;
    }
  }
};

bool legacy() { return std::getenv("NIMBO_SHAPE_UNDER_TEST") != nullptr; }

std::vector<std::string> withLimits(std::vector<std::string> args) {
  if (!legacy()) {
    args.push_back("--timeout");
    args.push_back(std::to_string(static_cast<int>(tool_limit)));
  }
  return args;
}

// One call about one input: the exit status is one the command has, and a failure is one line that
// names the input.
void checkCall(const ToolRun &run, const std::string &input, bool answers_no, Tally &tally) {
  tally.count(run.status, run.err, run.seconds);
  SCOPED_TRACE(input);
  EXPECT_NE(run.status, -1) << "crashed: " << run.err;
  EXPECT_NE(run.status, -2) << "hung";
  if (!legacy()) {
    EXPECT_LT(run.seconds, tool_limit + limit_grace) << "ran past its --timeout: " << run.err;
  }
  EXPECT_TRUE(run.status == 0 || run.status == 2 || (answers_no && run.status == 1)) << run.status << run.err;
  if (run.status == 2) {
    // A folder is a batch of what it holds, which ends with the batch's summary line.
    const bool batch = fs::is_directory(input) && run.err.find("\nnimbo-shape: 1 files, ") != std::string::npos;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), batch ? 2 : 1) << run.err;
    EXPECT_EQ(run.err.rfind("nimbo-shape: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(fs::path(input).filename().string()), std::string::npos) << run.err;
  }
}

const std::vector<std::string> single_file_commands = {"stats",   "parts",    "check",    "clash",
                                                       "compare", "overlap",  "distance", "convert"};
// The commands that do the most with a file that still reads; a damaged file goes through one of
// them in turn beside its turn above.
const std::vector<std::string> heavy_commands = {"imprint", "heal", "mesh", "diff", "render"};

// Whether the tool has the subcommand: its help lists mesh only when it was built with Gmsh, and
// an older build lacks the later commands.
bool offered(const std::string &help, const std::string &command) {
  return help.find("\n  " + command + " ") != std::string::npos;
}

// The file a subcommand writes into `folder`; empty for those that only report.
fs::path outputOf(const std::string &command, const fs::path &folder) {
  static const std::map<std::string, std::string> names = {
      {"convert", "converted.brep"}, {"imprint", "imprinted.brep"}, {"heal", "healed.step"}, {"mesh", "meshed.msh"}, {"render", "drawing.svg"}};
  const auto found = names.find(command);
  return found == names.end() ? fs::path() : folder / found->second;
}

// A tool that predates the assembly commands gets `stats` instead.
bool assemblyCommand(const std::string &command) { return command == "parts" || command == "clash" || command == "check"; }

// One subcommand on one input: alone, beside a good file, or (diff) after the file it was made
// from. The output folder then holds the output of a call that succeeded and nothing else: no
// output of a failure, no temporary.
void surveyCall(const std::string &command, const fs::path &input, const fs::path &original, const fs::path &good,
                const fs::path &work, Tally &tally) {
  const std::string file = input.string();
  const fs::path folder = work / "out";
  const fs::path out = outputOf(command, folder);
  std::vector<std::string> args = {command};
  if (command == "diff") args.push_back(original.string());
  args.push_back(file);
  if (command == "stats" || command == "parts") args.push_back("--json");
  if (command == "compare" || command == "overlap" || command == "distance") args.push_back(good.string());
  if (command == "convert") {
    args.push_back(out.string());
  } else if (!out.empty()) {
    args.insert(args.end(), {"-o", out.string()});
  }
  if (command == "mesh") args.insert(args.end(), {"--size", std::to_string(mesh_size)});
  args = withLimits(args);
  std::string line = "nimbo-shape";
  for (const std::string &arg : args) line += " " + arg;
  SCOPED_TRACE(line);
  const ToolRun run = runTool(args, work, {}, harnessLimit());
  const bool answers_no = command == "compare" || command == "overlap" || command == "clash" || command == "diff" ||
                          command == "check" || command == "heal";
  checkCall(run, file, answers_no, tally);
  std::vector<std::string> left;
  for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
    left.push_back(entry.path().filename().string());
  }
  // heal writes what it healed even where some part still needs attention.
  const bool written = (run.status == 0 || (command == "heal" && run.status == 1)) && !out.empty();
  EXPECT_EQ(left, written ? std::vector<std::string>{out.filename().string()} : std::vector<std::string>{});
  for (const std::string &name : left) fs::remove_all(folder / name);
}

// Batch runs over the whole folder: one JSON line per file in order, each with "file".
void surveyBatch(const fs::path &folder, std::size_t files, const fs::path &work,
                 std::map<std::string, Tally> &tallies) {
  for (const std::string command : {"stats", "parts"}) {
    SCOPED_TRACE(command);
    Tally &tally = tallies[command + " batch"];
    const ToolRun run = runTool(withLimits({command, "--json", "--jobs", "2", folder.string()}), work, {}, 600);
    tally.seconds += run.seconds;
    EXPECT_EQ(run.status, 2);  // some files are refused
    EXPECT_NE(run.status, -2) << "the batch hung";
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), files);
    std::string previous;
    for (const std::string &line : lines) {
      const nlohmann::json row = nlohmann::json::parse(line);
      tally.count(row.contains("error") ? 2 : 0, row.value("error", ""));
      EXPECT_GT(row.at("file").get<std::string>(), previous);
      previous = row["file"].get<std::string>();
    }
    EXPECT_NE(run.err.find(std::to_string(files) + " files, "), std::string::npos) << run.err;
  }
}

// The process dumps in a folder: what the tool's contained crashes and failures left there.
std::size_t dumpsIn(const fs::path &folder) {
  std::error_code ignored;
  std::size_t count = 0;
  for (fs::directory_iterator entry(folder, ignored), end; entry != end; entry.increment(ignored)) {
    if (entry->path().extension() == ".dmp") ++count;
  }
  return count;
}

// The figures of each subcommand, a line each, in `order`.
void printFigures(const std::map<std::string, Tally> &tallies, const std::vector<std::string> &order) {
  const auto row = [](const std::string &command, const std::vector<std::string> &cells) {
    std::cout << "survey: " << std::left << std::setw(12) << command << std::right;
    for (const std::string &cell : cells) std::cout << std::setw(8) << cell;
    std::cout << "\n";
  };
  row("command", {"inputs", "read", "refused", "limits", "crashes", "escaped", "seconds"});
  for (const std::string &command : order) {
    const auto found = tallies.find(command);
    if (found == tallies.end()) continue;
    const Tally &t = found->second;
    std::ostringstream seconds;
    seconds << std::fixed << std::setprecision(1) << t.seconds;
    row(command, {std::to_string(t.calls), std::to_string(t.read), std::to_string(t.refused), std::to_string(t.limits),
                  std::to_string(t.faults), std::to_string(t.escaped), seconds.str()});
  }
}

}  // namespace

TEST(BadInputSurvey, EveryCommandEndsCleanlyOnDamagedAndOddFiles) {
#ifdef NIMBO_SANITIZED
  GTEST_SKIP() << "the survey checks the release tool; the sanitizer build runs the tool's other tests";
#endif
  nimbo::test::TempDir dir;
  const fs::path damaged = dir.path() / "damaged";
  const fs::path odd = dir.path() / "odd";
  const fs::path work = dir.path() / "work";
  for (const fs::path &folder : {damaged, odd, work, work / "out"}) fs::create_directories(folder);
  const fs::path good = fs::path(NIMBO_SAMPLES_DIR) / "flanged_shaft.step";

  std::vector<fs::path> sources = sourcesIn(NIMBO_SAMPLES_DIR, std::numeric_limits<std::uintmax_t>::max());
  const std::vector<fs::path> shared = sourcesIn(NIMBO_SHARED_CAD_DIR, largest_shared_source);
  sources.insert(sources.end(), shared.begin(), shared.end());
  const std::vector<fs::path> files = damagedFiles(sources, damaged);

  writeText(odd / "empty.step", "");
  fs::create_directory(odd / "folder.step");
  ASSERT_EQ(mkfifo((odd / "pipe.step").c_str(), 0600), 0);
  fs::copy_file(good, odd / "locked.step");
  fs::permissions(odd / "locked.step", fs::perms::none);  // still readable when the tests run as root
  fs::copy_file(good, odd / "caf\xe9.step");              // Latin-1, not UTF-8
  std::vector<fs::path> odd_files;
  for (const fs::directory_entry &entry : fs::directory_iterator(odd)) odd_files.push_back(entry.path());

  const std::string help = runTool({"--help"}, work).out;

  // The odd inputs go through every subcommand (diff after the good file they copy); the damaged
  // ones through one each in turn, and through stats and parts in one batch each.
  std::map<std::string, Tally> tallies;
  for (const fs::path &input : odd_files) {
    for (const std::string &command : single_file_commands) {
      if (!(legacy() && assemblyCommand(command))) surveyCall(command, input, good, good, work, tallies[command]);
    }
    for (const std::string &command : heavy_commands) {
      if (offered(help, command)) surveyCall(command, input, good, good, work, tallies[command]);
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::size_t source = i / damages.size();
    const std::string &command = single_file_commands[i % single_file_commands.size()];
    const std::string light = legacy() && assemblyCommand(command) ? "stats" : command;
    surveyCall(light, files[i], sources[source], good, work, tallies[light]);
    // The heavy commands take one damaged file in three: each source goes through each of them
    // once, and as the turn shifts with the source, twelve sources give each every kind of damage.
    if ((i + source) % 3 != 0) continue;
    const std::string &next = heavy_commands[(i / 3 + source) % heavy_commands.size()];
    if (offered(help, next)) surveyCall(next, files[i], sources[source], good, work, tallies[next]);
  }
  if (!legacy()) surveyBatch(damaged, files.size(), work, tallies);
  fs::permissions(odd / "locked.step", fs::perms::owner_all);

  std::cout << "survey: " << files.size() + odd_files.size() << " inputs (" << files.size() << " damaged from "
            << sources.size() << " files, " << odd_files.size() << " odd), "
            << (legacy() ? std::string("calls without limits")
                         : "each call limited to " + std::to_string(static_cast<int>(tool_limit)) + " s")
            << "\n";
  std::vector<std::string> order = single_file_commands;
  order.insert(order.end(), heavy_commands.begin(), heavy_commands.end());
  order.insert(order.end(), {"stats batch", "parts batch"});
  printFigures(tallies, order);
  std::cout << "survey: dumps left " << dumpsIn(work / "nimbo") << "\n";
  for (const std::string &command : heavy_commands) {
    if (!offered(help, command)) std::cout << "survey: " << command << " skipped: the tool does not offer it\n";
  }
  int escaped = 0;
  for (const auto &[command, tally] : tallies) escaped += tally.escaped;
  EXPECT_EQ(escaped, 0);
}
