#include "frontend/Console.h"

#include <nimbo/environment_variables.h>

#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>

#include <easylogging++.h>

#include <sys/stat.h>
#include <unistd.h>
#include <iostream>

namespace {

// The file the logging library's default configuration opens in the working directory as the
// process starts, before main can configure anything.
const char *const default_log_file = "myeasylog.log";
bool log_file_existed = true;

// Priority 101 runs before every static initialiser of default priority, the logging storage's
// among them, so this sees the working directory as the user left it.
__attribute__((constructor(101))) void noteDefaultLogFile() {
  struct stat status {};
  log_file_existed = stat(default_log_file, &status) == 0;
}

// Removes the default log file when this process created it and nothing was written to it.
void removeStartupLogFile() {
  struct stat status {};
  if (log_file_existed || stat(default_log_file, &status) != 0) return;
  if (S_ISREG(status.st_mode) && status.st_size == 0) unlink(default_log_file);
}

// Writes each log record to standard error, the only place the tool's diagnostics go.
class StandardErrorLog : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData *data) override {
    if (data->dispatchAction() != el::base::DispatchAction::NormalLog) return;
    const el::LogMessage *message = data->logMessage();
    std::cerr << message->logger()->logBuilder()->build(message, true) << std::flush;
  }
};

void routeKernelMessages(bool verbose) {
  const Handle(Message_Messenger) &messenger = Message::DefaultMessenger();
  messenger->ChangePrinters().Clear();
  if (!verbose) return;
  const Handle(Message_PrinterOStream) printer = new Message_PrinterOStream("cerr", false, Message_Info);
  printer->SetToColorize(isatty(STDERR_FILENO) != 0);
  messenger->AddPrinter(printer);
}

}  // namespace

void quietStartup() {
  // Without TEMP the dump writer announces its fallback on standard output.
  if (!environment_variable("TEMP")) set_environment_variable("TEMP", temp_directory().c_str());
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  removeStartupLogFile();
}

std::streambuf *routeDiagnostics(bool verbose) {
  if (verbose) el::Helpers::installLogDispatchCallback<StandardErrorLog>("nimbo-shape");
  routeKernelMessages(verbose);
  // Without a buffer the stream drops what it is given.
  return std::cout.rdbuf(verbose ? std::cerr.rdbuf() : nullptr);
}
