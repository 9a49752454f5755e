#include <nimbo/crash_dump.h>
#include <nimbo/environment_variables.h>

#include "utf8.h"

#include <boost/core/demangle.hpp>
#include <boost/stacktrace.hpp>

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <type_traits>

namespace {

constexpr std::size_t max_stack_depth = 128;
constexpr int crash_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// A dump stuck on a lock that the crash left held must not keep a dying process alive.
constexpr unsigned crash_dump_time_limit_seconds = 30;
constexpr std::size_t dump_path_size = PATH_MAX;
constexpr char temp_missing_note[] = "Environment variable TEMP not found.\n";

// Successive dumps carry 1, 2, ..., 9, 0, 1, ...; names repeat only after ten dumps in one second.
std::atomic<int> dump_counter{0};

int next_dump_counter() {
  int current = dump_counter.load();
  while (!dump_counter.compare_exchange_weak(current, (current + 1) % 10)) {
  }
  return (current + 1) % 10;
}

// temp_directory() + "/nimbo/" put in `folder` without allocating, so that a crash can use it too
// (reading the environment neither allocates nor locks); empty when it does not fit.
void dump_folder_path(char (&folder)[dump_path_size]) {
  const char *temp = temp_directory_in_place();
  folder[0] = '\0';
  if (std::strlen(temp) + sizeof "/nimbo/" <= dump_path_size) std::strcat(std::strcpy(folder, temp), "/nimbo/");
}

std::string dump_folder_path() {
  char folder[dump_path_size];
  dump_folder_path(folder);
  return folder;
}

std::string dump_folder() {
  if (!std::getenv("TEMP")) std::cout << temp_missing_note << std::flush;
  return dump_folder_path();
}

std::tm local_time_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local_time{};
  localtime_r(&now, &local_time);
  return local_time;
}

// --- Text without the allocator ------------------------------------------------------------------
// A crash may come inside the allocator, holding its lock, so a dump is written without allocating:
// numbers formatted here, the text through a fixed buffer, the platform's files copied with read(2).

// Writes `value` in decimal, with leading zeros to `width` digits, at `out`; returns the end.
char *put_decimal(char *out, unsigned long long value, int width = 1) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 || count < width);
  while (count > 0) *out++ = digits[--count];
  return out;
}

// strftime's Y, m, d, H, M, S and z, other characters as they are: strftime reads the locale, which
// is not safe in a signal handler.
char *put_time(char *out, const std::tm &time, const char *format) {
  const char fields[] = "YmdHMS";
  const int values[] = {time.tm_year + 1900, time.tm_mon + 1, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec};
  for (; *format != '\0'; ++format) {
    if (const char *field = std::strchr(fields, *format)) {
      out = put_decimal(out, static_cast<unsigned>(values[field - fields]), field == fields ? 4 : 2);
    } else if (*format == 'z') {
      const long minutes = std::labs(time.tm_gmtoff) / 60;
      *out++ = time.tm_gmtoff < 0 ? '-' : '+';
      out = put_decimal(out, static_cast<unsigned long>(minutes / 60 * 100 + minutes % 60), 4);
    } else {
      *out++ = *format;
    }
  }
  return out;
}

char *put_stamp(char *out, const std::tm &time, int counter) {
  return put_decimal(put_time(out, time, "Y-m-d-HMS-"), static_cast<unsigned>(counter));
}

