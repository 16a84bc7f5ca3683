#include "app/headless/console_view.h"

#include <unistd.h>

#include <cerrno>

#include "app/log_text.h"

namespace app {
namespace {

// Writes all of `text`; gives up quietly on an error other than EINTR.
void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

ConsoleView::ConsoleView(int outFd, int errFd, bool simulate)
    : outFd_(outFd), errFd_(errFd), simulate_(simulate) {}

ConsoleView::~ConsoleView() {
  Flush();
}

void ConsoleView::AddLogLine(std::string_view line) {
  AppendEscapedLogLine(pending_, line);
  pending_ += '\n';
  if (pending_.size() >= kConsolePendingLimit) Flush();
}

void ConsoleView::ShowErrorBox(const std::string& text) {
  WriteErr(text + '\n');
}

void ConsoleView::ShowError(const std::string& message) {
  WriteErr("error: " + EscapeLogLine(message) + '\n');
}

void ConsoleView::Flush() {
  if (pending_.empty()) return;
  WriteAll(outFd_, pending_);
  pending_.clear();
}

void ConsoleView::WriteErr(const std::string& text) {
  Flush();
  WriteAll(errFd_, text);
}

}  // namespace app
