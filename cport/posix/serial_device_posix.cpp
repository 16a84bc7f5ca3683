#include "cport/posix/serial_device_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>

#include "cport/detail/device_openers.h"
#include "cport/posix/termios2_rate.h"
#include "cport/posix/termios_mapping.h"
#include "cport/posix/tty_line.h"

namespace cport::detail {

using device::DCB;
using device::ERROR_SUCCESS;

namespace {

// Linux majors of pseudo-terminal slaves: UNIX98 ones and the legacy BSD ones.
constexpr unsigned kUnix98SlaveMajorFirst = 136;
constexpr unsigned kUnix98SlaveMajorLast = 143;
constexpr unsigned kLegacySlaveMajor = 3;

// TIOCMIWAIT cannot be woken by a descriptor; a signal without SA_RESTART
// makes it return EINTR. SIGURG is ignored by default and rarely used.
constexpr int kWakeSignal = SIGURG;

void IgnoreSignal(int) {}

void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    ::sigaction(kWakeSignal, nullptr, &current);
    if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) return;  // someone's own
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(kWakeSignal, &action, nullptr);
  });
}

DWORD StatusFromLines(int lines) {
  DWORD status = 0;
  if ((lines & TIOCM_CTS) != 0) status |= device::MS_CTS_ON;
  if ((lines & TIOCM_DSR) != 0) status |= device::MS_DSR_ON;
  if ((lines & TIOCM_RNG) != 0) status |= device::MS_RING_ON;
  if ((lines & TIOCM_CD) != 0) status |= device::MS_RLSD_ON;
  return status;
}

}  // namespace

bool IsPseudoTerminalSlave(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned major = ::major(info.st_rdev);
  return (major >= kUnix98SlaveMajorFirst && major <= kUnix98SlaveMajorLast) ||
         major == kLegacySlaveMajor;
}

PosixLine::PosixLine(UniqueFd fd, SerialDriver& driver, std::shared_ptr<IoStats> stats)
    : TtyLine(std::move(fd), driver,
              {.watchErrorCounters = true, .hooks = nullptr, .stats = std::move(stats)}),
      pseudoTerminal_(IsPseudoTerminalSlave(Fd())) {}

PosixLine::~PosixLine() {
  Close();
}

void PosixLine::Start() {
  DWORD status = 0;
  hasModemLines_ = ReadModemStatus(status);
  Driver().SetModemStatus(status);
  StartIo();
  if (hasModemLines_) {
    InstallWakeHandler();
    modemWatch_ = std::thread([this] { WatchModemLines(); });
  }
}

device::DeviceError PosixLine::ApplyState(const DCB& dcb) {
  if (const DWORD result = ApplyTermios(dcb); result != ERROR_SUCCESS) return result;
  Io().SetParityMarks((dcb.Flags & device::DCB_fParity) != 0);
  SetModemLevels(dcb);
  return ERROR_SUCCESS;
}

device::DeviceError PosixLine::ApplyTermios(const DCB& dcb) {
  const int fd = Fd();
  termios previous{};
  if (::tcgetattr(fd, &previous) != 0) return Failure(errno);
  std::uint32_t previousRate = 0;
  const bool knowPreviousRate = ReadRate(fd, previousRate) == 0;

  termios wanted = previous;
  if (const DWORD result = MapDcbToTermios(dcb, wanted); result != ERROR_SUCCESS) return result;
  if (::tcsetattr(fd, TCSANOW, &wanted) != 0) return Failure(errno);
  bool took = StandardSpeed(dcb.BaudRate) != B0 || SetAnyRate(fd, dcb.BaudRate) == 0;

  // tcsetattr succeeds when any part of the request took: read it back.
  termios actual{};
  std::uint32_t rate = 0;
  took = took && ::tcgetattr(fd, &actual) == 0 && ReadRate(fd, rate) == 0 &&
         TermiosTook(wanted, actual, pseudoTerminal_) && RateTook(dcb.BaudRate, rate);
  if (took) return ERROR_SUCCESS;

  // Like a Windows driver, a refused setting leaves the line as it was.
  ::tcsetattr(fd, TCSANOW, &previous);
  std::uint32_t restored = 0;
  if (knowPreviousRate && ReadRate(fd, restored) == 0 && restored != previousRate) {
    SetAnyRate(fd, previousRate);
  }
  return device::ERROR_INVALID_PARAMETER;
}