// write(2) rather than a stream: usable in a signal handler, and standard output may already carry
// narrow text, which bars a wide stream from it.
bool write_all(int descriptor, const char *text, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = write(descriptor, text + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

struct hex {
  std::uintptr_t value;
};

// Text to a file descriptor through a buffer of its own; finish() writes the rest and tells whether
// all of it was written.
class dump_writer {
 public:
  explicit dump_writer(int descriptor) : descriptor_(descriptor) {}
  dump_writer(const dump_writer &) = delete;
  dump_writer &operator=(const dump_writer &) = delete;

  dump_writer &put(const char *text, std::size_t size) {
    while (size > 0) {
      if (used_ == sizeof buffer_) flush();
      const std::size_t part = std::min(size, sizeof buffer_ - used_);
      std::memcpy(buffer_ + used_, text, part);
      used_ += part;
      text += part;
      size -= part;
    }
    return *this;
  }
  dump_writer &operator<<(const char *text) { return put(text, std::strlen(text)); }
  dump_writer &operator<<(char character) { return put(&character, 1); }
  template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer>>>
  dump_writer &operator<<(Integer value) {
    char text[24];
    char *end = text;
    unsigned long long magnitude = static_cast<unsigned long long>(value);
    if constexpr (std::is_signed_v<Integer>) {
      if (value < 0) {
        *end++ = '-';
        magnitude = 0 - magnitude;
      }
    }
    end = put_decimal(end, magnitude);
    return put(text, static_cast<std::size_t>(end - text));
  }
  dump_writer &operator<<(hex number) {
    char text[24] = "0x";
    char *end = text + 2;
    int shift = sizeof number.value * 8 - 4;
    while (shift > 0 && (number.value >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) *end++ = "0123456789abcdef"[(number.value >> shift) & 0xf];
    return put(text, static_cast<std::size_t>(end - text));
  }

  // Copies the file at `path`; with `words`, its words ended by NULs (as /proc/self/cmdline holds the
  // arguments) as one line.
  void copy(const char *path, bool words = false) {
    const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return;
    char chunk[1024];
    bool space = false;  // written only when a word follows it
    for (;;) {
      const ssize_t size = read(descriptor, chunk, sizeof chunk);
      if (size < 0 && errno == EINTR) continue;
      if (size <= 0) break;
      if (!words) {
        put(chunk, static_cast<std::size_t>(size));
        continue;
      }
      for (ssize_t i = 0; i < size; ++i) {
        if (space) *this << ' ';
        space = chunk[i] == '\0';
        if (!space) *this << chunk[i];
      }
    }
    close(descriptor);
  }

  bool finish() {
    flush();
    return !failed_;
  }

 private:
  void flush() {
    if (!failed_ && !write_all(descriptor_, buffer_, used_)) failed_ = true;
    used_ = 0;
  }

  int descriptor_;
  char buffer_[4096];
  std::size_t used_ = 0;
  bool failed_ = false;
};

// --- The dump ------------------------------------------------------------------------------------

// A dump_cause with its stack as an array, which a crash fills without allocating.
struct dump_view {
  pid_t thread_id;
  const void *const *frames;
  std::size_t frame_count;
  int signal;
  const siginfo_t *signal_info;
  const ucontext_t *context;
};

// sigabbrev_np and sigdescr_np only look in tables.
void write_signal(dump_writer &out, const dump_view &cause) {
  const char *abbreviation = sigabbrev_np(cause.signal);
  const char *description = sigdescr_np(cause.signal);
  out << "Signal: " << cause.signal << " (SIG" << (abbreviation ? abbreviation : "?") << ": "
      << (description ? description : "unknown signal") << ")";
  if (const siginfo_t *info = cause.signal_info) {
    out << ", code " << info->si_code;
    // A positive code comes from the kernel, which then names the faulting address; otherwise a
    // process sent the signal.
    if (info->si_code > 0) {
      out << ", address " << hex{reinterpret_cast<std::uintptr_t>(info->si_addr)};
    } else {
      out << ", sent by process " << info->si_pid;
    }
  }
  out << '\n';
  if (const ucontext_t *context = cause.context) {
#if defined(__x86_64__)
    out << "Registers: pc " << hex{static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RIP])} << ", sp "
        << hex{static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RSP])} << '\n';
#elif defined(__aarch64__)
    out << "Registers: pc " << hex{context->uc_mcontext.pc} << ", sp " << hex{context->uc_mcontext.sp} << '\n';
#else
    (void)context;
#endif
  }
}

