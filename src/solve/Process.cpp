// A solver as a child process: started in its own folder with the solver's environment, its messages
// collected (and passed on when asked), ended when the caller stops or its time runs out.
#include "Process.h"

#include <nimbo/environment.h>
#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>

#include <Message_ProgressScope.hxx>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>

namespace nimbo::detail {
namespace {

// The solver's environment once per process; its CPU line goes to the log (and to standard error
// when verbose), not to standard output, which belongs to the caller's report.
void prepareSolverEnvironment(bool verbose) {
  static std::once_flag once;
  static std::string line;
  std::call_once(once, [] {
    std::ostringstream captured;
    std::streambuf *const previous = std::cout.rdbuf(captured.rdbuf());
    try {
      query_solver_cpu_info();
    } catch (...) {
      std::cout.rdbuf(previous);
      throw;
    }
    std::cout.rdbuf(previous);
    line = captured.str();
  });
  if (verbose) std::cerr << line;
}

std::string missingText(const Program &program) {
  return program.name + " (" + program.path + ") is not installed or not on PATH: install Debian's " +
         program.package + " (\"sudo apt-get install " + program.package + "\")";
}

// The program's own error line; else its last line.
std::string messageOf(const Program &program, const std::string &output) {
  const std::string error = program.errorIn(output);
  if (!error.empty()) return error;
  std::istringstream lines(output);
  std::string line, last;
  while (std::getline(lines, line)) {
    if (line.find_first_not_of(' ') != std::string::npos) last = line;
  }
  return last;
}

}  // namespace

Program findProgram(Program program) {
  const auto runnable = [](const std::string &path) { return access(path.c_str(), X_OK) == 0; };
  // The program runs in its scratch folder, so a path relative to here must not stay relative.
  if (program.path.find('/') != std::string::npos) {
    if (runnable(program.path)) {
      program.path = std::filesystem::absolute(program.path).string();
      return program;
    }
  } else {
    std::istringstream path(environment_variable("PATH").value_or("/usr/bin:/bin"));
    for (std::string folder; std::getline(path, folder, ':');) {
      const std::string candidate = (folder.empty() ? "." : folder) + "/" + program.path;
      if (runnable(candidate)) {
        program.path = std::filesystem::absolute(candidate).string();
        return program;
      }
    }
  }
  throw nimbo_exception(missingText(program));
}

std::string runProgram(const Program &program, const std::vector<std::string> &arguments, const std::string &folder,
                       const SolveOptions &options, const Message_ProgressRange &progress) {
  prepareSolverEnvironment(options.verbose);
  const std::string &name = program.name;
  int output[2];
  int failure[2];  // tells the parent why exec failed
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(failure, O_CLOEXEC) != 0) {
    throw nimbo_exception("Cannot start " + name + ": " + std::strerror(errno));
  }
  std::vector<std::string> words = {program.path};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // This process's environment with the program's own settings in place of those of their names,
  // made before the fork: the child may only exec.
  std::vector<std::string> settings;
  for (char **entry = environ; *entry; ++entry) {
    const std::string setting = *entry;
    const std::string name = setting.substr(0, setting.find('=') + 1);
    const auto same = [&](const std::string &own) { return own.rfind(name, 0) == 0; };
    if (std::none_of(program.environment.begin(), program.environment.end(), same)) settings.push_back(setting);
  }
  settings.insert(settings.end(), program.environment.begin(), program.environment.end());
  std::vector<char *> envp;
  for (std::string &setting : settings) envp.push_back(setting.data());
  envp.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    // A group of its own, so that stopping it stops what it started too: mpirun's processes. And
    // ended when this process is (a worker given up on is killed): mpirun passes SIGTERM on.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    int error = 0;
    if (chdir(folder.c_str()) != 0) {
      error = errno;
    } else {
      dup2(output[1], STDOUT_FILENO);
      dup2(output[1], STDERR_FILENO);
      execve(argv[0], argv.data(), envp.data());
      error = errno;
    }
    (void)!write(failure[1], &error, sizeof error);
    _exit(127);
  }
  close(output[1]);
  close(failure[1]);
  if (child < 0) {
    close(output[0]);
    close(failure[0]);
    throw nimbo_exception("Cannot start " + name + ": " + std::strerror(errno));
  }

  constexpr int steps = 100;
  Message_ProgressScope scope(progress, name.c_str(), steps);
  int done = 0;
  const auto started = std::chrono::steady_clock::now();
  std::string text;
  std::string pending;  // the unfinished line, for passing lines on whole
  const std::string prefix = std::filesystem::path(program.path).filename().string() + ": ";
  bool stopped = false, late = false;
  for (;;) {
    pollfd ready{output[0], POLLIN, 0};
    const int polled = poll(&ready, 1, 100);
    if (polled > 0) {
      char buffer[8192];
      const ssize_t n = read(output[0], buffer, sizeof buffer);
      if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
        pending.append(buffer, static_cast<std::size_t>(n));
        // Progress is redrawn in place with carriage returns: each state on a line of its own.
        for (std::size_t end; (end = pending.find_first_of("\r\n")) != std::string::npos; pending.erase(0, end + 1)) {
          const std::string line = pending.substr(0, end);
          if (options.verbose && line.find_first_not_of(' ') != std::string::npos) std::cerr << prefix << line << '\n';
          const double along = program.progressIn ? program.progressIn(line) : -1.0;
          for (; done < std::min(static_cast<int>(along * steps), steps); ++done) scope.Next();
        }
      } else if (n == 0 || errno != EINTR) {
        break;  // the program closed its output: it has ended
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    stopped = scope.UserBreak();
    late = options.seconds > 0 && seconds > options.seconds;
    if (stopped || late) {
      kill(-child, SIGKILL);
      kill(child, SIGKILL);  // in case it had not yet made its group
      break;
    }
  }
  close(output[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  const bool execFailed = read(failure[0], &error, sizeof error) == static_cast<ssize_t>(sizeof error);
  close(failure[0]);

  if (execFailed) {
    if (error == ENOENT) throw nimbo_exception(missingText(program));
    throw nimbo_exception("Cannot start " + name + " (" + program.path + ") in " + folder + ": " + std::strerror(error));
  }
  if (stopped) throw nimbo_exception(name + " was stopped before it finished");
  if (late) throw nimbo_exception(name + " gave up after " + std::to_string(static_cast<int>(options.seconds)) + " s");
  const std::string message = messageOf(program, text);
  if (WIFSIGNALED(status)) {
    throw nimbo_exception(name + " crashed (" + strsignal(WTERMSIG(status)) + ")" + (message.empty() ? "" : ": " + message));
  }
  if (WEXITSTATUS(status) != 0 || !program.errorIn(text).empty()) throw nimbo_exception(name + " failed: " + message);
  return text;
}

}  // namespace nimbo::detail
