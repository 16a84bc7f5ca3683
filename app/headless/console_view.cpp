#include "app/headless/console_view.h"

#include "app/headless/descriptor_output.h"
#include "app/log_text.h"

namespace app {

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

void ConsoleView::ShowNotice(const std::string& text) {
  WriteErr("quillane: " + EscapeLogLine(text) + '\n');
}

void ConsoleView::Flush() {
  if (pending_.empty()) return;
  WriteAllToDescriptor(outFd_, pending_);
  pending_.clear();
}

void ConsoleView::WriteErr(const std::string& text) {
  Flush();
  WriteAllToDescriptor(errFd_, text);
}

}  // namespace app
