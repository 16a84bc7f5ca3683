#include "app/shutdown_signals.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/application.h"

namespace app {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

ShutdownSignals::ShutdownSignals() {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &mask, &previousMask_) != 0) ThrowErrno("pthread_sigmask");
  signalFd_ = signalfd(-1, &mask, SFD_CLOEXEC);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (signalFd_ < 0 || stopFd_ < 0) {
    const int error = errno;
    if (signalFd_ >= 0) ::close(signalFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    throw std::system_error(error, std::generic_category(), "signalfd/eventfd");
  }
}

ShutdownSignals::~ShutdownSignals() {
  Stop();
  ::close(signalFd_);
  ::close(stopFd_);
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void ShutdownSignals::Start(std::function<void()> onSignal) {
  watcher_ = std::thread([this, onSignal = std::move(onSignal)] { Watch(onSignal); });
}

void ShutdownSignals::Stop() {
  if (!watcher_.joinable()) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
  watcher_.join();
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t r = ::read(stopFd_, &count, sizeof count);
}

void ShutdownSignals::Watch(const std::function<void()>& onSignal) const {
  for (;;) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents != 0) {
      signalfd_siginfo info;
      if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) onSignal();
    }
  }
}

TerminateOnSignals::TerminateOnSignals(ShutdownSignals& shutdownSignals,
                                       platform::Application& application)
    : signals_(shutdownSignals) {
  signals_.Start([&application] { application.Terminate(); });
}

}  // namespace app
