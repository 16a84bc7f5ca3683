#include "cport/posix/serial_device_virtual.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "cport/detail/device_openers.h"
#include "cport/posix/termios_mapping.h"

namespace cport::detail {

using device::DCB;
using device::DeviceError;
using device::ERROR_SUCCESS;

namespace {

// How long a client's full side may take nothing before the client is taken
// to have stopped reading. A client that reads takes bytes long before.
constexpr int kStalledClientMs = 500;

}  // namespace

bool VirtualLineCounters::WaitFor(const std::function<bool()>& done,
                                  std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, done);
}

void VirtualLineCounters::Changed() {
  { const std::lock_guard lock(mutex_); }  // a waiter between its check and its sleep sees it
  changed_.notify_all();
}

namespace {

struct Pair {
  UniqueFd master;
  UniqueFd ownSlave;
  UniqueFd watch;
  std::string slavePath;
};

DeviceError OpenPair(Pair& pair) {
  pair.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  const int master = pair.master.Get();
  if (master < 0) return Failure(errno);
  if (::fcntl(master, F_SETFL, O_NONBLOCK) != 0 || ::grantpt(master) != 0 ||
      ::unlockpt(master) != 0) {
    return Failure(errno);
  }
  std::array<char, 128> name{};
  if (::ptsname_r(master, name.data(), name.size()) != 0) return Failure(errno);
  pair.slavePath = name.data();
  pair.ownSlave =
      UniqueFd(::open(pair.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!pair.ownSlave.Valid()) return Failure(errno);
  if (const DeviceError result = MakeRaw(pair.ownSlave.Get()); result != ERROR_SUCCESS) {
    return result;
  }
  // Watched only after our own open, so that open is never taken for a client.
  pair.watch = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!pair.watch.Valid() ||
      ::inotify_add_watch(pair.watch.Get(), pair.slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    return Failure(errno);
  }
  return ERROR_SUCCESS;
}

}  // namespace

DeviceError VirtualLine::Create(SerialDriver& driver, std::shared_ptr<VirtualLineCounters> counters,
                                std::unique_ptr<VirtualLine>& line) {
  Pair pair;
  if (const DeviceError result = OpenPair(pair); result != ERROR_SUCCESS) return result;
  line = std::make_unique<VirtualLine>(Passkey{}, std::move(pair.master), std::move(pair.ownSlave),
                                       std::move(pair.watch), std::move(pair.slavePath), driver,
                                       std::move(counters));
  return ERROR_SUCCESS;
}

std::string VirtualLine::ClientPath() const {
  const std::lock_guard lock(pathMutex_);
  return slavePath_;
}

DeviceError VirtualLine::DropClient() {
  const std::lock_guard life(lifeMutex_);
  if (!Open()) return device::ERROR_INVALID_HANDLE;
  Pair pair;
  if (const DeviceError result = OpenPair(pair); result != ERROR_SUCCESS) return result;
  Io().Stop();
  // The new master takes the old one's descriptor number, so a writer on
  // another thread always writes to a master; the old one closes, and the
  // kernel hangs up its slave and the client on it.
  if (::dup3(pair.master.Get(), Fd(), O_CLOEXEC) < 0) {
    const int error = errno;
    Io().Start();
    return Failure(error);
  }
  // Our own slave fd is read by Purge on any thread: it too keeps its number.
  if (::dup3(pair.ownSlave.Get(), ownSlave_.Get(), O_CLOEXEC) < 0) {
    ownSlave_ = std::move(pair.ownSlave);  // cannot happen with two open descriptors
  }
  watch_ = std::move(pair.watch);
  {
    const std::lock_guard lock(pathMutex_);
    slavePath_ = std::move(pair.slavePath);
  }
  clientsOpen_ = 0;
  EndStall();
  // What waited for the old client went with its cable.
  Driver().ConsumeOutput(Driver().OutputQueued());
  ++counters_->clientsDropped;
  Io().Start();
  counters_->Changed();
  return ERROR_SUCCESS;
}

VirtualLine::VirtualLine(Passkey, UniqueFd master, UniqueFd ownSlave, UniqueFd watch,
                         std::string slavePath, SerialDriver& driver,
                         std::shared_ptr<VirtualLineCounters> counters)
    : TtyLine(std::move(master), driver,
              {.watchErrorCounters = false, .hooks = this, .stats = counters}),
      ownSlave_(std::move(ownSlave)),
      watch_(std::move(watch)),
      slavePath_(std::move(slavePath)),
      counters_(std::move(counters)) {}

VirtualLine::~VirtualLine() {
  Close();
}

void VirtualLine::Start() {
  Driver().SetModemStatus(0);
  StartIo();
}

DeviceError VirtualLine::ApplyState(const DCB& dcb) {
  termios scratch{};
  if (const DWORD result = MapDcbToTermios(dcb, scratch); result != ERROR_SUCCESS) return result;
  const bool outputFlow = (dcb.Flags & (device::DCB_fOutxCtsFlow | device::DCB_fOutX)) != 0;
  dropWhenStalled_ = !outputFlow;
  OutputReady();  // output held back for room may now be dropped, or waited for
  return ERROR_SUCCESS;
}

std::size_t VirtualLine::WriteNow(std::span<const BYTE> bytes) {
  // While the client is stalled everything goes through the I/O thread,
  // which drops what finds no room and sees when the client reads again.
  if (stalled_) return 0;
  return TtyLine::WriteNow(bytes);
}

DeviceError VirtualLine::Purge(DWORD flags) {
  // What the client sent us waits in the master's input; what we sent the
  // client and it has not read yet waits in the slave's input.
  if ((flags & device::PURGE_RXCLEAR) != 0 && ::tcflush(Fd(), TCIFLUSH) != 0) {
    return Failure(errno);
  }
  if ((flags & device::PURGE_TXCLEAR) != 0) DiscardUnreadByClient();
  return ERROR_SUCCESS;
}

void VirtualLine::OnSideReadable() {
  alignas(inotify_event) std::array<char, 4096> buffer;
  while (true) {
    const ssize_t got = ::read(watch_.Get(), buffer.data(), buffer.size());
    if (got <= 0) break;
    for (ssize_t offset = 0; offset < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
      if ((event->mask & IN_OPEN) != 0) {
        // The attach is served before the client's first bytes are read
        // (LineHooks::SideFd), so the flush cannot take the reply to them.
        if (clientsOpen_++ == 0) {
          FlushStaleOutput();
          ++counters_->attaches;
          counters_->Changed();
        }
      } else if ((event->mask & IN_CLOSE) != 0 && clientsOpen_ > 0) {
        if (--clientsOpen_ == 0) EndStall();  // a client that left is no longer stalled
      }
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

int VirtualLine::NoRoomLimitMs() const {
  return dropWhenStalled_ ? kStalledClientMs : -1;
}

void VirtualLine::OnNoRoomFor() {
  if (dropWhenStalled_) stalled_ = true;
}

bool VirtualLine::DropUnsent(std::size_t count) {
  // Nobody reads the far end, and a wire has no back-pressure: what finds no
  // room is lost rather than holding the writer up. A client that is merely
  // behind gets everything.
  if (!stalled_ || !dropWhenStalled_) return false;
  lostThisStall_ += count;
  counters_->dropped += count;
  counters_->Changed();
  return true;
}

void VirtualLine::OnOutputTaken() {
  EndStall();
}

void VirtualLine::OnRoom() {
  EndStall();  // the client has read
}

void VirtualLine::EndStall() {
  if (!stalled_) return;
  stalled_ = false;
  if (const std::uint64_t lost = std::exchange(lostThisStall_, 0); lost > 0) {
    Driver().Notify({.kind = device::DeviceNotice::Kind::OutputLost, .bytes = lost, .text = {}});
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
  const std::uint64_t stale = DiscardUnreadByClient();
  const std::size_t queued = Driver().OutputQueued();
  Driver().ConsumeOutput(queued);
  counters_->staleFlushed += stale + queued;
}

DeviceError VirtualLine::Close() {
  const std::lock_guard life(lifeMutex_);
  if (!Open()) return ERROR_SUCCESS;
  StopIoAndRelease();
  watch_.Reset();
  ownSlave_.Reset();
  return ERROR_SUCCESS;
}

DeviceError OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device,
                              std::shared_ptr<VirtualLineCounters>& counters) {
  auto shared = std::make_shared<VirtualLineCounters>();
  auto driver = std::make_unique<SerialDriver>();
  std::unique_ptr<VirtualLine> line;
  if (const DeviceError result = VirtualLine::Create(*driver, shared, line);
      result != ERROR_SUCCESS) {
    return result;
  }
  VirtualLine& started = *line;
  driver->AttachWire(std::move(line));
  started.Start();
  counters = std::move(shared);
  device = std::move(driver);
  return ERROR_SUCCESS;
}

DeviceError OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device) {
  std::shared_ptr<VirtualLineCounters> counters;
  return OpenVirtualDevice(device, counters);
}

}  // namespace cport::detail
