#include <nimbo/nimbo_exception.h>

#include <nimbo/crash_dump.h>
#include "utf8.h"

#include <easylogging++.h>

#include <system_error>
#include <thread>

nimbo_exception::nimbo_exception(const std::string &message) : std::domain_error(message) {
  LOG(ERROR) << message;
  // The dump shows the stack of this thread, the one that met the failure, not the worker's.
  const dump_cause cause = current_thread_cause();
  std::thread worker;
  try {
    worker = std::thread([&cause] { write_dump(cause); });
  } catch (const std::system_error &) {
    // Out of threads: dump from here rather than let this error replace the caller's exception.
    write_dump(cause);
    return;
  }
  worker.join();
}

void nimbo_exception::write_dump() { write_dump(current_thread_cause()); }

void nimbo_exception::write_dump(const dump_cause &cause) {
  const std::wstring file_name = write_minidump(&cause);
  if (file_name.empty()) {
    LOG(ERROR) << "Cannot write exception dump";
  } else {
    LOG(ERROR) << "Exception dump written to " << wide_to_utf8(file_name);
  }
}
