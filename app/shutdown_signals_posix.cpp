#include "app/shutdown_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

#include "platform/application.h"

namespace app {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

struct ShutdownSignals::Watcher {
  void Watch(const std::function<void()>& onSignal) const;

  sigset_t previousMask{};
  int signalFd = -1;
  int stopFd = -1;
  std::thread thread;
};

ShutdownSignals::ShutdownSignals() : watcher_(std::make_unique<Watcher>()) {
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  Watcher& w = *watcher_;
  if (pthread_sigmask(SIG_BLOCK, &mask, &w.previousMask) != 0) ThrowErrno("pthread_sigmask");
  w.signalFd = signalfd(-1, &mask, SFD_CLOEXEC);
  w.stopFd = eventfd(0, EFD_CLOEXEC);
  if (w.signalFd < 0 || w.stopFd < 0) {
    const int error = errno;
    if (w.signalFd >= 0) ::close(w.signalFd);
    if (w.stopFd >= 0) ::close(w.stopFd);
    pthread_sigmask(SIG_SETMASK, &w.previousMask, nullptr);
    throw std::system_error(error, std::generic_category(), "signalfd/eventfd");
  }
}

ShutdownSignals::~ShutdownSignals() {
  Stop();
  ::close(watcher_->signalFd);
  ::close(watcher_->stopFd);
  pthread_sigmask(SIG_SETMASK, &watcher_->previousMask, nullptr);
}

void ShutdownSignals::Start(std::function<void()> onSignal) {
  Watcher& w = *watcher_;
  w.thread = std::thread([&w, onSignal = std::move(onSignal)] { w.Watch(onSignal); });
}

void ShutdownSignals::Stop() {
  Watcher& w = *watcher_;
  if (!w.thread.joinable()) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(w.stopFd, &one, sizeof one);
  w.thread.join();
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t r = ::read(w.stopFd, &count, sizeof count);
}

void ShutdownSignals::Watcher::Watch(const std::function<void()>& onSignal) const {
  for (;;) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents != 0) {
      signalfd_siginfo info;
      if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) onSignal();
    }
  }
}

TerminateOnSignals::TerminateOnSignals(ShutdownSignals& shutdownSignals,
                                       platform::Application& application)
    : signals_(shutdownSignals) {
  signals_.Start([&application] { application.Terminate(); });
}

}  // namespace app
