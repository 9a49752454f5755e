// nimbo-shape: the shape library's jobs on CAD files, from the command line.
//
// Exit status: 0 for success (and for "equal" and "overlap"), 1 for "not equal" and "no overlap",
// 2 for a usage error or a failure, which is reported as one line on standard error.
//
// Every job on a file runs in a worker process of its own: a crash of the CAD kernel on a damaged
// file, a hang or a runaway allocation ends that job with a one-line error, never the tool.
#include "commands.h"
#include "console.h"
#include "isolation.h"
#include "report.h"
#include "shape_files.h"
#include "terminal_progress.h"

#include <nimbo/crash_dump.h>

#include <CLI/CLI.hpp>

#include <unistd.h>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
  bool json = false;
  bool verbose = false;
  std::vector<std::string> files;  ///< stats and parts
  std::string first;
  std::string second;
  double scale = 1.0;
  int jobs = 0;
  double timeout = 300.0;
  std::string max_memory;
  // clash; NaN leaves the library's default
  double clearance = 0.0;
  double contact_tolerance = std::nan("");
  double min_overlap = std::nan("");
  int threads = 0;
  // imprint
  std::string output;
  bool assign_overlaps = false;
  double fuzzy = 0.0;
  std::string glue = "off";
  // render
  std::string view = "iso";
  std::string svg;  // clash, compare
  bool contacts = false;
  std::string page = "800x600";
  bool hidden = false;
  bool exact = false;
  double exact_limit = 60.0;
  // mesh
  double size = 0.0;
  int order = 1;
};

nimbo::ImprintOptions imprintOptionsOf(const Options &options) {
  nimbo::ImprintOptions imprint;
  imprint.assignOverlaps = options.assign_overlaps;
  imprint.fuzzy = options.fuzzy;
  imprint.glue = options.glue == "shift"  ? nimbo::Glue::shift
                 : options.glue == "full" ? nimbo::Glue::full
                                          : nimbo::Glue::off;
  return imprint;
}

nimbo::InterferenceOptions interferenceOptionsOf(const Options &options) {
  nimbo::InterferenceOptions interference;
  interference.clearance = options.clearance;
  if (!std::isnan(options.contact_tolerance)) interference.contactTolerance = options.contact_tolerance;
  if (!std::isnan(options.min_overlap)) interference.minimumOverlap = options.min_overlap;
  interference.threads = options.threads;
  return interference;
}

void addOutputFlags(CLI::App &command, Options &options) {
  command.add_flag("--json", options.json, "Print one JSON object instead of text (JSON Lines for several files)");
  command.add_flag("--verbose", options.verbose, "Show the CAD kernel's messages and log records on standard error");
}

void addLimitOptions(CLI::App &command, Options &options) {
  command.add_option("--timeout", options.timeout, "Seconds a file may take before it is given up (default 300)");
  command.add_option("--max-memory", options.max_memory,
                     "Memory a file's worker may take, as 512M or 8G (default: half the machine's)");
}

// A whole object for one file, as before; one line each when several files make JSON Lines.
template <typename Report>
void print(const Report &report, bool json, bool one_line, std::ostream &out) {
  const auto replace = nlohmann::ordered_json::error_handler_t::replace;  // names need not be UTF-8
  if (json) {
    out << toJson(report).dump(one_line ? -1 : 2, ' ', false, replace) << '\n';
  } else {
    printText(report, out);
  }
}

