// Diagnostics: the application exception, process dumps and the crash filter.
#include <nimbo/crash_dump.h>
#include <nimbo/nimbo_exception.h>
#include "utf8.h"

#include "test_helpers.h"

#include <easylogging++.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using nimbo::test::readText;
using nimbo::test::ScopedEnv;
using nimbo::test::TempDir;
using nimbo::test::TempDirAsTemp;

// Thrown from a function of its own so that a dump's stack trace has a name to show.
[[gnu::noinline]] void fail_while_meshing_part(const std::string &message) { throw nimbo_exception(message); }

namespace {

struct LogRecord {
  el::Level level;
  std::string logger;
  std::string function;
  std::string message;
};

std::mutex recorded_mutex;
std::vector<LogRecord> recorded;

class RecordingCallback : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData *data) override {
    const el::LogMessage &message = *data->logMessage();
    std::lock_guard<std::mutex> lock(recorded_mutex);
    recorded.push_back({message.level(), message.logger()->id(), message.func(), message.message()});
  }
};

/// Collects the log records made while it lives, from every thread.
class LogCapture {
 public:
  LogCapture() {
    std::lock_guard<std::mutex> lock(recorded_mutex);
    recorded.clear();
    el::Helpers::installLogDispatchCallback<RecordingCallback>("nimbo-test");
  }
  ~LogCapture() { el::Helpers::uninstallLogDispatchCallback<RecordingCallback>("nimbo-test"); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;
  std::vector<LogRecord> records() const {
    std::lock_guard<std::mutex> lock(recorded_mutex);
    return recorded;
  }
};

std::vector<fs::path> dumps_in(const fs::path &temp) {
  std::vector<fs::path> dumps;
  std::error_code ignored;
  for (const auto &entry : fs::directory_iterator(temp / "nimbo", ignored)) dumps.push_back(entry.path());
  return dumps;
}

/// A regular file to point TEMP at: no folder can be made below it, even by root.
fs::path plain_file_in(const TempDir &dir) {
  const fs::path file = dir.path() / "not-a-folder";
  std::ofstream(file) << "x";
  return file;
}

const std::regex dump_name(R"(\d{4}-\d{2}-\d{2}-\d{6}-\d\.dmp)");

/// Runs in a death test's child: crashes under the filter, its console line going to standard error.
void crash_under_filter(void (*crash)()) {
  const rlimit no_core_file{0, 0};
  setrlimit(RLIMIT_CORE, &no_core_file);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  install_crash_dump_filter();
  crash();
}

// The store must reach the hardware and fault: a sanitized build's null check would stop it first.
[[gnu::no_sanitize("null")]] void write_null() {
  volatile int *volatile null_pointer = nullptr;
  *null_pointer = 1;
}

/// Runs in a fresh process: writes eleven dumps, prints their counters and exits.
void print_counters_of_eleven_dumps(const fs::path &temp) {
  std::string counters;
  for (int i = 0; i < 11; ++i) {
    const std::string path = wide_to_utf8(write_minidump());
    counters += path.size() > 5 ? path.substr(path.size() - 5, 1) : "?";
  }
  std::cerr << "counters " << counters << std::endl;
  fs::remove_all(temp);  // the child's own folder: exit skips its destructor
  std::exit(0);
}

}  // namespace

TEST(NimboException, LogsTheMessageThenWhereItsDumpWent) {
  for (const std::string message : {"IGES file (part.igs) processing failed", "", "Failed to read pipe.\n"}) {
    SCOPED_TRACE(message);
    TempDirAsTemp temp;
    LogCapture log;
    std::string dump_path;
    try {
      fail_while_meshing_part(message);
      FAIL() << "nothing thrown";
    } catch (const nimbo_exception &exception) {
      EXPECT_EQ(exception.what(), message);
      dump_path = exception.dump_path();
    }

    const std::vector<LogRecord> records = log.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, el::Level::Error);
    EXPECT_EQ(records[0].logger, "default");
    EXPECT_EQ(records[0].message, message);
    EXPECT_NE(records[0].function.find("nimbo_exception::nimbo_exception(const std::string&)"), std::string::npos)
        << records[0].function;
    EXPECT_EQ(records[1].level, el::Level::Error);
    EXPECT_EQ(records[1].logger, "default");
    EXPECT_NE(records[1].function.find("nimbo_exception::write_dump"), std::string::npos) << records[1].function;

    const std::vector<fs::path> dumps = dumps_in(temp.path());
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(records[1].message, "Exception dump written to " + dumps[0].string());
    EXPECT_EQ(dump_path, dumps[0].string());
    EXPECT_TRUE(std::regex_match(dumps[0].filename().string(), dump_name)) << dumps[0];
  }
}

