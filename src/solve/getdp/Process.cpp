// GetDP as a child process: started in its own folder with the solver's environment, its messages
// collected (and passed on when asked), ended when the caller stops or its time runs out.
#include "Process.h"

#include <nimbo/environment.h>
#include <nimbo/environment_variables.h>
#include <nimbo/nimbo_exception.h>

#include <Message_ProgressScope.hxx>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string missingText(const std::string &getdp) {
  return "GetDP (" + getdp + ") is not installed or not on PATH: install it with \"sudo apt-get install getdp\"";
}

// GetDP's first error, without its "Error   : " lead; else its last line.
std::string messageOf(const std::string &output) {
  std::istringstream lines(output);
  std::string line, last;
  while (std::getline(lines, line)) {
    if (line.rfind("Error", 0) == 0) {
      const std::size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(line.find_first_not_of(' ', colon + 1));
    }
    if (!line.empty()) last = line;
  }
  return last;
}

}  // namespace

std::string findGetdp(const std::string &getdp) {
  const auto runnable = [](const std::string &path) { return access(path.c_str(), X_OK) == 0; };
  // GetDP runs in its scratch folder, so a path relative to here must not stay relative.
  if (getdp.find('/') != std::string::npos) {
    if (runnable(getdp)) return std::filesystem::absolute(getdp).string();
  } else {
    std::istringstream path(environment_variable("PATH").value_or("/usr/bin:/bin"));
    for (std::string folder; std::getline(path, folder, ':');) {
      const std::string candidate = (folder.empty() ? "." : folder) + "/" + getdp;
      if (runnable(candidate)) return std::filesystem::absolute(candidate).string();
    }
  }
  throw nimbo_exception(missingText(getdp));
}

void runGetdp(const std::string &getdp, const std::vector<std::string> &arguments, const std::string &folder,
              const SolveOptions &options, const Message_ProgressRange &progress) {
  prepareSolverEnvironment(options.verbose);
  int output[2];
  int failure[2];  // tells the parent why exec failed
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(failure, O_CLOEXEC) != 0) {
    throw nimbo_exception(std::string("Cannot start GetDP: ") + std::strerror(errno));
  }
  std::vector<std::string> words = {getdp};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    int error = 0;
    if (chdir(folder.c_str()) != 0) {
      error = errno;
    } else {
      dup2(output[1], STDOUT_FILENO);
      dup2(output[1], STDERR_FILENO);
      execvp(argv[0], argv.data());
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
    throw nimbo_exception(std::string("Cannot start GetDP: ") + std::strerror(errno));
  }

  Message_ProgressScope scope(progress, "GetDP", 1);
  const auto started = std::chrono::steady_clock::now();
  std::string text;
  std::string pending;  // the unfinished line, for passing lines on whole
  bool stopped = false, late = false;
  for (;;) {
    pollfd ready{output[0], POLLIN, 0};
    const int polled = poll(&ready, 1, 100);
    if (polled > 0) {
      char buffer[8192];
      const ssize_t n = read(output[0], buffer, sizeof buffer);
      if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
        if (options.verbose) {
          pending.append(buffer, static_cast<std::size_t>(n));
          // Progress is redrawn in place with carriage returns: each state on a line of its own.
          for (std::size_t end; (end = pending.find_first_of("\r\n")) != std::string::npos; pending.erase(0, end + 1)) {
            if (pending.find_first_not_of(' ') < end) std::cerr << "getdp: " << pending.substr(0, end) << '\n';
          }
        }
      } else if (n == 0 || errno != EINTR) {
        break;  // GetDP closed its output: it has ended
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    stopped = scope.UserBreak();
    late = options.seconds > 0 && seconds > options.seconds;
    if (stopped || late) {
      kill(child, SIGKILL);
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
    if (error == ENOENT) throw nimbo_exception(missingText(options.getdp));
    throw nimbo_exception("Cannot start GetDP (" + options.getdp + ") in " + folder + ": " + std::strerror(error));
  }
  if (stopped) throw nimbo_exception("GetDP was stopped before it finished");
  if (late) throw nimbo_exception("GetDP gave up after " + std::to_string(static_cast<int>(options.seconds)) + " s");
  if (WIFSIGNALED(status)) {
    throw nimbo_exception(std::string("GetDP crashed (") + strsignal(WTERMSIG(status)) + ")" +
                          (messageOf(text).empty() ? "" : ": " + messageOf(text)));
  }
  if (WEXITSTATUS(status) != 0 || text.find("\nError") != std::string::npos || text.rfind("Error", 0) == 0) {
    throw nimbo_exception("GetDP failed: " + messageOf(text));
  }
}

}  // namespace nimbo::detail
