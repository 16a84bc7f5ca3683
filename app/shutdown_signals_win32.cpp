// Ctrl-C, Ctrl-Break and the console's close, log-off and shut-down events
// as a request to shut down cleanly.
//
// The system calls the console handler in a thread of its own. Ctrl-C and
// Ctrl-Break are taken (the handler returns TRUE, so the system does not end
// the process). For a close, log-off or shut-down the system ends the
// process once the handler returns, so the handler waits there: main returns
// meanwhile and its exit (status 0) ends the process first.
#include "platform/win32/windows_headers.h"

#include <functional>
#include <mutex>

#include "app/shutdown_signals.h"
#include "platform/application.h"
#include "platform/events.h"

namespace app {

namespace {

// What the handler delivers to; the handler is a plain function, and one
// ShutdownSignals object at a time serves it.
struct Requests {
  std::mutex mutex;
  std::function<void()> onSignal;  // empty while nothing listens
};

Requests& ConsoleRequests() {
  static Requests requests;
  return requests;
}

bool Deliver() {
  Requests& requests = ConsoleRequests();
  std::lock_guard lock(requests.mutex);
  if (!requests.onSignal) return false;
  requests.onSignal();
  return true;
}

BOOL WINAPI ConsoleHandler(DWORD event) {
  const bool delivered = Deliver();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return delivered ? TRUE : FALSE;
  // Close, log-off, shut-down: the process ends when this returns.
  if (delivered) ::Sleep(platform::INFINITE);
  return FALSE;
}

}  // namespace

struct ShutdownSignals::Watcher {};

ShutdownSignals::ShutdownSignals() : watcher_(std::make_unique<Watcher>()) {
  ::SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

ShutdownSignals::~ShutdownSignals() {
  Stop();
  ::SetConsoleCtrlHandler(ConsoleHandler, FALSE);
}

void ShutdownSignals::Start(std::function<void()> onSignal) {
  Requests& requests = ConsoleRequests();
  std::lock_guard lock(requests.mutex);
  requests.onSignal = std::move(onSignal);
}

void ShutdownSignals::Stop() {
  Requests& requests = ConsoleRequests();
  std::lock_guard lock(requests.mutex);
  requests.onSignal = nullptr;
}

TerminateOnSignals::TerminateOnSignals(ShutdownSignals& shutdownSignals,
                                       platform::Application& application)
    : signals_(shutdownSignals) {
  signals_.Start([&application] { application.Terminate(); });
}

}  // namespace app