TEST(NimboException, DumpNamesTheThrowingFunctionAndDescribesTheProcess) {
  TempDirAsTemp temp;
  EXPECT_THROW(fail_while_meshing_part("no B-Rep entities"), nimbo_exception);
  const std::vector<fs::path> dumps = dumps_in(temp.path());
  ASSERT_EQ(dumps.size(), 1u);
  const std::string dump = readText(dumps[0]);

  EXPECT_NE(dump.find("Process: " + std::to_string(getpid()) + "\n"), std::string::npos);
  EXPECT_NE(dump.find("Thread: " + std::to_string(gettid()) + "\n"), std::string::npos);
  EXPECT_NE(dump.find("Executable: " + fs::read_symlink("/proc/self/exe").string() + "\n"), std::string::npos);
  EXPECT_EQ(dump.find("Signal:"), std::string::npos);
  // The stack is the throwing thread's, not the worker's that wrote the file.
  const std::size_t stack = dump.find("\nStack of thread ");
  const std::size_t status = dump.find("\n/proc/self/status:\nName:");
  const std::size_t maps = dump.find("\n/proc/self/maps:\n");
  ASSERT_NE(stack, std::string::npos);
  ASSERT_NE(status, std::string::npos);
  ASSERT_NE(maps, std::string::npos);
  EXPECT_LT(stack, status);
  EXPECT_LT(status, maps);
  const std::string trace = dump.substr(stack, status - stack);
  EXPECT_NE(trace.find("nimbo_exception::nimbo_exception"), std::string::npos) << trace;
  EXPECT_NE(trace.find("fail_while_meshing_part(std::"), std::string::npos) << trace;
}

TEST(NimboException, CopiesNeitherLogNorDumpButKeepTheDumpPath) {
  TempDirAsTemp temp;
  LogCapture log;
  const nimbo_exception original("Cannot open part.step");
  EXPECT_FALSE(original.dump_path().empty());
  nimbo_exception copy = original;
  copy = original;
  try {
    throw copy;  // copies into the exception object
  } catch (const nimbo_exception &caught) {
    const nimbo_exception rethrown_copy = caught;
    EXPECT_STREQ(rethrown_copy.what(), "Cannot open part.step");
    EXPECT_EQ(rethrown_copy.dump_path(), original.dump_path());
  }
  EXPECT_EQ(log.records().size(), 2u);
  EXPECT_EQ(dumps_in(temp.path()).size(), 1u);
}

TEST(NimboException, UnwritableDumpFolderIsLoggedAndTheExceptionStillThrown) {
  TempDir dir;
  ScopedEnv temp("TEMP", plain_file_in(dir).string());
  LogCapture log;
  EXPECT_THROW(fail_while_meshing_part("Could not create directory /x"), nimbo_exception);
  const std::vector<LogRecord> records = log.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, "Could not create directory /x");
  EXPECT_EQ(records[1].message, "Cannot write exception dump");
  EXPECT_EQ(nimbo_exception("Could not create directory /x").dump_path(), "");
}

TEST(NimboException, WithDumpsOffNoneIsWrittenOrClaimed) {
  TempDirAsTemp temp;
  ScopedEnv off("NIMBO_DUMPS", "0");
  LogCapture log;
  EXPECT_EQ(nimbo_exception("Cannot open part.step").dump_path(), "");
  nimbo_exception::write_dump();
  EXPECT_EQ(write_minidump(), L"");
  EXPECT_EXIT(crash_under_filter(write_null), testing::KilledBySignal(SIGSEGV), "^$");
  const std::vector<LogRecord> records = log.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "Cannot open part.step");
  EXPECT_FALSE(fs::exists(temp.path() / "nimbo"));
}

TEST(NimboException, ThreadsThrowingAtOnceEachLeaveTheirOwnRecordsAndDump) {
  TempDirAsTemp temp;
  LogCapture log;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([i] {
      try {
        fail_while_meshing_part("part " + std::to_string(i));
      } catch (const nimbo_exception &) {
      }
    });
  }
  for (std::thread &thread : threads) thread.join();

  std::set<std::string> messages;
  for (const LogRecord &record : log.records()) messages.insert(record.message);
  std::set<std::string> expected;
  for (int i = 0; i < 4; ++i) expected.insert("part " + std::to_string(i));
  for (const fs::path &dump : dumps_in(temp.path())) expected.insert("Exception dump written to " + dump.string());
  EXPECT_EQ(messages, expected);
  EXPECT_EQ(expected.size(), 8u);
}

