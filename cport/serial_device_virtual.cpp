#include "cport/serial_device_virtual.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "cport/detail/device_openers.h"
#include "cport/detail/system_error.h"
#include "cport/detail/termios_mapping.h"

namespace cport::detail {

using device::DCB;
using device::ERROR_SUCCESS;

namespace {

DWORD Failure(int err) {
  const DWORD code = ErrorFromErrno(err);
  NoteErrnoReason(code, err);
  return code;
}

DWORD MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return Failure(errno);
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0 ? ERROR_SUCCESS : Failure(errno);
}

}  // namespace

DWORD VirtualLine::Create(SerialDriver& driver, std::shared_ptr<VirtualLineCounters> counters,
                          std::unique_ptr<VirtualLine>& line) {
  UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master.Valid()) return Failure(errno);
  if (::fcntl(master.Get(), F_SETFL, O_NONBLOCK) != 0 || ::grantpt(master.Get()) != 0 ||
      ::unlockpt(master.Get()) != 0) {
    return Failure(errno);
  }
  std::array<char, 128> name{};
  if (::ptsname_r(master.Get(), name.data(), name.size()) != 0) return Failure(errno);
  std::string path(name.data());
  UniqueFd ownSlave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!ownSlave.Valid()) return Failure(errno);
  if (const DWORD result = MakeRaw(ownSlave.Get()); result != ERROR_SUCCESS) return result;
  // Watched only after our own open, so that open is never taken for a client.
  UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!watch.Valid() || ::inotify_add_watch(watch.Get(), path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    return Failure(errno);
  }
  line =
      std::make_unique<VirtualLine>(Passkey{}, std::move(master), std::move(ownSlave),
                                    std::move(watch), std::move(path), driver, std::move(counters));
  return ERROR_SUCCESS;
}

VirtualLine::VirtualLine(Passkey, UniqueFd master, UniqueFd ownSlave, UniqueFd watch,
                         std::string slavePath, SerialDriver& driver,
                         std::shared_ptr<VirtualLineCounters> counters)
    : master_(std::move(master)),
      ownSlave_(std::move(ownSlave)),
      watch_(std::move(watch)),
      slavePath_(std::move(slavePath)),
      driver_(driver),
      counters_(std::move(counters)),
      io_(master_.Get(), driver,
          {.watchErrorCounters = false,
           .extraFd = watch_.Get(),
           .onExtraReadable = [this] { OnSlaveOpenedOrClosed(); },
           .stats = counters_}) {
  io_.SetDropWhenFull(true);
}

VirtualLine::~VirtualLine() {
  Close();
}

void VirtualLine::Start() {
  driver_.SetModemStatus(0);
  io_.Start();
}

DWORD VirtualLine::ApplyState(const DCB& dcb) {
  termios scratch{};
  if (const DWORD result = MapDcbToTermios(dcb, scratch); result != ERROR_SUCCESS) return result;
  const bool outputFlow = (dcb.Flags & (device::DCB_fOutxCtsFlow | device::DCB_fOutX)) != 0;
  io_.SetDropWhenFull(!outputFlow);
  io_.Wake();  // output held back for room may now be dropped
  return ERROR_SUCCESS;
}

DWORD VirtualLine::Purge(DWORD flags) {
  // What the client sent us waits in the master's input; what we sent the
  // client and it has not read yet waits in the slave's input.
  if ((flags & device::PURGE_RXCLEAR) != 0 && ::tcflush(master_.Get(), TCIFLUSH) != 0) {
    return Failure(errno);
  }
  if ((flags & device::PURGE_TXCLEAR) != 0) DiscardUnreadByClient();
  return ERROR_SUCCESS;
}

void VirtualLine::OnSlaveOpenedOrClosed() {
  alignas(inotify_event) std::array<char, 4096> buffer;
  while (true) {
    const ssize_t got = ::read(watch_.Get(), buffer.data(), buffer.size());
    if (got <= 0) break;
    for (ssize_t offset = 0; offset < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
      if ((event->mask & IN_OPEN) != 0) {
        if (clientsOpen_++ == 0) {
          FlushStaleOutput();
          ++counters_->attaches;
        }
      } else if ((event->mask & IN_CLOSE) != 0 && clientsOpen_ > 0) {
        --clientsOpen_;
      }
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

std::uint64_t VirtualLine::DiscardUnreadByClient() {
  // Reading our own slave end, rather than tcflush, also catches bytes the
  // kernel is still moving into the slave's input: a read that finds the
  // input empty first waits for that hand-over.
  std::array<char, 4096> sink;
  std::uint64_t discarded = 0;
  ssize_t got = 0;
  while ((got = ::read(ownSlave_.Get(), sink.data(), sink.size())) > 0 ||
         (got < 0 && errno == EINTR)) {
    if (got > 0) discarded += static_cast<std::uint64_t>(got);
  }
  return discarded;
}

void VirtualLine::FlushStaleOutput() {
  // What waits for a reader was written for nobody; so is what the driver
  // still queues. A new client starts from a clean line.
  std::uint64_t stale = DiscardUnreadByClient();
  const std::size_t queued = driver_.OutputQueued();
  driver_.ConsumeOutput(queued);
  counters_->staleFlushed += stale + queued;
}

DWORD VirtualLine::Close() {
  if (!master_.Valid()) return ERROR_SUCCESS;
  io_.Stop();
  watch_.Reset();
  ownSlave_.Reset();
  master_.Reset();
  return ERROR_SUCCESS;
}

DWORD OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device,
                        std::shared_ptr<VirtualLineCounters>& counters) {
  auto shared = std::make_shared<VirtualLineCounters>();
  auto driver = std::make_unique<SerialDriver>();
  std::unique_ptr<VirtualLine> line;
  if (const DWORD result = VirtualLine::Create(*driver, shared, line); result != ERROR_SUCCESS) {
    return result;
  }
  VirtualLine& started = *line;
  driver->AttachWire(std::move(line));
  started.Start();
  counters = std::move(shared);
  device = std::move(driver);
  return ERROR_SUCCESS;
}

DWORD OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device) {
  std::shared_ptr<VirtualLineCounters> counters;
  return OpenVirtualDevice(device, counters);
}

}  // namespace cport::detail
