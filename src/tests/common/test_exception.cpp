// The application exception: the records it logs, the dump it writes and names, its copies, and
// what it does when no dump can or may be written.
#include <nimbo/crash_dump.h>
#include <nimbo/nimbo_exception.h>

#include "dump_helpers.h"
#include "test_helpers.h"

#include <easylogging++.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <mutex>
#include <regex>
#include <set>
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

const std::regex dump_name(R"(\d{4}-\d{2}-\d{2}-\d{6}-\d\.dmp)");

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