TEST(NimboException, WriteDumpLogsTheDumpOfTheCallingThread) {
  TempDirAsTemp temp;
  LogCapture log;
  nimbo_exception::write_dump();
  const std::vector<LogRecord> records = log.records();
  const std::vector<fs::path> dumps = dumps_in(temp.path());
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(records[0].message, "Exception dump written to " + dumps[0].string());
  EXPECT_NE(readText(dumps[0]).find("WriteDumpLogsTheDumpOfTheCallingThread"), std::string::npos);
}

TEST(DumpTimeStamp, AllFieldsHaveFixedWidth) {
  struct Case {
    int year, month, day, hour, minute, second, counter;
    const char *stamp;
  };
  for (const Case &c :
       {Case{2026, 1, 5, 9, 3, 7, 3, "2026-01-05-090307-3"}, Case{2026, 12, 31, 23, 59, 59, 0, "2026-12-31-235959-0"},
        Case{2027, 10, 1, 0, 0, 0, 9, "2027-10-01-000000-9"}}) {
    SCOPED_TRACE(c.stamp);
    std::tm time{};
    time.tm_year = c.year - 1900;
    time.tm_mon = c.month - 1;
    time.tm_mday = c.day;
    time.tm_hour = c.hour;
    time.tm_min = c.minute;
    time.tm_sec = c.second;
    EXPECT_EQ(dump_time_stamp(time, c.counter), c.stamp);
  }
}

TEST(WriteMinidump, CounterRunsOneToNineThenZeroFromTheStartOfAProcess) {
  // The counter is process-wide, so count in a freshly started copy of this program.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDirAsTemp temp;
  EXPECT_EXIT(print_counters_of_eleven_dumps(temp.path()), testing::ExitedWithCode(0), "counters 12345678901");
}

TEST(WriteMinidump, ReplacesAnExistingFileButNotThroughALink) {
  // Plant something at every name the next dump can take within the next three seconds.
  const auto plant = [](const fs::path &folder, const auto &make) {
    fs::create_directories(folder);
    const std::time_t now = std::time(nullptr);
    for (std::time_t second = now; second < now + 3; ++second) {
      std::tm local{};
      localtime_r(&second, &local);
      for (int counter = 0; counter < 10; ++counter) make(folder / (dump_time_stamp(local, counter) + ".dmp"));
    }
  };

  TempDirAsTemp temp;
  plant(temp.path() / "nimbo", [](const fs::path &path) { std::ofstream(path) << "stale dump"; });
  const fs::path path = wide_to_utf8(write_minidump());
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(readText(path).rfind("nimbo ", 0), 0u);

  TempDirAsTemp linked;
  const fs::path victim = linked.path() / "victim";
  std::ofstream(victim) << "keep me";
  plant(linked.path() / "nimbo", [&](const fs::path &path) { fs::create_symlink(victim, path); });
  EXPECT_EQ(write_minidump(), L"");
  EXPECT_EQ(readText(victim), "keep me");
}

// Workers forked from one process start from the same dump counter; a crash in each within one
// second must still leave two dumps.
TEST(WriteMinidump, ForkedSiblingsKeepEachOthersDumps) {
  TempDirAsTemp temp;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = fork();
    if (pid == 0) _exit(write_minidump().empty() ? 1 : 0);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto dumps = std::distance(fs::directory_iterator(temp.path() / "nimbo"), fs::directory_iterator());
  EXPECT_EQ(dumps, 2);
}