void PosixLine::SetModemLevels(const DCB& dcb) {
  if (!hasModemLines_) return;
  const ModemLevels levels = ModemLevelsFor(dcb);
  const int dtr = TIOCM_DTR;
  const int rts = TIOCM_RTS;
  // A driver that cannot set a line keeps it as it is; the DCB still took.
  ::ioctl(Fd(), levels.dtr ? TIOCMBIS : TIOCMBIC, &dtr);
  ::ioctl(Fd(), levels.rts ? TIOCMBIS : TIOCMBIC, &rts);
}

device::DeviceError PosixLine::Purge(DWORD flags) {
  const bool input = (flags & device::PURGE_RXCLEAR) != 0;
  const bool output = (flags & device::PURGE_TXCLEAR) != 0;
  if (!input && !output) return ERROR_SUCCESS;
  if (input) Io().ResetDecoder();
  const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
  if (::tcflush(Fd(), queue) != 0) return Failure(errno);
  return ERROR_SUCCESS;
}

device::DeviceError PosixLine::RefreshModemStatus() {
  DWORD status = 0;
  if (hasModemLines_ && ReadModemStatus(status)) Driver().SetModemStatus(status);
  return ERROR_SUCCESS;
}

bool PosixLine::ReadModemStatus(DWORD& status) const {
  int lines = 0;
  if (::ioctl(Fd(), TIOCMGET, &lines) != 0) {
    // ENOTTY or EINVAL: this driver has no modem lines (a pseudo-terminal).
    return false;
  }
  status = StatusFromLines(lines);
  return true;
}

void PosixLine::WatchModemLines() {
  const int watched = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD;
  while (!stopModemWatch_) {
    if (::ioctl(Fd(), TIOCMIWAIT, watched) != 0) {
      if (errno == EINTR) continue;
      break;  // no change notification here, or the line is gone
    }
    DWORD status = 0;
    if (ReadModemStatus(status)) Driver().SetModemStatus(status);
  }
  const std::lock_guard lock(watchMutex_);
  watchEnded_ = true;
  watchEndedChanged_.notify_all();
}

// TIOCMIWAIT has no descriptor to wake it, and no call unblocks a signal
// and enters an ioctl in one step (as ppoll does for poll): a signal that
// lands after the watcher checked the stop flag but before it entered the
// wait is lost, and nothing else ends that wait short of a line change or a
// hang-up. So the signal is repeated, but only while the watcher has not
// ended, at doubling intervals: normally the first one ends it, and a
// watcher held up by the scheduler costs a handful of signals, not one
// every few milliseconds.
void PosixLine::StopModemWatch() {
  if (!modemWatch_.joinable()) return;
  stopModemWatch_ = true;
  std::unique_lock lock(watchMutex_);
  auto interval = std::chrono::milliseconds(1);
  constexpr auto kLongestInterval = std::chrono::milliseconds(500);
  while (!watchEnded_) {
    ::pthread_kill(modemWatch_.native_handle(), kWakeSignal);
    watchEndedChanged_.wait_for(lock, interval, [this] { return watchEnded_; });
    interval = std::min(interval * 2, kLongestInterval);
  }
  lock.unlock();
  modemWatch_.join();
}

device::DeviceError PosixLine::Close() {
  if (!Open()) return ERROR_SUCCESS;
  StopModemWatch();
  ::ioctl(Fd(), TIOCNXCL);
  StopIoAndRelease();  // closing the descriptor also releases the flock
  return ERROR_SUCCESS;
}

device::DeviceError OpenPosixDevice(const std::string& path,
                                    std::unique_ptr<device::SerialDevice>& device,
                                    std::shared_ptr<IoStats>& stats) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return OpenFailure(errno);
  if (::isatty(fd.Get()) == 0) return {device::ERROR_GEN_FAILURE, ENOTTY};
  // flock holds off every other user who locks, root included; TIOCEXCL
  // also stops other non-root openers that do not lock.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return OpenFailure(errno);
  ::ioctl(fd.Get(), TIOCEXCL);
  if (const device::DeviceError result = MakeRaw(fd.Get()); result != ERROR_SUCCESS) {
    return result;
  }

  auto counters = std::make_shared<IoStats>();
  auto driver = std::make_unique<SerialDriver>();
  auto line = std::make_unique<PosixLine>(std::move(fd), *driver, counters);
  PosixLine& started = *line;
  driver->AttachWire(std::move(line));
  started.Start();
  stats = std::move(counters);
  device = std::move(driver);
  return ERROR_SUCCESS;
}

device::DeviceError OpenPosixDevice(const std::string& path,
                                    std::unique_ptr<device::SerialDevice>& device) {
  std::shared_ptr<IoStats> stats;
  return OpenPosixDevice(path, device, stats);
}

}  // namespace cport::detail
