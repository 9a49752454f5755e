// Process dumps: a text snapshot of the process for whoever debugs a failure, and the crash filter
// that writes one when a fatal signal arrives.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

/// Return addresses of one thread's stack, innermost first.
using stack_frames = std::vector<const void *>;

/// What a dump is written for: the thread that met the failure, its stack, and for a crash the signal.
struct dump_cause {
  pid_t thread_id = 0;                     ///< kernel id of the failing thread
  stack_frames stack;                      ///< its stack where the failure was met
  int signal = 0;                          ///< the fatal signal; 0 for a failure the program detected
  const siginfo_t *signal_info = nullptr;  ///< the signal's details, when there is a signal
  const ucontext_t *context = nullptr;     ///< the interrupted thread's registers, when there is a signal
};

/// Returns the calling thread's id and its stack, starting at the caller of this function.
dump_cause current_thread_cause();

/// Returns the stamp that names a dump: the local time as YYYY-MM-DD-HHMMSS, "-", then the counter.
std::string dump_time_stamp(const std::tm &local_time, int counter);

/// The most dumps the dump folder keeps, and the most bytes they may take together.
constexpr std::size_t dumps_kept = 20;
constexpr std::uintmax_t dump_bytes_kept = std::uintmax_t{100} << 20;

/// Returns false when the environment variable NIMBO_DUMPS is "0": then no dump is written.
bool dumps_enabled();

/// Writes a text dump of the process (header, signal, symbolised stack, /proc/self/status and maps)
/// to $TEMP/nimbo/<stamp>.dmp, the counter of the stamp running 1..9, 0, 1, ...; returns the path, or
/// empty text when dumps are off or the folder or the file could not be written. Without a cause the
/// dump is about the calling thread. When TEMP is not set it says so on standard output and uses
/// TMPDIR, else /tmp. After writing, it prunes the folder as prune_dumps does.
std::wstring write_minidump(const dump_cause *cause = nullptr);

/// Removes the oldest dumps in $TEMP/nimbo/ beyond the newest dumps_kept, and beyond dump_bytes_kept
/// in all. The dump at `keep` (one about to be named to the user) stays and counts as the newest;
/// without it, the newest stays whatever its size. Only regular files named <stamp>.dmp or
/// <stamp>-<number>.dmp (a dump renamed to keep it apart from later ones) are removed, and one that
/// another process removed first is no error.
void prune_dumps(const std::string &keep = "");

/// Writes a dump of a fatal signal (arguments as a SA_SIGINFO handler receives them), prints
/// "Crash dump written to: <path>" or "Cannot write dump" on standard output and returns 1: the
/// process should end now. With dumps off it writes and prints nothing. It leaves the pruning to the
/// next dump written outside a crash, or to whoever reads its report. It neither allocates nor takes
/// a lock, so a crash inside the allocator or the time zone functions still gets its dump: its stack
/// shows each frame's module and offset but no name, and its time uses the offset from UTC that
/// install_crash_dump_filter found (called before that, it looks the offset up, which takes a lock).
int crash_dump_filter(int signal, siginfo_t *info, void *context);

/// Registers crash_dump_filter for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT. After the dump the
/// process dies of the original signal, so its exit status and core dump stay what they would be.
void install_crash_dump_filter();