// Dumps planted older than the one written next: it removes the oldest beyond the count, then beyond
// the size, and nothing in the folder that is not a dump.
TEST(WriteMinidump, PrunesTheOldestDumpsBeyondTheirCountAndSize) {
  const auto plant = [](const fs::path &folder, const std::string &name, int minutes_old, std::uintmax_t size) {
    fs::create_directories(folder);
    const fs::path path = folder / name;
    if (name.back() == '/') {
      fs::create_directory(path);
    } else {
      std::ofstream(path) << "old dump";
      fs::resize_file(path, size);  // sparse: big without taking the disk
    }
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(minutes_old));
    return path;
  };
  const auto stamp = [](int second) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-01-01-0000%02d-1", second);
    return std::string(text);
  };

  TempDirAsTemp by_count;
  const fs::path folder = by_count.path() / "nimbo";
  std::vector<fs::path> kept;
  std::vector<fs::path> removed;
  const int planted = static_cast<int>(dumps_kept) + 5;
  for (int i = 0; i < planted; ++i) {
    // As the writer names them and as the tool renames a crash's dump.
    const fs::path path = plant(folder, stamp(i) + (i % 2 == 0 ? ".dmp" : "-4711.dmp"), 100 - i, 100);
    (i < planted - static_cast<int>(dumps_kept) + 1 ? removed : kept).push_back(path);
  }
  for (const std::string &other :
       {std::string("notes.dmp"), stamp(50) + ".dmp.bak", stamp(51) + "-x.dmp", stamp(52) + ".dmp/"}) {
    kept.push_back(plant(folder, other, 1000, 10));
  }
  const fs::path newest = wide_to_utf8(write_minidump());
  ASSERT_FALSE(newest.empty());
  for (const fs::path &path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  for (const fs::path &path : removed) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::exists(newest));

  TempDirAsTemp by_size;
  const std::uintmax_t big = dump_bytes_kept / 2 + 1;
  const fs::path older = plant(by_size.path() / "nimbo", stamp(1) + ".dmp", 20, big);
  const fs::path newer = plant(by_size.path() / "nimbo", stamp(2) + ".dmp", 10, big);
  ASSERT_FALSE(write_minidump().empty());
  EXPECT_FALSE(fs::exists(older));
  EXPECT_TRUE(fs::exists(newer));
}

TEST(WriteMinidump, WithoutTempSaysSoAndFallsBackToTmpdir) {
  TempDir dir;
  ScopedEnv temp("TEMP", std::nullopt);
  ScopedEnv tmpdir("TMPDIR", dir.path().string());
  testing::internal::CaptureStdout();
  const std::wstring path = write_minidump();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Environment variable TEMP not found.\n");
  const std::wstring folder = utf8_to_wide((dir.path() / "nimbo/").string());
  EXPECT_EQ(path.substr(0, folder.size()), folder);
  EXPECT_TRUE(fs::is_regular_file(wide_to_utf8(path)));
}

TEST(CrashDumpFilter, ReportsTheDumpThenTheProcessDiesOfItsSignal) {
  struct Case {
    const char *name;
    int signal;
    void (*crash)();
    const char *in_dump;
  };
  const Case cases[] = {
      {"null write", SIGSEGV, write_null, "Signal: 11 (SIGSEGV: Segmentation fault), code 1, address 0x0\n"},
      {"abort", SIGABRT, [] { std::abort(); }, "Signal: 6 (SIGABRT: Aborted), code -6, sent by process "},
      {"raised", SIGFPE, [] { std::raise(SIGFPE); }, "Signal: 8 (SIGFPE: Floating point exception)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDirAsTemp temp;
    EXPECT_EXIT(crash_under_filter(c.crash), testing::KilledBySignal(c.signal),
                "^Crash dump written to: .*/nimbo/[-0-9]+\\.dmp\n$");
    const std::vector<fs::path> dumps = dumps_in(temp.path());
    ASSERT_EQ(dumps.size(), 1u);
    const std::string dump = readText(dumps[0]);
    EXPECT_NE(dump.find(c.in_dump), std::string::npos) << dump.substr(0, 400);
    EXPECT_NE(dump.find("Registers: pc 0x"), std::string::npos);
  }
}

TEST(CrashDumpFilter, UnwritableDumpFolderIsReportedAndTheProcessStillDies) {
  TempDir dir;
  ScopedEnv temp("TEMP", plain_file_in(dir).string());
  EXPECT_EXIT(crash_under_filter(write_null), testing::KilledBySignal(SIGSEGV), "^Cannot write dump\n$");
}

TEST(Utf8, ConvertsBothWaysAndReplacesWhatIsNotUtf8) {
  const std::string path = "/tmp/donn\xc3\xa9\x65s/\xe2\x82\xac/\xf0\x9f\x98\x80";
  EXPECT_EQ(utf8_to_wide(path), L"/tmp/donn\u00e9es/\u20ac/\U0001F600");
  EXPECT_EQ(wide_to_utf8(utf8_to_wide(path)), path);

  struct Case {
    const char *name;
    std::string bytes;
    std::wstring wide;
  };
  for (const Case &c :
       {Case{"stray byte",
             "a\xff"
             "b",
             L"a\uFFFDb"},
        Case{"truncated sequence", "a\xe2\x82", L"a\uFFFD\uFFFD"}, Case{"overlong slash", "\xc0\xaf", L"\uFFFD\uFFFD"},
        Case{"encoded surrogate", "\xed\xa0\x80", L"\uFFFD\uFFFD\uFFFD"},
        Case{"beyond U+10FFFF", "\xf4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8_to_wide(c.bytes), c.wide);
  }
  EXPECT_EQ(wide_to_utf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
}
