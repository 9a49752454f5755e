#include <nimbo/environment.h>
#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>

#include "test_helpers.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;
using nimbo::test::ScopedEnv;
using nimbo::test::TempDir;
using nimbo::test::TempDirAsTemp;
using nimbo::test::writeText;

namespace {

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm local_time{};
  localtime_r(&now, &local_time);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local_time);
  return text;
}

/// The message of the nimbo_exception that `action` throws.
template <class Action>
std::string nimbo_error_of(Action action) {
  try {
    action();
  } catch (const nimbo_exception &error) {
    return error.what();
  }
  return "(no nimbo_exception)";
}

}  // namespace

TEST(EnvironmentFiles, EnsureDirectoryCreatesOneLevelAndLeavesExistingPathsAlone) {
  const TempDir dir;
  const fs::path created = dir.path() / "results";
  ensure_directory(created.string());
  EXPECT_TRUE(fs::is_directory(created));
  ensure_directory(created.string());  // already there

  const fs::path file = dir.path() / "notes.txt";
  writeText(file, "keep me");
  ensure_directory(file.string());
  EXPECT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(fs::file_size(file), 7u);
  EXPECT_TRUE(file_exists(file.string()) && file_exists(created.string()));

  const fs::path orphan = dir.path() / "missing" / "child";
  try {
    ensure_directory(orphan.string());
    FAIL() << "no error for a missing parent";
  } catch (const fs::filesystem_error &error) {
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(error.path1(), orphan);
  }
  EXPECT_FALSE(file_exists((dir.path() / "missing").string()));
}

