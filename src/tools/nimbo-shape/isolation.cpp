#include "isolation.h"

#include "shape_files.h"

#include <nimbo/crash_dump.h>

#include <Standard_Failure.hxx>
#include <Standard_OutOfMemory.hxx>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t stop_signal = 0;

void noteStop(int signal) { stop_signal = signal; }

// While work runs, a stop request is noted, so that the workers are ended before the tool goes.
class StopRequests {
 public:
  StopRequests() {
    struct sigaction action {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 2; ++i) sigaction(signals_[i], &action, &previous_[i]);
  }
  ~StopRequests() {
    for (int i = 0; i < 2; ++i) sigaction(signals_[i], &previous_[i], nullptr);
  }
  StopRequests(const StopRequests &) = delete;
  StopRequests &operator=(const StopRequests &) = delete;

 private:
  const int signals_[2] = {SIGINT, SIGTERM};
  struct sigaction previous_[2];
};

// What the crash filter prints on standard output once it has written its dump.
const std::string dump_report = "Crash dump written to: ";

// The worker's message to the tool: its status, then subject, problem, report and dump, each as
// "<length>\n<bytes>" so that any text, newlines included, comes through.
std::string encode(const WorkResult &result) {
  std::string message = std::to_string(static_cast<int>(result.ending)) + "\n" + std::to_string(result.status) + "\n";
  for (const std::string *field : {&result.subject, &result.problem, &result.output, &result.dump}) {
    message += std::to_string(field->size()) + "\n" + *field;
  }
  return message;
}

std::optional<WorkResult> decode(const std::string &message) {
  std::size_t position = 0;
  const auto number = [&]() -> std::optional<std::size_t> {
    const std::size_t end = message.find('\n', position);
    if (end == std::string::npos || end == position) return std::nullopt;
    const std::string digits = message.substr(position, end - position);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    position = end + 1;
    return std::stoul(digits);
  };
  WorkResult result;
  const std::optional<std::size_t> ending = number();
  const std::optional<std::size_t> status = number();
  if (!ending || *ending > static_cast<std::size_t>(Ending::out_of_memory) || !status) return std::nullopt;
  result.ending = static_cast<Ending>(*ending);
  result.status = static_cast<int>(*status);
  for (std::string *field : {&result.subject, &result.problem, &result.output, &result.dump}) {
    const std::optional<std::size_t> length = number();
    if (!length || message.size() - position < *length) return std::nullopt;
    *field = message.substr(position, *length);
    position += *length;
  }
  if (position != message.size()) return std::nullopt;
  return result;
}

void writeAll(int fd, const std::string &bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the tool is gone; nobody is left to tell
    written += static_cast<std::size_t>(n);
  }
}

void limitMemory(std::size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer's shadow memory alone takes terabytes of address space.
  static_cast<void>(bytes);
#else
  if (bytes == 0) return;
  const rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_AS, &limit);
#endif
}

std::string secondsText(double seconds) {
  std::ostringstream text;
  text << seconds;
  return text.str();
}

// Where the worker's terminate handler sends its outcome.
int worker_result_fd = -1;
std::string worker_out_of_memory;  // the whole message, made beforehand: memory is short by then

// The kernel sometimes runs out of memory where an exception cannot pass (a destructor, a noexcept
// function): that is still running out of memory, not a crash.
[[noreturn]] void onTerminate() {
  bool memory = false;
  try {
    if (const std::exception_ptr pending = std::current_exception()) std::rethrow_exception(pending);
  } catch (const std::bad_alloc &) {
    memory = true;
  } catch (const Standard_OutOfMemory &) {
    memory = true;
  } catch (...) {
  }
  if (!memory) std::abort();
  writeAll(worker_result_fd, worker_out_of_memory);
  _exit(2);
}

