#include <nimbo/nimbo_exception.h>

#include <nimbo/crash_dump.h>
#include "utf8.h"

#include <easylogging++.h>

#include <system_error>
#include <thread>

nimbo_exception::nimbo_exception(const std::string &message) : std::domain_error(message) {
  LOG(ERROR) << message;
  if (!dumps_enabled()) return;
  // The dump shows the stack of this thread, the one that met the failure, not the worker's.
  const dump_cause cause = current_thread_cause();
  std::string path;
  std::thread worker;
  try {
    worker = std::thread([&cause, &path] { path = write_dump(cause); });
  } catch (const std::system_error &) {
    // Out of threads: dump from here rather than let this error replace the caller's exception.
    path = write_dump(cause);
  }
  if (worker.joinable()) worker.join();
  if (!path.empty()) dump_path_ = std::make_shared<const std::string>(std::move(path));
}

const std::string &nimbo_exception::dump_path() const {
  static const std::string none;
  return dump_path_ ? *dump_path_ : none;
}

void nimbo_exception::write_dump() {
  if (dumps_enabled()) write_dump(current_thread_cause());
}

std::string nimbo_exception::write_dump(const dump_cause &cause) {
  const std::string path = wide_to_utf8(write_minidump(&cause));
  if (path.empty()) {
    LOG(ERROR) << "Cannot write exception dump";
  } else {
    LOG(ERROR) << "Exception dump written to " << path;
  }
  return path;
}