// Each frame shows its module and offset, which addr2line turns into a function and line;
// _dl_find_object takes no lock. With `names`, the dynamic symbol table's name comes first: dladdr
// takes the loader's lock and demangling allocates, so a crash dump shows "??" there.
void write_stack(dump_writer &out, const dump_view &cause, const char *executable, bool names) {
  for (std::size_t i = 0; i < cause.frame_count; ++i) {
    const void *frame = cause.frames[i];
    const auto address = reinterpret_cast<std::uintptr_t>(frame);
    out << (i < 10 ? " " : "") << i << "# " << hex{address} << ' ';
    dl_find_object module{};
    if (_dl_find_object(const_cast<void *>(frame), &module) != 0) {
      out << "??\n";
      continue;
    }
    Dl_info symbol{};
    if (names && dladdr(frame, &symbol) != 0 && symbol.dli_sname) {
      out << boost::core::demangle(symbol.dli_sname).c_str();
    } else {
      out << "??";
    }
    const char *file = module.dlfo_link_map->l_name;
    out << " in " << (*file != '\0' ? file : executable) << '+'
        << hex{address - reinterpret_cast<std::uintptr_t>(module.dlfo_map_start)} << '\n';
  }
}

void write_dump_text(dump_writer &out, const std::tm &local_time, const dump_view &cause, bool names) {
  char executable[dump_path_size] = "unknown";
  const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length >= 0) executable[length] = '\0';
  char time_text[32];
  *put_time(time_text, local_time, "Y-m-d H:M:S z") = '\0';
  out << "nimbo " << NIMBO_VERSION << " process dump\n"
      << "Time: " << time_text << '\n'
      << "Process: " << getpid() << '\n'
      << "Thread: " << cause.thread_id << '\n'
      << "Executable: " << executable << '\n'
      << "Command line: ";
  out.copy("/proc/self/cmdline", true);
  out << '\n';
  if (cause.signal != 0) write_signal(out, cause);
  out << "\nStack of thread " << cause.thread_id << ":\n";
  write_stack(out, cause, executable, names);
  out << "\n/proc/self/status:\n";
  out.copy("/proc/self/status");
  out << "\n/proc/self/maps:\n";
  out.copy("/proc/self/maps");
}

// Writes the dump to a new file in `folder` (a path ending in '/') and leaves the file's path in
// `path`; false when the folder or the file could not be written. Processes forked from one parent
// share its counter, so a sibling's dump of the same second may hold the name: take the next free
// one. Only when all ten are taken is the first replaced. O_NOFOLLOW: a link planted under a shared
// temporary folder must not turn the dump onto another file.
bool write_dump(const char *folder, const std::tm &local_time, const dump_view &cause, bool names,
                char (&path)[dump_path_size]) {
  const std::size_t folder_size = std::strlen(folder);
  if (folder_size == 0 || folder_size + 32 > dump_path_size) return false;
  std::memcpy(path, folder, folder_size);
  const auto name = [&](int counter) { std::strcpy(put_stamp(path + folder_size, local_time, counter), ".dmp"); };
  mkdir(folder, 0700);  // An existing folder is fine; any other failure shows when the file is made.
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int descriptor = -1;
  int first = 0;
  for (int tries = 0; tries < 10 && descriptor < 0; ++tries) {
    const int counter = next_dump_counter();
    if (tries == 0) first = counter;
    name(counter);
    descriptor = open(path, flags | O_EXCL, 0600);
    if (descriptor < 0 && errno != EEXIST) return false;
  }
  if (descriptor < 0) {
    name(first);
    descriptor = open(path, flags | O_TRUNC, 0600);
    if (descriptor < 0) return false;
  }
  dump_writer out(descriptor);
  write_dump_text(out, local_time, cause, names);
  bool written = out.finish();
  // Don't retry close in case of EINTR: the descriptor is gone either way.
  if (close(descriptor) != 0 && errno != EINTR) written = false;
  if (!written) unlink(path);
  return written;
}

