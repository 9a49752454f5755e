#include <nimbo/crash_dump.h>

#include <nimbo/environment_variables.h>
#include "utf8.h"

#include <boost/core/demangle.hpp>
#include <boost/stacktrace.hpp>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>

namespace {

constexpr std::size_t max_stack_depth = 128;
constexpr int crash_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// A dump stuck on a lock that the crash left held must not keep a dying process alive.
constexpr unsigned crash_dump_time_limit_seconds = 30;

// Successive dumps carry 1, 2, ..., 9, 0, 1, ...; names repeat only after ten dumps in one second.
std::atomic<int> dump_counter{0};

int next_dump_counter() {
  int current = dump_counter.load();
  while (!dump_counter.compare_exchange_weak(current, (current + 1) % 10)) {
  }
  return (current + 1) % 10;
}

std::string dump_folder_path() { return temp_directory() + "/nimbo/"; }

std::string dump_folder() {
  if (!environment_variable("TEMP")) std::cout << "Environment variable TEMP not found.\n" << std::flush;
  return dump_folder_path();
}

std::tm local_time_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local_time{};
  localtime_r(&now, &local_time);
  return local_time;
}

std::string hex(std::uintptr_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

// --- What the platform tells about this process --------------------------------------------------

std::string read_proc_file(const char *path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  if (file) content << file.rdbuf();
  return content.str();
}

std::string executable_path() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "unknown" : path.string();
}

std::string command_line() {
  std::string arguments = read_proc_file("/proc/self/cmdline");
  if (!arguments.empty() && arguments.back() == '\0') arguments.pop_back();
  for (char &character : arguments) {
    if (character == '\0') character = ' ';
  }
  return arguments;
}

std::string signal_description(const dump_cause &cause) {
  std::ostringstream text;
  const char *abbreviation = sigabbrev_np(cause.signal);
  const char *description = sigdescr_np(cause.signal);
  text << "Signal: " << cause.signal << " (SIG" << (abbreviation ? abbreviation : "?") << ": "
       << (description ? description : "unknown signal") << ")";
  if (const siginfo_t *info = cause.signal_info) {
    text << ", code " << info->si_code;
    // A positive code comes from the kernel, which then names the faulting address; otherwise a
    // process sent the signal.
    if (info->si_code > 0) {
      text << ", address " << hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    } else {
      text << ", sent by process " << info->si_pid;
    }
  }
  text << '\n';
  if (const ucontext_t *context = cause.context) {
#if defined(__x86_64__)
    text << "Registers: pc " << hex(context->uc_mcontext.gregs[REG_RIP]) << ", sp "
         << hex(context->uc_mcontext.gregs[REG_RSP]) << '\n';
#elif defined(__aarch64__)
    text << "Registers: pc " << hex(context->uc_mcontext.pc) << ", sp " << hex(context->uc_mcontext.sp) << '\n';
#else
    (void)context;
#endif
  }
  return text.str();
}

// Names come from the dynamic symbol table; a frame without one still shows its module and offset,
// which addr2line turns into a function and line.
std::string stack_description(const stack_frames &stack) {
  std::ostringstream text;
  for (std::size_t i = 0; i < stack.size(); ++i) {
    const auto address = reinterpret_cast<std::uintptr_t>(stack[i]);
    text << std::setw(2) << i << "# " << hex(address) << ' ';
    Dl_info symbol{};
    if (dladdr(stack[i], &symbol) == 0) {
      text << "??\n";
      continue;
    }
    text << (symbol.dli_sname ? boost::core::demangle(symbol.dli_sname) : "??");
    if (symbol.dli_fname) {
      text << " in " << symbol.dli_fname << '+' << hex(address - reinterpret_cast<std::uintptr_t>(symbol.dli_fbase));
    }
    text << '\n';
  }
  return text.str();
}

