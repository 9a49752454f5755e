// nimbo-shape as a process among others: its exit codes and error lines, batches, usage, and what
// it leaves on the streams and in the working directory.
#include <nimbo/assembly/Assembly.h>
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_helpers.h"
#include "tool_run.h"
#include "tool_samples.h"

#include <gtest/gtest.h>
#include <IGESControl_Writer.hxx>
#include <Message_ProgressIndicator.hxx>
#include <Message_ProgressScope.hxx>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace nimbo::test;
using nlohmann::json;

TEST(NimboShapeErrors, EachFailureIsOneLineNamingTheFile) {
  TempDir dir;
  const fs::path d = dir.path();
  {
    IGESControl_Writer writer("MM", 0);  // face mode: trimmed surfaces, no B-Rep entity
    writer.AddShape(box(gp_Pnt(0, 0, 0), gp_Pnt(1, 1, 1)));
    writer.ComputeModel();
    ASSERT_TRUE(writer.Write((d / "surfaces.igs").c_str()));
  }
  std::ofstream(d / "garbage.step") << "not a STEP file\n";
  std::ofstream(d / "garbage.brep") << "not a BREP file\n";
  fs::create_directory(d / "taken.step");
  const std::string not_brep =
      "IGES file surfaces.igs is not of B-Rep format. Please make sure your IGES file contains Manifold Solids! "
      "Usually in CAD editors there is an option to save IGES with Manifold Solids (B-Rep)";
  // A failure of the library names the dump it left.
  const struct {
    std::vector<std::string> args;
    std::string line;
    bool dump = false;
  } cases[] = {
      {{"stats", "missing.step"}, "missing.step: No such file or directory"},
      {{"stats", "notes.txt"}, "notes.txt: unknown extension \".txt\"; expected .step, .stp, .iges, .igs or .brep"},
      {{"stats", "surfaces.igs"}, "surfaces.igs: " + not_brep, true},
      {{"stats", "garbage.step"}, "garbage.step: no shape could be read from the file"},
      {{"stats", "garbage.brep"}, "garbage.brep: not a readable BREP file"},
      {{"parts", "missing.step"}, "missing.step: No such file or directory"},
      {{"parts", "garbage.step"}, "garbage.step: STEP file garbage.step could not be read"},
      {{"compare", step_part, "missing.brep"}, "missing.brep: No such file or directory"},
      {{"convert", step_part, "part.igs"}, "part.igs: IGES cannot be written; write .step, .stp or .brep"},
      {{"convert", step_part, "no/part.step"}, "no/part.step: the folder no does not exist"},
      {{"convert", step_part, "taken.step"}, "taken.step: Could not write STEP file taken.step", true},
  };
  for (const auto &failure : cases) {
    std::vector<std::string> args = failure.args;
    args.push_back("--json");
    SCOPED_TRACE(args[0] + " " + args[1]);
    const ToolRun run = runTool(args, d);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    std::string line = "nimbo-shape: " + failure.line;
    if (failure.dump) {
      const std::size_t at = run.err.find("; dump ");
      ASSERT_NE(at, std::string::npos) << run.err;
      const fs::path dump = run.err.substr(at + 7, run.err.size() - at - 8);
      EXPECT_EQ(dump.parent_path(), d / "nimbo");
      EXPECT_TRUE(fs::is_regular_file(dump)) << dump;
      line += "; dump " + dump.string();
    }
    EXPECT_EQ(run.err, line + "\n");
  }
  // A batch names the folder of its dumps in its summary.
  const ToolRun batch = runTool({"stats", "--jobs", "1", "surfaces.igs"}, d);
  const std::string summary_end = "; dumps in " + (d / "nimbo").string() + "\n";
  EXPECT_EQ(batch.err.substr(batch.err.size() - std::min(batch.err.size(), summary_end.size())), summary_end)
      << batch.err;
  // A failed conversion leaves no partial file behind.
  EXPECT_FALSE(fs::exists(d / "part.igs"));
  for (const fs::directory_entry &entry : fs::directory_iterator(d)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// A typo or parts that overlap are the user's to mend: the line says what, and no dump is left
// to crowd out those of real failures.
TEST(NimboShapeErrors, RefusalsOfWhatTheUserGaveLeaveNoDump) {
  TempDir dir;
  const fs::path d = dir.path();
  writeBrepFile(box({0, 0, 0}, {10, 10, 10}), d / "a.brep");
  writeBrepFile(box({5, 0, 0}, {15, 10, 10}), d / "b.brep");
  writeText(d / "typo.yaml", "geometry: a.brep\nphysics: heat\nmaterials: [{parts: \"*\", conductivity: fifty}]\n");
  const struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"solve", "typo.yaml"}, "typo.yaml: material 1: conductivity: expected a number in W/(m K), not \"fifty\""},
      {{"imprint", "a.brep", "b.brep", "-o", "out.brep"}, "the parts of 2 files: Parts overlap, "},
  };
  for (const auto &refusal : cases) {
    SCOPED_TRACE(refusal.args[0]);
    const ToolRun run = runTool(refusal.args, d);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("nimbo-shape: " + refusal.line, 0), 0u) << run.err;
    EXPECT_EQ(run.err.find("dump"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(d / "nimbo")) << "a dump folder was made";
}

