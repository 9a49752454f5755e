// Process dumps and the crash filter: the dump's name and counter, where it is written and what it
// replaces, the pruning of old dumps, a crash's dump and death; and the UTF-8 conversion of paths.
#include <nimbo/crash_dump.h>
#include "utf8.h"

#include "dump_helpers.h"
#include "test_helpers.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using nimbo::test::crash_under_filter;
using nimbo::test::dumps_in;
using nimbo::test::plain_file_in;
using nimbo::test::readText;
using nimbo::test::ScopedEnv;
using nimbo::test::TempDir;
using nimbo::test::TempDirAsTemp;
using nimbo::test::write_null;

namespace {

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

// glibc checks a freed block against its neighbours with its arena's lock held, and aborts from
// there when the block was free already. It takes that lock once the process has had a second thread.
void free_twice_inside_the_allocator() {
  std::thread([] {}).join();
  void *volatile block = std::malloc(64 << 10);  // beyond the thread's cache and the fast bins
  std::free(block);
  std::free(block);
}

}  // namespace

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
  // A zone half an hour off the hour: the filter works the local time out without the zone's functions.
  struct ZoneReset {
    ~ZoneReset() { tzset(); }
  } zone_reset;
  ScopedEnv zone("TZ", "<+0530>-05:30");
  tzset();
  const auto stamp_now = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return dump_time_stamp(local, 0).substr(0, 17);
  };
  const std::string in_executable = " in " + fs::read_symlink("/proc/self/exe").string() + "+0x";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDirAsTemp temp;
    const std::string before = stamp_now();
    EXPECT_EXIT(crash_under_filter(c.crash), testing::KilledBySignal(c.signal),
                "^Crash dump written to: .*/nimbo/[-0-9]+\\.dmp\n$");
    const std::string after = stamp_now();
    const std::vector<fs::path> dumps = dumps_in(temp.path());
    ASSERT_EQ(dumps.size(), 1u);
    const std::string stamp = dumps[0].filename().string().substr(0, 17);
    EXPECT_TRUE(before <= stamp && stamp <= after) << before << " " << stamp << " " << after;
    const std::string dump = readText(dumps[0]);
    EXPECT_NE(dump.find(c.in_dump), std::string::npos) << dump.substr(0, 400);
    EXPECT_NE(dump.find(" +0530\n"), std::string::npos);
    EXPECT_NE(dump.find("Registers: pc 0x"), std::string::npos);
    EXPECT_NE(dump.find(in_executable), std::string::npos);
  }
}

TEST(CrashDumpFilter, UnwritableDumpFolderIsReportedAndTheProcessStillDies) {
  TempDir dir;
  ScopedEnv temp("TEMP", plain_file_in(dir).string());
  EXPECT_EXIT(crash_under_filter(write_null), testing::KilledBySignal(SIGSEGV), "^Cannot write dump\n$");
}

// The allocator's lock stays held by the crashed thread: a filter that allocated would wait on it
// until its time limit (30 s) ended the process, and a batch would report the worker only then.
TEST(CrashDumpFilter, CrashInsideTheAllocatorIsDumpedAndEndsAtOnce) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reports the double free itself";
#endif
  TempDirAsTemp temp;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EXIT(crash_under_filter(free_twice_inside_the_allocator), testing::KilledBySignal(SIGABRT),
              "Crash dump written to: .*/nimbo/[-0-9]+\\.dmp\n$");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(dumps_in(temp.path()).size(), 1u);
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