TEST(EnvironmentFiles, ExtensionAndFileName) {
  struct Case {
    const char *path, *extension, *name;
  };
  for (const Case &c : {Case{"a/b.step", ".step", "b.step"}, Case{"a/b", "", "b"}, Case{"a/b/", "", ""}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(file_extension(c.path), c.extension);
    EXPECT_EQ(file_name_of(c.path), c.name);
  }
}

TEST(EnvironmentFiles, AtomicWriteReplacesOnlyWithACompleteFile) {
  TempDir dir;
  const std::string target = (dir.path() / "mesh.msh").string();
  writeText(target, "old");
  std::string seen;
  // A failed write, or one that throws, keeps the old file and leaves no temporary.
  EXPECT_FALSE(write_atomically(target, [&](const std::string &temporary) {
    seen = temporary;
    writeText(temporary, "half");
    return false;
  }));
  EXPECT_THROW(write_atomically(target,
                                [](const std::string &temporary) -> bool {
                                  writeText(temporary, "half");
                                  throw std::runtime_error("disk gone");
                                }),
               std::runtime_error);
  EXPECT_EQ(nimbo::test::readText(target), "old");
  EXPECT_TRUE(is_temporary_for(seen, target)) << seen;
  EXPECT_EQ(fs::path(seen).extension(), ".msh");  // writers that go by the extension see the target's
  EXPECT_FALSE(is_temporary_for(target, target));
  EXPECT_TRUE(write_atomically(target, [](const std::string &temporary) {
    writeText(temporary, "new");
    return true;
  }));
  EXPECT_EQ(nimbo::test::readText(target), "new");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST(EnvironmentConfig, UnsetAppDirectoryIsAnError) {
  const TempDirAsTemp temp;
  const ScopedEnv no_app("NIMBO_APP", std::nullopt);
  EXPECT_EQ(nimbo_error_of([] { app_directory(); }), "Environment variable NIMBO_APP is not set");
}

TEST(EnvironmentConfig, ProductFolderSuffix) {
  for (const char *path : {"/var/tmp/nimbo", "nimbo", "/var/tmp/mynimbo"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(product_folder_suffix(path), "/");
  }
  for (const char *path : {"/var/tmp", "/var/tmp/NIMBO", "/tmp", "imbo", ""}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(product_folder_suffix(path), "/nimbo/");
  }
}

TEST(EnvironmentConfig, DatedTempPathFollowsTheTemporaryFolder) {
  struct Case {
    std::optional<std::string> temp, tmpdir;
    std::string folder;
  };
  for (const Case &c : {Case{"/t", "/x", "/t/nimbo/"}, Case{"/t/nimbo", std::nullopt, "/t/nimbo/"},
                        Case{std::nullopt, "/x", "/x/nimbo/"}, Case{std::nullopt, std::nullopt, "/tmp/nimbo/"}}) {
    SCOPED_TRACE(c.folder);
    const ScopedEnv temp("TEMP", c.temp), tmpdir("TMPDIR", c.tmpdir);
    const std::string before = today();
    const std::string path = dated_temp_path();
    EXPECT_TRUE(path == c.folder + before || path == c.folder + today()) << path;
  }
}

TEST(YamlFile, LeadingMarkerIsSkippedAndEveryOtherFirstLineKept) {
  const TempDir dir;
  const fs::path file = dir.path() / "settings.yaml";
  for (const char *first_line : {"", "---\n", "---   \n", "--- # settings\n", "---\r\n"}) {
    SCOPED_TRACE(first_line);
    writeText(file, std::string(first_line) + "title: plain\nsize: 3\n");
    const YAML::Node settings = read_yaml_file(file.string());
    EXPECT_EQ(settings["title"].as<std::string>(), "plain");
    EXPECT_EQ(settings["size"].as<int>(), 3);
  }
  writeText(file, "title: a---b\nsize: 3\n");
  EXPECT_EQ(read_yaml_file(file.string())["title"].as<std::string>(), "a---b");
  writeText(file, "--- [1, 2]\n");
  EXPECT_EQ(read_yaml_file(file.string()).size(), 2u);
  writeText(file, "---");
  EXPECT_TRUE(read_yaml_file(file.string()).IsNull());
}

TEST(YamlFile, FailuresNameTheFile) {
  const TempDirAsTemp temp;
  const std::string missing = (temp.path() / "missing.yaml").string();
  EXPECT_EQ(nimbo_error_of([&] { read_yaml_file(missing); }), "Could not open file: " + missing);
  // A directory opens like a file but cannot be read.
  const std::string folder = temp.path().string();
  EXPECT_EQ(nimbo_error_of([&] { read_yaml_file(folder); }), "Could not read file: " + folder);

  // The skipped marker must not shift the line the parser reports.
  const fs::path malformed = temp.path() / "malformed.yaml";
  writeText(malformed, "---\nname: x\nsize: : 3\n");
  try {
    read_yaml_file(malformed.string());
    FAIL() << "no error for a malformed file";
  } catch (const YAML::ParserException &error) {
    EXPECT_EQ(error.mark.line, 2);
  }
}

// The solver query runs with PATH holding only a folder with grep and, when given, a fake solver.
class SolverEnvironment : public testing::Test {
 protected:
  SolverEnvironment() {
    const char *search_path = std::getenv("PATH");
    std::istringstream path_entries(search_path ? search_path : "/usr/bin:/bin");
    for (std::string entry; std::getline(path_entries, entry, ':');) {
      if (fs::exists(fs::path(entry) / "grep")) {
        fs::create_symlink(fs::path(entry) / "grep", dir_.path() / "grep");
        break;
      }
    }
  }
  void install_solver(const std::string &script) {
    writeText(dir_.path() / "getdp", "#!/bin/sh\n" + script);
    fs::permissions(dir_.path() / "getdp", fs::perms::owner_all);
  }
  std::string query() {
    const ScopedEnv path("PATH", dir_.path().string());
    testing::internal::CaptureStdout();
    query_solver_cpu_info();
    return testing::internal::GetCapturedStdout();
  }

  TempDir dir_;
  ScopedEnv verbose_{"OPENBLAS_VERBOSE", std::nullopt};
};

TEST_F(SolverEnvironment, NoSolverOrNoCoreLinesGiveNoInfo) {
  ASSERT_TRUE(fs::exists(dir_.path() / "grep"));
  EXPECT_EQ(query(), "Opening pipe\nGetDP CPU info : [ <no-info>]\n");
  EXPECT_EQ(environment_variable("OPENBLAS_VERBOSE"), std::optional<std::string>("2"));

  install_solver("echo 'GetDP 3.5.0'\n");
  EXPECT_EQ(query(), "Opening pipe\nGetDP CPU info : [ <no-info>]\n");
}

TEST_F(SolverEnvironment, CoreLinesJoinedWithABlankAfterEach) {
  const std::string long_name(200, 'x');  // longer than one read of the pipe
  install_solver(
      "echo 'GetDP 3.5.0'\n"
      "echo \"Core $1 $OPENBLAS_VERBOSE " +
      long_name +
      "\"\n"
      "echo 'Build: shared'\n"
      "printf 'Cores 8\\r\\n' >&2\n");
  EXPECT_EQ(query(), "Opening pipe\nGetDP CPU info : [ Core -version 2 " + long_name + " Cores 8 ]\n");
}
