// Progress of long reads, drawn on standard error when that is a terminal.
#pragma once

#include <Message_ProgressIndicator.hxx>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

/// One line "<label>  42%" on standard error, redrawn in place. Quick work draws nothing: the line
/// appears once the work has taken half a second. The line is wiped when the indicator goes away,
/// so what the tool prints next starts on a clean line.
class TerminalProgress : public Message_ProgressIndicator {
 public:
  explicit TerminalProgress(std::string label);
  ~TerminalProgress() override;
  TerminalProgress(const TerminalProgress &) = delete;
  TerminalProgress &operator=(const TerminalProgress &) = delete;

  /// An indicator for `label` when standard error is a terminal, otherwise none (a null handle,
  /// which the kernel's progress ranges accept).
  static Handle(TerminalProgress) forStandardError(const std::string &label);

  /// Switches the indicators of forStandardError off (or on again) for this process: the workers
  /// of a batch would draw their lines over one another.
  static void setEnabled(bool enabled);

 protected:
  void Show(const Message_ProgressScope &scope, const Standard_Boolean force) override;
  void Reset() override;

 private:
  std::string label_;
  std::chrono::steady_clock::time_point start_;
  int shown_percent_ = -1;
  std::size_t drawn_width_ = 0;
};

/// The progress of one library call, drawn under `label` by a TerminalProgress of its own. Give it
/// only as the call's argument: it lives to the end of the full expression, so its line is wiped
/// before the tool prints anything else (a range kept in a variable would outlive its indicator).
class OnTerminal {
 public:
  explicit OnTerminal(const std::string &label) : indicator_(TerminalProgress::forStandardError(label)) {}
  operator Message_ProgressRange() const { return Message_ProgressIndicator::Start(indicator_); }

 private:
  Handle(TerminalProgress) indicator_;
};

/// "Reading <file name>" for one file, "Reading" for several.
std::string readingLabel(const std::vector<std::string> &files);
