// nimbo-shape run as a process by the tool's tests, with its exit status and both streams.
#pragma once

#include "test_helpers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace nimbo::test {

struct ToolRun {
  int status;  ///< the exit status; -1 when the tool died of a signal, -2 when it was stopped for hanging
  std::string out;
  std::string err;
  double seconds;
};

/// Runs the tool (`NIMBO_SHAPE_UNDER_TEST`, else the one built here) in `folder`, with TEMP pointed
/// there and both streams going to files (not a terminal); standard output to `out` when given.
/// A tool still running after `limit` seconds is killed.
inline ToolRun runTool(const std::vector<std::string> &args, const std::filesystem::path &folder,
                       const std::filesystem::path &out = {}, double limit = 120.0) {
  std::vector<std::string> env_text = {"TEMP=" + folder.string()};
  for (char **variable = environ; *variable != nullptr; ++variable) {
    if (std::string(*variable).rfind("TEMP=", 0) != 0) env_text.emplace_back(*variable);
  }
  const char *other = std::getenv("NIMBO_SHAPE_UNDER_TEST");
  std::vector<std::string> argv_text = {other != nullptr ? other : NIMBO_SHAPE_EXECUTABLE};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  const auto pointers = [](std::vector<std::string> &texts) {
    std::vector<char *> result;
    for (std::string &text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
  };
  std::vector<char *> argv = pointers(argv_text);
  std::vector<char *> envp = pointers(env_text);
  const std::filesystem::path out_file = out.empty() ? folder / ".stdout" : out;
  const std::filesystem::path err = folder / ".stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // A process group of its own, so that a hang is ended with the tool's workers.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const auto started = std::chrono::steady_clock::now();
  const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv_text[0]);
  int wait_status = 0;
  bool hung = false;
  while (waitpid(pid, &wait_status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() - started > std::chrono::duration<double>(limit)) {
      kill(-pid, SIGKILL);
      hung = true;
      waitpid(pid, &wait_status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const int status = hung ? -2 : WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  return {status, out.empty() ? readText(out_file) : "", readText(err), seconds};
}

}  // namespace nimbo::test