std::string dump_text(const dump_cause &cause, const std::tm &local_time) {
  char time_text[64];
  std::strftime(time_text, sizeof time_text, "%Y-%m-%d %H:%M:%S %z", &local_time);
  std::ostringstream text;
  text << "nimbo " << NIMBO_VERSION << " process dump\n"
       << "Time: " << time_text << '\n'
       << "Process: " << getpid() << '\n'
       << "Thread: " << cause.thread_id << '\n'
       << "Executable: " << executable_path() << '\n'
       << "Command line: " << command_line() << '\n';
  if (cause.signal != 0) text << signal_description(cause);
  text << "\nStack of thread " << cause.thread_id << ":\n"
       << stack_description(cause.stack) << "\n/proc/self/status:\n"
       << read_proc_file("/proc/self/status") << "\n/proc/self/maps:\n"
       << read_proc_file("/proc/self/maps");
  return text.str();
}

// write(2) rather than a stream: usable in a signal handler, and standard output may already carry
// narrow text, which bars a wide stream from it.
bool write_all(int descriptor, const std::string &text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(descriptor, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// O_NOFOLLOW: a link planted under a shared temporary folder must not turn the dump onto another file.
// With `fresh`, an existing file is left alone (the open fails with EEXIST).
bool write_file(const std::string &path, const std::string &content, bool fresh) {
  const int mode = fresh ? O_EXCL : O_TRUNC;
  const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | mode | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) return false;
  bool written = write_all(descriptor, content);
  // Don't retry close in case of EINTR: the descriptor is gone either way.
  if (close(descriptor) != 0 && errno != EINTR) written = false;
  if (!written) unlink(path.c_str());
  return written;
}

// The dump itself, without pruning. Processes forked from one parent share its counter, so a
// sibling's dump of the same second may hold the name: take the next free one. Only when all ten
// are taken is the first replaced.
std::string write_dump_file(const dump_cause *cause) {
  try {
    const std::string folder = dump_folder();
    const std::tm local_time = local_time_now();
    mkdir(folder.c_str(), 0700);  // An existing folder is fine; any other failure shows when the file is made.
    const std::string text = cause ? dump_text(*cause, local_time) : dump_text(current_thread_cause(), local_time);
    std::string first;
    for (int tries = 0; tries < 10; ++tries) {
      const std::string path = folder + dump_time_stamp(local_time, next_dump_counter()) + ".dmp";
      if (tries == 0) first = path;
      if (write_file(path, text, true)) return path;
      if (errno != EEXIST) return {};
    }
    return write_file(first, text, false) ? first : std::string();
  } catch (const std::exception &) {
    return {};
  }
}

// <stamp>.dmp as the writer names a dump, or <stamp>-<digits>.dmp as a program keeping a dump apart
// renames it. Anything else in the folder is somebody else's.
bool is_dump_name(const std::string &name) {
  static const std::string stamp = "0000-00-00-000000-0";  // '0' stands for any digit
  static const std::string extension = ".dmp";
  if (name.size() < stamp.size() + extension.size()) return false;
  if (name.compare(name.size() - extension.size(), extension.size(), extension) != 0) return false;
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (stamp[i] == '0' ? !digit : name[i] != stamp[i]) return false;
  }
  const std::string suffix = name.substr(stamp.size(), name.size() - stamp.size() - extension.size());
  return suffix.empty() ||
         (suffix.size() > 1 && suffix[0] == '-' && suffix.find_first_not_of("0123456789", 1) == std::string::npos);
}

struct dump_file {
  std::string path;
  timespec modified;
  std::uintmax_t size;
};

bool newer(const dump_file &a, const dump_file &b) {
  if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec > b.modified.tv_sec;
  if (a.modified.tv_nsec != b.modified.tv_nsec) return a.modified.tv_nsec > b.modified.tv_nsec;
  return a.path > b.path;  // a full order, so that processes pruning at once keep the same files
}