// The dump itself, without pruning.
std::string write_dump_file(const dump_cause *cause) {
  try {
    const std::string folder = dump_folder();
    const dump_cause own = cause ? dump_cause{} : current_thread_cause();
    const dump_cause &about = cause ? *cause : own;
    const dump_view view{about.thread_id, about.stack.data(), about.stack.size(),
                         about.signal,    about.signal_info,  about.context};
    char path[dump_path_size];
    return write_dump(folder.c_str(), local_time_now(), view, true, path) ? std::string(path) : std::string();
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

// The local time's offset from UTC, taken when the filter is installed: the time zone functions
// take a lock, which the crash may have left held.
std::optional<long> crash_utc_offset;

// The local time from the clock and crash_utc_offset. A change to or from summer time while the
// program runs shifts a crash's time by that hour.
std::tm crash_local_time() {
  const long long seconds = static_cast<long long>(std::time(nullptr)) + *crash_utc_offset;
  long long days = seconds / 86400;
  long long second_of_day = seconds % 86400;
  if (second_of_day < 0) {
    second_of_day += 86400;
    --days;
  }
  // The date of a day count from 1970-01-01, through eras of 400 years that begin on 0000-03-01.
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long day_of_era = days - era * 146097;
  const long long year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long month_from_march = (5 * day_of_year + 2) / 153;
  std::tm time{};
  time.tm_mday = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  time.tm_mon = static_cast<int>(month_from_march < 10 ? month_from_march + 2 : month_from_march - 10);
  time.tm_year = static_cast<int>(year_of_era + era * 400 + (time.tm_mon < 2 ? 1 : 0) - 1900);
  time.tm_hour = static_cast<int>(second_of_day / 3600);
  time.tm_min = static_cast<int>(second_of_day / 60 % 60);
  time.tm_sec = static_cast<int>(second_of_day % 60);
  time.tm_gmtoff = *crash_utc_offset;
  return time;
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
  char stamp[32];
  return std::string(stamp, put_stamp(stamp, local_time, counter));
}

bool dumps_enabled() {
  const char *setting = std::getenv("NIMBO_DUMPS");
  return !(setting != nullptr && std::strcmp(setting, "0") == 0);
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
  if (!crash_utc_offset) crash_utc_offset = local_time_now().tm_gmtoff;
  // safe_dump_to ends the frames with a null one, which its count includes.
  const void *frames[max_stack_depth + 1];
  const std::size_t stored = boost::stacktrace::safe_dump_to(frames, sizeof frames);
  const dump_view cause{gettid(), frames, stored > 0 ? stored - 1 : 0,
                        signal,   info,   static_cast<const ucontext_t *>(context)};
  // No pruning here: a scan of the folder in a dying process only adds work that can hang or fail
  // on what the crash damaged. The next dump written outside a crash prunes, and so does the tool
  // once it has read this report.
  char folder[dump_path_size];
  dump_folder_path(folder);
  char path[dump_path_size];
  const bool written = write_dump(folder, crash_local_time(), cause, false, path);
  dump_writer report(STDOUT_FILENO);
  if (!std::getenv("TEMP")) report << temp_missing_note;
  if (written) {
    report << "Crash dump written to: " << path << '\n';
  } else {
    report << "Cannot write dump\n";
  }
  report.finish();
  return 1;
}

void install_crash_dump_filter() {
  crash_utc_offset = local_time_now().tm_gmtoff;
  struct sigaction action {};
  action.sa_sigaction = on_crash_signal;
  action.sa_flags = SA_SIGINFO;
  // The dumping thread holds further crash signals off; a fault of its own then kills the process.
  sigemptyset(&action.sa_mask);
  for (const int signal : crash_signals) sigaddset(&action.sa_mask, signal);
  for (const int signal : crash_signals) sigaction(signal, &action, nullptr);
}