TEST(NimboShapeErrors, ReportThatCannotBeWrittenIsAFailure) {
  TempDir dir;
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    std::vector<std::string> args = {"stats", face_1};
    if (json) args.push_back("--json");
    const ToolRun run = runTool(args, dir.path(), "/dev/full");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "nimbo-shape: standard output: the report could not be written\n");
  }
}

// Several files and a folder: one JSON line per file in input order, a refused file as its error,
// the summary on standard error, and exit 2 because one failed.
TEST(NimboShapeBatch, JsonLinesInInputOrderWithErrorsAndSummary) {
  TempDir dir;
  fs::create_directories(dir.path() / "folder" / "deeper");
  fs::copy_file(face_1, dir.path() / "folder" / "deeper" / "b.BREP");
  fs::copy_file(face_2, dir.path() / "folder" / "a.brep");
  nimbo::test::writeText(dir.path() / "folder" / "notes.txt", "not a CAD file");
  nimbo::test::writeText(dir.path() / "broken.step", "not a STEP file\n");
  const ToolRun run = runTool({"stats", "--json", "--jobs", "2", step_part, "broken.step", "folder"}, dir.path());
  EXPECT_EQ(run.status, 2) << run.err;
  std::vector<json> rows;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) rows.push_back(json::parse(line));
  ASSERT_EQ(rows.size(), 4u) << run.out;
  EXPECT_EQ(rows[0]["file"], step_part);
  EXPECT_EQ(rows[0]["counts"]["solids"], 1);
  EXPECT_EQ(rows[1], json({{"file", "broken.step"}, {"error", "no shape could be read from the file"}}));
  EXPECT_EQ(rows[2]["file"], "folder/a.brep");
  EXPECT_EQ(rows[3]["file"], "folder/deeper/b.BREP");
  EXPECT_EQ(rows[3]["dominant_type"], "face");
  EXPECT_NE(run.err.find("nimbo-shape: broken.step: no shape could be read from the file\n"), std::string::npos);
  EXPECT_NE(run.err.find("nimbo-shape: 4 files, 3 succeeded, 1 failed, "), std::string::npos) << run.err;

  const ToolRun good = runTool({"parts", "folder"}, dir.path());
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_NE(good.out.find("\n\nfile         folder/deeper/b.BREP\n"), std::string::npos) << good.out;
  // An empty folder and a missing file are errors in their places; the others still run.
  fs::create_directory(dir.path() / "empty");
  const ToolRun empty = runTool({"stats", "--json", face_1, "empty", "gone.step", face_2}, dir.path());
  EXPECT_EQ(empty.status, 2);
  rows.clear();
  std::istringstream empty_lines(empty.out);
  for (std::string line; std::getline(empty_lines, line);) rows.push_back(json::parse(line));
  ASSERT_EQ(rows.size(), 4u) << empty.out;
  EXPECT_EQ(rows[1], json({{"file", "empty"}, {"error", "holds no .step, .stp, .iges, .igs or .brep file"}}));
  EXPECT_EQ(rows[2], json({{"file", "gone.step"}, {"error", "No such file or directory"}}));
  EXPECT_EQ(rows[3]["file"], face_2);
}

