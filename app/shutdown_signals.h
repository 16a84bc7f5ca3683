// SIGINT and SIGTERM as a request to shut down cleanly.
//
// The constructor blocks both signals for the whole process and ignores
// SIGPIPE (a client that goes away must not end the program), so it must run
// in main before any thread starts (threads inherit the mask). Start hands
// them to a watcher thread that sleeps on a signalfd and an eventfd (no
// polling) and calls `onSignal` from that thread once per signal; the call
// must be safe from any thread (platform::Application::Terminate is). Stop
// (also run by the destructor) ends the watcher, after which `onSignal` is
// never called again; the destructor also restores the signal mask. Errors
// setting up the descriptors throw std::system_error.
//
// On Windows the same requests are Ctrl-C, Ctrl-Break and the console's
// close, log-off and shut-down events, taken by a console control handler
// (SetConsoleCtrlHandler) that the system runs in a thread of its own.
#pragma once

#include <functional>
#include <memory>

namespace platform {
class Application;
}

namespace app {

class ShutdownSignals {
 public:
  ShutdownSignals();
  ~ShutdownSignals();
  ShutdownSignals(const ShutdownSignals&) = delete;
  ShutdownSignals& operator=(const ShutdownSignals&) = delete;

  void Start(std::function<void()> onSignal);
  void Stop();

 private:
  struct Watcher;  // the platform's descriptors and thread
  std::unique_ptr<Watcher> watcher_;
};

// For its lifetime, a signal terminates `application` (its Run returns);
// the watcher is stopped before the application can go away.
class TerminateOnSignals {
 public:
  TerminateOnSignals(ShutdownSignals& shutdownSignals, platform::Application& application);
  ~TerminateOnSignals() { signals_.Stop(); }
  TerminateOnSignals(const TerminateOnSignals&) = delete;
  TerminateOnSignals& operator=(const TerminateOnSignals&) = delete;

 private:
  ShutdownSignals& signals_;
};

}  // namespace app