void prune_folder(const std::string &folder, const std::string &keep) {
  try {
    std::vector<dump_file> dumps;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
      struct stat status {};
      // lstat: a link named like a dump is not one.
      if (!is_dump_name(entry->path().filename().string()) || lstat(entry->path().c_str(), &status) != 0 ||
          !S_ISREG(status.st_mode)) {
        continue;
      }
      dumps.push_back({entry->path().string(), status.st_mtim, static_cast<std::uintmax_t>(status.st_size)});
    }
    std::sort(dumps.begin(), dumps.end(), newer);
    // File times are as coarse as the kernel's clock tick, so the dump just written may tie with
    // others: it goes first whatever its time.
    const std::string kept_name = std::filesystem::path(keep).filename().string();
    std::stable_partition(dumps.begin(), dumps.end(), [&](const dump_file &dump) {
      return !kept_name.empty() && std::filesystem::path(dump.path).filename() == kept_name;
    });
    std::uintmax_t bytes = 0;
    for (std::size_t i = 0; i < dumps.size(); ++i) {
      bytes += dumps[i].size;
      // The first stays whatever its size: it is the dump a message is about to name. A file another
      // process removed first fails with ENOENT, which is the outcome wanted anyway.
      if (i > 0 && (i >= dumps_kept || bytes > dump_bytes_kept)) unlink(dumps[i].path.c_str());
    }
  } catch (const std::exception &) {
    // Out of memory: the dumps stay until the next prune.
  }
}

[[noreturn]] void die_of(int signal) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigaction(signal, &default_action, nullptr);
  raise(signal);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, signal);
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
  _exit(128 + signal);
}

std::atomic<pid_t> crashing_thread{0};

void on_crash_signal(int signal, siginfo_t *info, void *context) {
  const pid_t self = gettid();
  pid_t expected = 0;
  if (crashing_thread.compare_exchange_strong(expected, self)) {
    alarm(crash_dump_time_limit_seconds);
    crash_dump_filter(signal, info, context);
  } else if (expected != self) {
    // Another thread is writing the dump; it ends the process when done.
    for (;;) pause();
  }
  die_of(signal);
}

}  // namespace

[[gnu::noinline]] dump_cause current_thread_cause() {
  dump_cause cause;
  cause.thread_id = gettid();
  for (const boost::stacktrace::frame &frame : boost::stacktrace::stacktrace(1, max_stack_depth)) {
    cause.stack.push_back(frame.address());
  }
  return cause;
}

std::string dump_time_stamp(const std::tm &local_time, int counter) {
  char time_text[128];
  const std::size_t length = std::strftime(time_text, sizeof time_text, "%Y-%m-%d-%H%M%S", &local_time);
  return std::string(time_text, length) + "-" + std::to_string(counter);
}

bool dumps_enabled() {
  const std::optional<std::string> setting = environment_variable("NIMBO_DUMPS");
  return !(setting && *setting == "0");
}

std::wstring write_minidump(const dump_cause *cause) {
  if (!dumps_enabled()) return {};
  const std::string path = write_dump_file(cause);
  if (path.empty()) return {};
  prune_folder(std::filesystem::path(path).parent_path().string(), path);
  try {
    return utf8_to_wide(path);
  } catch (const std::exception &) {
    return {};
  }
}

void prune_dumps(const std::string &keep) { prune_folder(dump_folder_path(), keep); }

int crash_dump_filter(int signal, siginfo_t *info, void *context) {
  if (!dumps_enabled()) return 1;
  std::string report = "Cannot write dump\n";
  try {
    dump_cause cause = current_thread_cause();
    cause.signal = signal;
    cause.signal_info = info;
    cause.context = static_cast<const ucontext_t *>(context);
    // No pruning here: a scan of the folder in a dying process only adds work that can hang or fail
    // on what the crash damaged. The next dump written outside a crash prunes, and so does the tool
    // once it has read this report.
    const std::string file_name = write_dump_file(&cause);
    if (!file_name.empty()) report = "Crash dump written to: " + file_name + "\n";
  } catch (const std::exception &) {
    // The report below says there is no dump; the process is ending anyway.
  }
  write_all(STDOUT_FILENO, report);
  return 1;
}

void install_crash_dump_filter() {
  struct sigaction action {};
  action.sa_sigaction = on_crash_signal;
  action.sa_flags = SA_SIGINFO;
  // The dumping thread holds further crash signals off; a fault of its own then kills the process.
  sigemptyset(&action.sa_mask);
  for (const int signal : crash_signals) sigaddset(&action.sa_mask, signal);
  for (const int signal : crash_signals) sigaction(signal, &action, nullptr);
}