// A file over its time or memory limit is reported for that file, and the others go on.
TEST(NimboShapeBatch, LimitsEndOneFileNotTheRun) {
  TempDir dir;
  const ToolRun slow = runTool({"parts", "--json", "--timeout", "0.001", joint, face_1}, dir.path());
  EXPECT_EQ(slow.status, 2);
  EXPECT_NE(slow.out.find("{\"file\":\"" + joint + "\",\"error\":\"gave up after 0.001 s\"}"), std::string::npos)
      << slow.out;
#ifndef NIMBO_SANITIZED  // the sanitizer's own memory needs the whole address space
  const ToolRun big = runTool({"stats", "--max-memory", "64M", joint}, dir.path());
  EXPECT_EQ(big.status, 2);
  EXPECT_EQ(big.err.rfind("nimbo-shape: " + joint + ": ", 0), 0u) << big.err;
  EXPECT_EQ(std::count(big.err.begin(), big.err.end(), '\n'), 1) << big.err;
#endif
}

TEST(NimboShapeUsage, VersionHelpAndUsageErrors) {
  TempDir dir;
  const ToolRun version = runTool({"--version"}, dir.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("nimbo-shape ", 0), 0u) << version.out;
  const ToolRun help = runTool({"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  for (const char *command : {"stats", "parts", "compare", "overlap", "distance", "convert"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  const ToolRun command_help = runTool({"convert", "--help"}, dir.path());
  EXPECT_EQ(command_help.status, 0);
  EXPECT_NE(command_help.out.find("--scale"), std::string::npos);
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{},
                                             {"stats"},
                                             {"frobnicate", "a.step"},
                                             {"convert", "a.step", "b.brep", "--scale", "0"},
                                             {"convert", "a.step", "b.brep", "--scale", "-2"},
                                             {"convert", "a.step", "b.brep", "--scale", "nan"},
                                             {"stats", "a.step", "--timeout", "0"},
                                             {"stats", "a.step", "--max-memory", "lots"},
                                             {"stats", "a.step", "--jobs", "0"}}) {
    const ToolRun run = runTool(args, dir.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err, "");
  }
}

// Progress and colour belong to terminals; piped, the streams carry text only. The kernel's own
// messages reach standard error with --verbose and nowhere without it, never standard output.
TEST(NimboShapeOutput, PipedStreamsCarryNoProgressAndKernelMessagesOnlyWhenVerbose) {
  TempDir dir;
  for (const bool verbose : {false, true}) {
    SCOPED_TRACE(verbose ? "verbose" : "quiet");
    std::vector<std::string> args = {"convert", "--json", iges_part, "part.step"};
    if (verbose) args.push_back("--verbose");
    const ToolRun run = runTool(args, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NO_THROW(json::parse(run.out)) << run.out;
    EXPECT_EQ(verbose, !run.err.empty()) << run.err;
    for (const std::string *stream : {&run.out, &run.err}) {
      EXPECT_EQ(stream->find('\r'), std::string::npos);
      EXPECT_EQ(stream->find('\x1b'), std::string::npos);
    }
  }
}

TEST(NimboShapeOutput, LeavesNoLogFileInTheWorkingDirectoryButKeepsTheUsersOwn) {
  TempDir dir;
  EXPECT_EQ(runTool({"stats", step_part}, dir.path()).status, 0);
  EXPECT_EQ(runTool({"--version"}, dir.path()).status, 0);
  EXPECT_FALSE(fs::exists(dir.path() / "myeasylog.log"));
  std::ofstream(dir.path() / "myeasylog.log").close();
  EXPECT_EQ(runTool({"stats", step_part}, dir.path()).status, 0);
  EXPECT_TRUE(fs::exists(dir.path() / "myeasylog.log"));
}

namespace {

// Records the furthest position the kernel reported.
class RecordingProgress : public Message_ProgressIndicator {
 public:
  double furthest = 0.0;

 protected:
  void Show(const Message_ProgressScope &, const Standard_Boolean) override {
    furthest = std::max(furthest, GetPosition());
  }
};

}  // namespace

TEST(ReaderProgress, ReadersReportTheirTransferToTheEnd) {
  for (const std::string &file : {step_part, iges_part}) {
    SCOPED_TRACE(file);
    const Handle(RecordingProgress) progress = new RecordingProgress;
    const bool step = file == step_part;
    const TopoDS_Shape shape = step ? readStep(file, progress->Start()) : readIges(file, progress->Start());
    EXPECT_NEAR(progress->furthest, 1.0, 1e-9);
    EXPECT_DOUBLE_EQ(getVolume(shape), getVolume(step ? readStep(file) : readIges(file)));
  }
}