// In the worker: runs the work, sends its outcome and ends without the parent's exit handlers.
[[noreturn]] void runWorker(const Work &work, const WorkLimits &limits, int result_fd, int capture_fd) {
  // The crash filter reports its dump on standard output, which is the tool's to read here.
  dup2(capture_fd, STDOUT_FILENO);
  close(capture_fd);
  limitMemory(limits.memory_bytes);
  const std::string out_of_memory = "ran out of memory (limit " + byteSizeText(limits.memory_bytes) + ")";
  worker_result_fd = result_fd;
  worker_out_of_memory = encode({Ending::out_of_memory, 2, "", work.subject, out_of_memory, ""});
  std::set_terminate(onTerminate);
  WorkResult result{Ending::failed, 2, "", work.subject, "", ""};
  try {
    std::ostringstream out;
    result.status = work.run(out);
    result.output = out.str();
    result.ending = Ending::ok;
  } catch (const file_error &error) {
    result.subject = error.subject();
    result.problem = error.what();
    result.dump = error.dump();
  } catch (const nimbo_exception &error) {
    // One that no `about` turned into the tool's error still names its dump.
    const file_error named(work.subject, error.what(), error.dump_path());
    result.problem = named.what();
    result.dump = named.dump();
  } catch (const std::bad_alloc &) {
    result.ending = Ending::out_of_memory;
    result.problem = out_of_memory;
  } catch (const std::exception &error) {
    result.problem = error.what();
  } catch (const Standard_Failure &failure) {
    result.problem = nimbo::kernelFailureText(failure);
  }
  writeAll(result_fd, encode(result));
  _exit(result.status);
}

struct Worker {
  std::size_t index;
  pid_t pid;
  int result_fd;
  int capture_fd;
  Clock::time_point deadline;
  std::string message;
  std::string captured;
  bool timed_out = false;
};

Worker start(const std::vector<Work> &work, std::size_t index, const WorkLimits &limits) {
  int result_pipe[2];
  int capture_pipe[2];
  if (pipe2(result_pipe, O_CLOEXEC) != 0) throw file_error(work[index].subject, std::strerror(errno));
  if (pipe2(capture_pipe, O_CLOEXEC) != 0) {
    close(result_pipe[0]);
    close(result_pipe[1]);
    throw file_error(work[index].subject, std::strerror(errno));
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // A group of its own, so that ending the worker ends what it started too (the solver).
    setpgid(0, 0);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    close(result_pipe[0]);
    close(capture_pipe[0]);
    runWorker(work[index], limits, result_pipe[1], capture_pipe[1]);
  }
  close(result_pipe[1]);
  close(capture_pipe[1]);
  if (pid > 0) setpgid(pid, pid);  // also here, so that no kill comes before the child's own call
  if (pid < 0) {
    close(result_pipe[0]);
    close(capture_pipe[0]);
    throw file_error(work[index].subject, std::string("cannot start a worker: ") + std::strerror(errno));
  }
  const auto limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limits.seconds));
  Worker worker{index, pid, result_pipe[0], capture_pipe[0], Clock::now() + limit, {}, {}};
  return worker;
}

// The dump a crashed worker's filter reported, renamed with the worker's id: dump names hold ten a
// second, and a batch may crash faster than that. Only live workers can take a name, so none is
// lost. Empty when there is none.
std::string crashDump(const std::string &captured, pid_t pid) {
  const std::size_t at = captured.find(dump_report);
  if (at == std::string::npos) return "";
  const std::size_t start = at + dump_report.size();
  std::string dump = captured.substr(start, captured.find('\n', start) - start);
  const std::string kept = dump.substr(0, dump.size() - 4) + "-" + std::to_string(pid) + ".dmp";
  if (dump.size() > 4 && std::rename(dump.c_str(), kept.c_str()) == 0) dump = kept;
  // The filter leaves the pruning to whoever reads its report: the dying worker should not scan.
  prune_dumps(dump);
  return dump;
}

// Why a worker ended without its message: a signal (a crash, or the kernel's out-of-memory killer)
// or an exit that skipped the report (a sanitizer's abort).
std::string crashText(int wait_status, const std::string &dump) {
  std::string text;
  if (WIFSIGNALED(wait_status)) {
    const int signal = WTERMSIG(wait_status);
    const char *abbreviation = sigabbrev_np(signal);
    const char *description = sigdescr_np(signal);
    text = std::string(signal == SIGKILL ? "was killed" : "crashed") + " (SIG" + (abbreviation ? abbreviation : "?") +
           ": " + (description ? description : "unknown signal") + ")";
    if (signal == SIGKILL) text += ", perhaps for want of memory";
  } else {
    text = "ended without a report (exit status " + std::to_string(WEXITSTATUS(wait_status)) + ")";
  }
  if (!dump.empty()) text += "; crash dump " + dump;
  return text;
}

