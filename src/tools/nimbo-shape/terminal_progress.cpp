#include "terminal_progress.h"

#include <nimbo/environment.h>

#include <unistd.h>
#include <cstdio>
#include <utility>

TerminalProgress::TerminalProgress(std::string label)
    : label_(std::move(label)), start_(std::chrono::steady_clock::now()) {}

TerminalProgress::~TerminalProgress() {
  // Blanks rather than an erase sequence: plain characters work on every terminal.
  if (drawn_width_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_width_), "");
}

namespace {
bool enabled = true;
}  // namespace

void TerminalProgress::setEnabled(bool on) { enabled = on; }

Handle(TerminalProgress) TerminalProgress::forStandardError(const std::string &label) {
  if (!enabled || isatty(STDERR_FILENO) == 0) return Handle(TerminalProgress)();
  return new TerminalProgress(label);
}

void TerminalProgress::Show(const Message_ProgressScope &, const Standard_Boolean force) {
  using namespace std::chrono_literals;
  if (!force && std::chrono::steady_clock::now() - start_ < 500ms) return;
  const int percent = static_cast<int>(GetPosition() * 100.0);
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  const int width = std::fprintf(stderr, "\r%s %3d%%", label_.c_str(), percent) - 1;
  if (width > 0) drawn_width_ = static_cast<std::size_t>(width);
}

void TerminalProgress::Reset() {
  start_ = std::chrono::steady_clock::now();
  shown_percent_ = -1;
}

std::string readingLabel(const std::vector<std::string> &files) {
  return files.size() == 1 ? "Reading " + file_name_of(files.front()) : "Reading";
}