// Messages may span lines (the IGES refusal does); the tool's error is one line.
std::string oneLine(const std::string &text) {
  std::string line;
  for (const char c : text) {
    const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

int fail(const std::string &subject, const std::string &problem) {
  std::cerr << "nimbo-shape: " << subject << ": " << oneLine(problem) << std::endl;
  return 2;
}

// A report that never reached its reader (a full disk, a closed pipe) is no success.
void flushReport(std::ostream &out) {
  if (!out.flush()) throw tool_error("standard output", "the report could not be written");
}

WorkLimits limitsOf(const Options &options) {
  WorkLimits limits;
  limits.seconds = options.timeout;
  limits.memory_bytes = options.max_memory.empty() ? defaultMemoryLimit() : parseByteSize(options.max_memory);
  return limits;
}

// One job in a worker: its report, or its problem as the one error line.
int runOne(const Work &work, const WorkLimits &limits, std::ostream &out) {
  int status = 2;
  runIsolated({work}, 1, limits, [&](std::size_t, const WorkResult &result) {
    out << result.output;
    status = result.status == 2 ? fail(result.subject, result.problem) : result.status;
  });
  flushReport(out);
  return status;
}

// "<done>/<total> files" on standard error while a batch runs, when that is a terminal.
class BatchProgress {
 public:
  explicit BatchProgress(std::size_t total) : total_(total), shown_(isatty(STDERR_FILENO) != 0) {}
  ~BatchProgress() {
    if (shown_ && width_ > 0) std::fprintf(stderr, "\r%*s\r", width_, "");
  }
  BatchProgress(const BatchProgress &) = delete;
  BatchProgress &operator=(const BatchProgress &) = delete;
  void done(std::size_t count) {
    if (shown_) width_ = std::fprintf(stderr, "\r%zu/%zu files", count, total_) - 1;
  }

 private:
  std::size_t total_;
  bool shown_;
  int width_ = 0;
};

// Many files: every file's report in input order (one JSON line each with --json), a failed file's
// problem on standard error and, with --json, as {"file", "error"}; a summary at the end.
template <typename Report>
int runBatch(const std::vector<std::string> &files, Report (*reportOf)(const std::string &), const Options &options,
             std::ostream &out) {
  const auto started = std::chrono::steady_clock::now();
  // Workers must not draw their own progress lines over one another.
  TerminalProgress::setEnabled(false);
  std::vector<Work> work;
  for (const std::string &file : files) {
    work.push_back({file, [file, reportOf, &options](std::ostream &report) {
                      print(reportOf(file), options.json, true, report);
                      return 0;
                    }});
  }
  const int jobs =
      options.jobs > 0 ? options.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::size_t failed = 0;
  {
    BatchProgress progress(files.size());
    runIsolated(work, jobs, limitsOf(options), [&](std::size_t i, const WorkResult &result) {
      if (result.status == 2) {
        ++failed;
        fail(files[i], result.problem);
        if (options.json) {
          out << nlohmann::ordered_json({{"file", files[i]}, {"error", oneLine(result.problem)}})
                     .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
        }
      } else {
        if (!options.json && i > 0) out << '\n';
        out << result.output;
      }
      flushReport(out);
      progress.done(i + 1);
    });
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  char summary[160];
  std::snprintf(summary, sizeof summary, "nimbo-shape: %zu files, %zu succeeded, %zu failed, %.1f s", files.size(),
                files.size() - failed, failed, seconds);
  std::cerr << summary << std::endl;
  return failed == 0 ? 0 : 2;
}

// One file as before, several files or a folder as a batch.
template <typename Report>
int runFiles(Report (*reportOf)(const std::string &), const Options &options, std::ostream &out) {
  const std::vector<std::string> files = shapeFilesIn(options.files);
  // --jobs asks for a batch even of one file, so that a scheduler's chunks all print JSON Lines.
  const bool batch =
      options.files.size() > 1 || options.jobs > 0 || std::filesystem::is_directory(options.files.front());
  if (batch) return runBatch(files, reportOf, options, out);
  const std::string file = files.front();
  return runOne({file,
                 [&](std::ostream &report) {
                   print(reportOf(file), options.json, false, report);
                   return 0;
                 }},
                limitsOf(options), out);
}

}  // namespace

int main(int argc, char **argv) {
  install_crash_dump_filter();
  quietStartup();

  CLI::App app{"Inspect, compare and convert CAD shapes (STEP, IGES, BREP).", "nimbo-shape"};
  app.set_version_flag("--version", std::string("nimbo-shape ") + NIMBO_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, equal or overlapping (clash: nothing overlaps; diff: nothing changed);\n"
      "1 not equal or not overlapping (clash: some parts overlap or could not be checked; diff: some\n"
      "part changed); 2 error.\n"
      "Files are read by extension: .step/.stp, .iges/.igs, .brep. stats and parts take several files\n"
      "and folders (searched for those extensions) and run them in parallel worker processes.");
  Options options;

  CLI::App *stats = app.add_subcommand("stats", "Statistics, counts and measures of the shape in each FILE");
  CLI::App *parts =
      app.add_subcommand("parts", "The parts of the assembly in each FILE: paths, names, measures, boxes");
  for (CLI::App *command : {stats, parts}) {
    command->add_option("FILE", options.files, "Shape files or folders")->required();
    command->add_option("--jobs", options.jobs, "Files worked on at once (default: the number of cores)")
        ->check(CLI::PositiveNumber);
  }

  CLI::App *clash = app.add_subcommand(
      "clash", "Which parts of the assemblies in FILE... overlap, touch or come close (exit 0 none overlap, 1 some)");
  clash->add_option("FILE", options.files, "Shape files, checked together")->required();
  clash->add_option("--clearance", options.clearance, "Also report parts closer than this, in mm (default: none)")
      ->check(CLI::NonNegativeNumber);
  clash
      ->add_option("--contact-tolerance", options.contact_tolerance,
                   "Parts this close touch, in mm (default: 1e-6 of the assembly's box diagonal)")
      ->check(CLI::NonNegativeNumber);
  clash
      ->add_option("--min-overlap", options.min_overlap,
                   "Common volume above this overlaps, in mm^3 (default: 1e-6 of the smaller part's volume)")
      ->check(CLI::NonNegativeNumber);
  clash->add_option("--threads", options.threads, "Pairs examined at once (default: the number of cores)")
      ->check(CLI::PositiveNumber);
  clash->add_option("--svg", options.svg,
                    "Also draw the parts there, overlapping ones in red with their common region");
  clash->add_flag("--contacts", options.contacts, "In the drawing, touching parts and their shared faces in blue");

  CLI::App *imprint = app.add_subcommand(
      "imprint", "Fuse the solid parts of FILE... into one conformal compound whose touching parts share faces");
  imprint->add_option("FILE", options.files, "Shape files, imprinted together")->required();
  imprint->add_option("-o,--output", options.output, "The compound to write (.brep)")->required();
  imprint->add_flag("--assign-overlaps", options.assign_overlaps,
                    "Give each common region of overlapping parts to the earlier part instead of refusing");
  imprint->add_option("--fuzzy", options.fuzzy, "Close gaps and overlaps narrower than this, in mm")
      ->check(CLI::NonNegativeNumber);
  imprint->add_option("--glue", options.glue, "off, shift (faces coincide in part) or full (coincide whole)")
      ->check(CLI::IsMember({"off", "shift", "full"}));

#ifdef NIMBO_HAVE_MESH
  CLI::App *mesh = app.add_subcommand("mesh", "Imprint the solid parts of FILE... and mesh them with Gmsh (.msh 4.1)");
  mesh->add_option("FILE", options.files, "Shape files, meshed together")->required();
  mesh->add_option("-o,--output", options.output, "The mesh to write (.msh)")->required();
  mesh->add_option("--size", options.size, "Largest element size in mm (default: Gmsh's, from the model's size)")
      ->check(CLI::PositiveNumber);
  mesh->add_option("--order", options.order, "1 for linear elements, 2 for quadratic")->check(CLI::Range(1, 2));
  mesh->add_flag("--assign-overlaps", options.assign_overlaps,
                 "Give each common region of overlapping parts to the earlier part instead of refusing");
#else
  CLI::App *mesh = nullptr;
#endif

  CLI::App *render = app.add_subcommand("render", "Draw the parts of FILE... as an SVG line drawing");
  render->add_option("FILE", options.files, "Shape files, drawn together")->required();
  render->add_option("-o,--output", options.output, "The drawing to write (.svg)")->required();
  render->add_option("--view", options.view, "iso, front, back, top, bottom, left, right, or X,Y,Z (default iso)");
  render->add_flag("--hidden", options.hidden, "Draw hidden edges dashed");
  render->add_flag("--exact", options.exact, "Exact hidden-line removal on the geometry (slow on big parts)");
  render->add_option("--size", options.page, "Page size WxH in pixels (default 800x600)");
  render
      ->add_option("--exact-limit", options.exact_limit,
                   "Seconds the exact removal may take before the drawing falls back to the triangulation (default 60)")
      ->check(CLI::PositiveNumber);

  CLI::App *diff = app.add_subcommand(
      "diff", "Which parts of BEFORE are unchanged, moved, modified or removed in AFTER, and which were added");
  diff->add_option("BEFORE", options.first, "The earlier revision")->required();
  diff->add_option("AFTER", options.second, "The later revision")->required();

  CLI::App *compare = app.add_subcommand("compare", "Whether A and B describe the same geometry (exit 0 equal, 1 not)");
  CLI::App *overlap = app.add_subcommand("overlap", "Whether A and B have a common part (exit 0 overlap, 1 none)");
  CLI::App *distance = app.add_subcommand("distance", "Minimum distance between A and B, and its vector");
  for (CLI::App *command : {compare, overlap, distance}) {
    command->add_option("A", options.first, "First shape file")->required();
    command->add_option("B", options.second, "Second shape file")->required();
  }
  compare->add_option("--svg", options.svg, "Also draw the two shapes over each other there, in two colours");

  CLI::App *convert = app.add_subcommand("convert", "Read IN, optionally scale it about the origin, write OUT");
  convert->add_option("IN", options.first, "Input shape file (.step, .stp, .iges, .igs, .brep)")->required();
  convert->add_option("OUT", options.second, "Output shape file (.step, .stp, .brep)")->required();
  convert->add_option("--scale", options.scale, "Scale factor, a positive number");

  for (CLI::App *command : {stats, parts, clash, imprint, mesh, render, diff, compare, overlap, distance, convert}) {
    if (command == nullptr) continue;
    addOutputFlags(*command, options);
    addLimitOptions(*command, options);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    return app.exit(error) == 0 ? 0 : 2;
  }
  if (!(std::isfinite(options.scale) && options.scale > 0.0)) {
    std::cerr << "nimbo-shape: --scale must be a positive number, not " << options.scale << std::endl;
    return 2;
  }
  if (!(std::isfinite(options.timeout) && options.timeout > 0.0)) {
    std::cerr << "nimbo-shape: --timeout must be a positive number of seconds, not " << options.timeout << std::endl;
    return 2;
  }
  try {
    if (!options.max_memory.empty()) parseByteSize(options.max_memory);
  } catch (const std::invalid_argument &error) {
    std::cerr << "nimbo-shape: --max-memory: " << error.what() << std::endl;
    return 2;
  }

  std::ostream out(routeDiagnostics(options.verbose));
  try {
    if (stats->parsed()) return runFiles(statsOf, options, out);
    if (parts->parsed()) return runFiles(partsOf, options, out);
    const WorkLimits limits = limitsOf(options);
    // A drawing's writer that dies leaves its temporary; the tool removes it.
    std::optional<LeftoverGuard> drawing_leftovers;
    if (!options.svg.empty()) drawing_leftovers.emplace(options.svg);
    if (clash->parsed()) {
      const std::string subject = options.files.size() == 1 ? options.files.front() : "clash";
      return runOne({subject,
                     [&](std::ostream &report) {
                       const ClashReport result =
                           clashOf(options.files, interferenceOptionsOf(options), options.svg, options.contacts);
                       print(result, options.json, false, report);
                       return result.found.overlaps.empty() && result.found.failures.empty() ? 0 : 1;
                     }},
                    limits, out);
    }
    if (imprint->parsed()) {
      const LeftoverGuard leftovers(options.output);
      return runOne({options.files.size() == 1 ? options.files.front() : "imprint",
                     [&](std::ostream &report) {
                       print(imprintFiles(options.files, options.output, imprintOptionsOf(options)), options.json,
                             false, report);
                       return 0;
                     }},
                    limits, out);
    }
    if (render->parsed()) {
      nimbo::RenderOptions drawing;
      char times = 0;
      char rest = 0;
      if (std::sscanf(options.page.c_str(), "%d%c%d%c", &drawing.width, &times, &drawing.height, &rest) != 3 ||
          (times != 'x' && times != 'X') || drawing.width < 16 || drawing.height < 16 || drawing.width > 20000 ||
          drawing.height > 20000) {
        return fail("--size", "not a page size WxH in pixels, 16 to 20000 each: " + options.page);
      }
      drawing.hidden = options.hidden;
      const LeftoverGuard leftovers(options.output);
      const std::string subject = options.files.size() == 1 ? options.files.front() : "render";
      const auto drawWith = [&](bool exact) {
        return Work{subject, [&, exact](std::ostream &report) {
                      nimbo::RenderOptions chosen = drawing;
                      chosen.exact = exact;
                      print(renderFiles(options.files, options.output, options.view, chosen), options.json, false,
                            report);
                      return 0;
                    }};
      };
      if (options.exact) {
        // The exact removal cannot be interrupted, and may take minutes on a big part: it gets a
        // worker and a time of its own, and the drawing falls back to the triangulation.
        WorkLimits exact_limits = limits;
        exact_limits.seconds = std::min(limits.seconds, options.exact_limit);
        std::optional<WorkResult> exact;
        runIsolated({drawWith(true)}, 1, exact_limits, [&](std::size_t, const WorkResult &result) { exact = result; });
        if (exact && !(exact->status == 2 && exact->problem.rfind("gave up", 0) == 0)) {
          out << exact->output;
          flushReport(out);
          return exact->status == 2 ? fail(exact->subject, exact->problem) : exact->status;
        }
        std::cerr << "nimbo-shape: " << subject << ": the exact hidden-line removal gave up after "
                  << exact_limits.seconds << " s; drawn on the triangulation" << std::endl;
      }
      return runOne(drawWith(false), limits, out);
    }
    if (diff->parsed()) {
      return runOne({options.first + " and " + options.second,
                     [&](std::ostream &report) {
                       const DiffReport result = diffFiles(options.first, options.second);
                       print(result, options.json, false, report);
                       const nimbo::AssemblyDiff &d = result.diff;
                       return d.moved.empty() && d.modified.empty() && d.added.empty() && d.removed.empty() ? 0 : 1;
                     }},
                    limits, out);
    }
#ifdef NIMBO_HAVE_MESH
    if (mesh->parsed()) {
      const LeftoverGuard leftovers(options.output);
      return runOne({options.files.size() == 1 ? options.files.front() : "mesh",
                     [&](std::ostream &report) {
                       print(meshFiles(options.files, options.output, imprintOptionsOf(options), options.size,
                                       options.order, options.verbose),
                             options.json, false, report);
                       return 0;
                     }},
                    limits, out);
    }
#endif
    if (compare->parsed()) {
      return runOne({options.first + " and " + options.second,
                     [&](std::ostream &report) {
                       const CompareReport result = compareFiles(options.first, options.second, options.svg);
                       print(result, options.json, false, report);
                       return result.forward.equal && result.backward.equal ? 0 : 1;
                     }},
                    limits, out);
    }
    if (overlap->parsed()) {
      return runOne({options.first + " and " + options.second,
                     [&](std::ostream &report) {
                       const OverlapReport result = overlapOf(options.first, options.second);
                       print(result, options.json, false, report);
                       return result.overlap ? 0 : 1;
                     }},
                    limits, out);
    }
    if (distance->parsed()) {
      return runOne({options.first + " and " + options.second,
                     [&](std::ostream &report) {
                       print(distanceOf(options.first, options.second), options.json, false, report);
                       return 0;
                     }},
                    limits, out);
    }
    // A worker that dies while writing leaves its temporary file; the tool removes it.
    const LeftoverGuard leftovers(options.second);
    return runOne({options.first,
                   [&](std::ostream &report) {
                     print(convertFile(options.first, options.second, options.scale), options.json, false, report);
                     return 0;
                   }},
                  limits, out);
  } catch (const interrupted &stop) {
    // A worker's progress line may be on the terminal.
    if (isatty(STDERR_FILENO) != 0) std::cerr << "\r\033[K";
    std::cerr << "nimbo-shape: interrupted" << std::endl;
    return 128 + stop.signal();
  } catch (const tool_error &error) {
    return fail(error.subject(), error.what());
  } catch (const std::exception &error) {
    // Anything the tool did not foresee: still one line, still no abort.
    return fail(options.first, error.what());
  }
}
