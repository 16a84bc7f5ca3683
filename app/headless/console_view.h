// The console front end's view: the window logic's log on stdout.
//
// Every log line becomes one output line, escaped by EscapeLogLine. Lines are
// collected in memory and written by Flush, which the program calls whenever
// it has caught up and is about to wait, so a reader sees each line at once
// without a system call per line. Once kConsolePendingLimit bytes are
// collected they are written at once: a device that never runs out of work
// still logs in bounded memory. Error boxes and error messages go to stderr
// at once (after flushing the log, so the two stay in order on a terminal).
// The controls a console does not have are no-ops; the simulation box is
// fixed at construction. User-interface thread only. A failed write (a
// closed pipe, a full disk) drops the output; the device keeps serving.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/server_view.h"

namespace app {

inline constexpr std::size_t kConsolePendingLimit = std::size_t{64} * 1024;

class ConsoleView : public ServerView {
 public:
  ConsoleView(int outFd, int errFd, bool simulate);
  ~ConsoleView() override;

  void ShowPortText(const std::string&) override {}
  void ShowBaudRateText(const std::string&) override {}
  void SetOpenPortEnabled(bool) override {}
  bool SimulationChecked() const override { return simulate_; }
  void AddLogLine(std::string_view line) override;
  void ClearLog() override {}
  void ShowErrorBox(const std::string& text) override;

  // The default error display: "error: MESSAGE" on stderr.
  void ShowError(const std::string& message);
  // A message for the user beside the log: "quillane: TEXT" on stderr.
  void ShowNotice(const std::string& text);
  // Writes the collected lines.
  void Flush();

 private:
  void WriteErr(const std::string& text);

  int outFd_;
  int errFd_;
  bool simulate_;
  std::string pending_;
};

}  // namespace app