WorkResult outcomeOf(const Work &work, const Worker &worker, int wait_status, const WorkLimits &limits) {
  if (worker.timed_out) {
    return {Ending::timed_out, 2, "", work.subject, "gave up after " + secondsText(limits.seconds) + " s", ""};
  }
  if (WIFEXITED(wait_status)) {
    if (std::optional<WorkResult> result = decode(worker.message)) return *result;
  }
  const std::string dump = crashDump(worker.captured, worker.pid);
  return {Ending::crashed, 2, "", work.subject, crashText(wait_status, dump), dump};
}

// Reads what is there; closes the descriptor at its end.
void drain(int &fd, std::string &into) {
  char buffer[65536];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    close(fd);
    fd = -1;
  }
}

}  // namespace

void runIsolated(const std::vector<Work> &work, int parallel, const WorkLimits &limits,
                 const std::function<void(std::size_t, const WorkResult &)> &finished) {
  const StopRequests stop_requests;
  stop_signal = 0;
  std::vector<std::optional<WorkResult>> results(work.size());
  std::vector<Worker> running;
  std::size_t next = 0;
  std::size_t reported = 0;
  while (reported < work.size()) {
    while (static_cast<int>(running.size()) < std::max(parallel, 1) && next < work.size()) {
      running.push_back(start(work, next++, limits));
    }
    std::vector<pollfd> fds;
    Clock::time_point nearest = Clock::time_point::max();
    for (const Worker &worker : running) {
      for (const int fd : {worker.result_fd, worker.capture_fd}) {
        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
      }
      if (!worker.timed_out) nearest = std::min(nearest, worker.deadline);
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nearest - Clock::now()).count();
    // A stop request that comes just before the wait is seen within a quarter second.
    const int timeout_ms = static_cast<int>(std::clamp<long long>(wait + 1, 0, 250));
    if (!fds.empty() && poll(fds.data(), fds.size(), timeout_ms) < 0 && errno != EINTR) {
      throw std::runtime_error(std::string("waiting for the workers failed: ") + std::strerror(errno));
    }
    if (stop_signal != 0) {
      for (Worker &worker : running) {
        kill(-worker.pid, SIGKILL);
        while (waitpid(worker.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        for (const int fd : {worker.result_fd, worker.capture_fd}) {
          if (fd >= 0) close(fd);
        }
      }
      throw interrupted(stop_signal);
    }
    for (Worker &worker : running) {
      for (const pollfd &ready : fds) {
        if (ready.revents == 0) continue;
        if (ready.fd == worker.result_fd) drain(worker.result_fd, worker.message);
        if (ready.fd == worker.capture_fd) drain(worker.capture_fd, worker.captured);
      }
      if (!worker.timed_out && Clock::now() >= worker.deadline) {
        kill(-worker.pid, SIGKILL);
        worker.timed_out = true;
      }
    }
    for (auto worker = running.begin(); worker != running.end();) {
      if (worker->result_fd >= 0 || worker->capture_fd >= 0) {
        ++worker;
        continue;
      }
      int wait_status = 0;
      while (waitpid(worker->pid, &wait_status, 0) < 0 && errno == EINTR) {
      }
      results[worker->index] = outcomeOf(work[worker->index], *worker, wait_status, limits);
      worker = running.erase(worker);
    }
    for (; reported < work.size() && results[reported]; ++reported) finished(reported, *results[reported]);
  }
}

std::size_t defaultMemoryLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size) / 2;
}

std::size_t parseByteSize(const std::string &text) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0) throw std::invalid_argument("not a size: " + text);
  std::string unit = text.substr(digits);
  for (char &c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::pair<const char *, int> units[] = {{"", 0},     {"B", 0},   {"K", 10},   {"KB", 10}, {"KIB", 10},
                                                {"M", 20},   {"MB", 20}, {"MIB", 20}, {"G", 30},  {"GB", 30},
                                                {"GIB", 30}, {"T", 40},  {"TB", 40},  {"TIB", 40}};
  for (const auto &[name, shift] : units) {
    if (unit != name) continue;
    const unsigned long long value = std::stoull(text.substr(0, digits));
    if (value == 0 || value > (~0ULL >> shift)) throw std::invalid_argument("not a usable size: " + text);
    return static_cast<std::size_t>(value << shift);
  }
  throw std::invalid_argument("unknown unit in size " + text + "; use K, M, G or T");
}

std::string byteSizeText(std::size_t bytes) {
  const char *const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  std::ostringstream text;
  text.precision(value < 10 && unit > 0 ? 2 : 4);
  text << value << " " << units[unit];
  return text.str();
}
