#include "cport/posix/network_line.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "cport/detail/device_openers.h"
#include "cport/posix/system_error.h"

namespace cport::detail {

using device::DCB;
using device::ERROR_SUCCESS;

namespace {

constexpr std::size_t kChunk = 4096;
// How long a client whose socket is full may take nothing before the output
// it cannot take is dropped (as on a virtual port).
constexpr int kStalledClientMs = 500;
// Telnet answers kept for a client that does not read; past this its
// requests are not read either.
constexpr std::size_t kMaxPendingToClient = 64 * 1024;
// Reads per wake-up before output gets its turn again.
constexpr int kReadsPerWake = 16;

device::DeviceError ListenFailure(int err) {
  switch (err) {
    case EADDRINUSE:
    case EACCES:
      return {device::ERROR_ACCESS_DENIED, err};
    case EADDRNOTAVAIL:
      return {device::ERROR_FILE_NOT_FOUND, err};
    default:
      return ErrorFromErrno(err);
  }
}

// Binds the first address of `name` that takes a listening socket.
device::DeviceError Listen(NetworkPortName& name, UniqueFd& listener) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(name.port);
  if (::getaddrinfo(name.host.c_str(), port.c_str(), &hints, &found) != 0) {
    return ListenFailure(EADDRNOTAVAIL);  // the host names no address we could listen on
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
  int lastError = EADDRNOTAVAIL;
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    UniqueFd fd(::socket(at->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
      lastError = errno;
      continue;
    }
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.Get(), at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd.Get(), 8) != 0) {
      lastError = errno;
      continue;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
      name.port = ntohs(bound.ss_family == AF_INET6
                            ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                            : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    listener = std::move(fd);
    return ERROR_SUCCESS;
  }
  return ListenFailure(lastError);
}

std::string PeerText(const sockaddr_storage& peer) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  if (peer.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text.data(), text.size());
    return "[" + std::string(text.data()) + "]:" + std::to_string(ntohs(v6->sin6_port));
  }
  const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
  ::inet_ntop(AF_INET, &v4->sin_addr, text.data(), text.size());
  return std::string(text.data()) + ":" + std::to_string(ntohs(v4->sin_port));
}

// The DCB's settings in the protocol's values: what a client finds before
// it asks for anything.
ComPortSettings SettingsOf(const DCB& dcb) {
  ComPortSettings settings;
  settings.baudRate = dcb.BaudRate;
  settings.dataSize = dcb.ByteSize;
  settings.parity = static_cast<std::uint8_t>(dcb.Parity + 1);  // NOPARITY 0 is "none" 1, ...
  settings.stopSize = dcb.StopBits == device::ONE5STOPBITS  ? comport::kStopOneAndHalf
                      : dcb.StopBits == device::TWOSTOPBITS ? comport::kStopTwo
                                                            : comport::kStopOne;
  settings.flowControl = (dcb.Flags & device::DCB_fOutxCtsFlow) != 0 ? comport::kFlowHardware
                         : (dcb.Flags & device::DCB_fOutX) != 0      ? comport::kFlowXonXoff
                                                                     : comport::kFlowNone;
  return settings;
}

}  // namespace

device::DeviceError NetworkLine::Create(SerialDriver& driver, const NetworkPortName& name,
                                        std::shared_ptr<NetworkLineCounters> counters,
                                        std::unique_ptr<NetworkLine>& line) {
  NetworkPortName bound = name;
  UniqueFd listener;
  if (const device::DeviceError result = Listen(bound, listener); result != ERROR_SUCCESS) {
    return result;
  }
  line = std::make_unique<NetworkLine>(Passkey{}, std::move(listener), std::move(bound), driver,
                                       std::move(counters));
  if (!line->wake_.Valid()) {
    line.reset();
    return ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

NetworkLine::NetworkLine(Passkey, UniqueFd listener, NetworkPortName name, SerialDriver& driver,
                         std::shared_ptr<NetworkLineCounters> counters)
    : listener_(std::move(listener)),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      name_(std::move(name)),
      url_(ClientUrl(name_)),
      driver_(driver),
      counters_(std::move(counters)) {}

NetworkLine::~NetworkLine() {
  Close();
}

void NetworkLine::Start() {
  driver_.SetModemStatus(0);
  thread_ = std::thread([this] { Run(); });
}

void NetworkLine::Wake() {
  const std::uint64_t one = 1;
  // A full counter still wakes the thread, so a failed write loses nothing.
  [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
}

device::DeviceError NetworkLine::ApplyState(const DCB& dcb) {
  const DWORD dtr = (dcb.Flags >> device::DCB_fDtrControlShift) & 3;
  const DWORD rts = (dcb.Flags >> device::DCB_fRtsControlShift) & 3;
  deviceModem_ =
      static_cast<std::uint8_t>((dtr != device::DTR_CONTROL_DISABLE ? comport::kModemDsr : 0) |
                                (rts != device::RTS_CONTROL_DISABLE ? comport::kModemCts : 0));
  dropWhenFull_ = (dcb.Flags & (device::DCB_fOutxCtsFlow | device::DCB_fOutX)) == 0;
  Wake();  // the client may need telling, and held output may now be dropped
  return ERROR_SUCCESS;
}

void NetworkLine::Notice(const std::string& text) {
  driver_.Notify({device::DeviceNotice::Kind::Text, 0, text});
}

device::DeviceError NetworkLine::Purge(DWORD /*flags*/) {
  // Bytes from the client are handed to the driver as they are read, and
  // what waits for the client is whole telnet commands: nothing of ours to drop.
  return ERROR_SUCCESS;
}

device::DeviceError NetworkLine::Close() {
  if (thread_.joinable()) {
    stop_ = true;
    Wake();
    thread_.join();
  }
  const std::lock_guard lock(mutex_);
  client_.Reset();
  listener_.Reset();
  return ERROR_SUCCESS;
}

device::DeviceError NetworkLine::DropClient() {
  const std::lock_guard lock(mutex_);
  // Not closed here: the I/O thread may be polling the descriptor. The
  // shutdown wakes it with the end of the stream, and it detaches.
  if (client_.Valid() && ::shutdown(client_.Get(), SHUT_RDWR) != 0 && errno != ENOTCONN) {
    return ErrorFromErrno(errno);
  }
  return ERROR_SUCCESS;
}

bool NetworkLine::SendBlocked() const {
  return waitingForRoom_ || (suspended_ && driver_.OutputQueued() > 0);
}

void NetworkLine::Run() {
  while (!stop_) {
    bool attached = false;
    bool answersPiledUp = false;
    {
      const std::lock_guard lock(mutex_);
      attached = client_.Valid();
      answersPiledUp = toClient_.size() - sentOfPending_ > kMaxPendingToClient;
    }
    const bool readClient = attached && !answersPiledUp && driver_.ReceiveRoom() > 0;
    std::array<pollfd, 3> fds{};
    fds[0] = {wake_.Get(), POLLIN, 0};
    fds[1] = {listener_.Get(), POLLIN, 0};
    nfds_t count = 2;
    if (attached) {
      fds[count++] = {
          client_.Get(),
          static_cast<short>((readClient ? POLLIN : 0) | (waitingForRoom_ ? POLLOUT : 0)), 0};
    }
    // Output that a client takes nothing of is waited for only so long.
    const bool timed = attached && dropWhenFull_ && !stalled_ && SendBlocked();
    const int ready = ::poll(fds.data(), count, timed ? kStalledClientMs : -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;  // cannot happen with valid descriptors; never spin
    }
    ++counters_->wakeups;
    if (fds[0].revents != 0) {
      std::uint64_t value = 0;
      [[maybe_unused]] const ssize_t got = ::read(wake_.Get(), &value, sizeof value);
    }
    if (stop_) return;
    if (ready == 0 && timed) stalled_ = true;
    if (attached) {
      const short revents = fds[2].revents;
      if ((revents & POLLOUT) != 0) waitingForRoom_ = false;
      if ((revents & POLLIN) != 0) {
        ReadClient();
      } else if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        Detach();
      }
    }
    // After the client's bytes: a connection that came after it left is
    // the next client, and one that came while it was attached is refused.
    if (fds[1].revents != 0) AcceptConnections();
    if (session_) session_->SetModemState(deviceModem_, *this);
    Drain();
  }
}

void NetworkLine::AcceptConnections() {
  while (true) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    UniqueFd fd(::accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &length,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.Valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // EAGAIN: none left; anything else: try again at the next one
    }
    bool attached = false;
    {
      const std::lock_guard lock(mutex_);
      attached = client_.Valid();
    }
    if (!attached) {
      Attach(std::move(fd));
      continue;
    }
    fd.Reset();
    ++counters_->refused;
    Notice("refused network client " + PeerText(peer) + ": another client is attached");
  }
}

void NetworkLine::Attach(UniqueFd client) {
  const int on = 1;
  ::setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // What waits was written for nobody: the new client starts from a clean line.
  DiscardQueuedOutput(counters_->writtenAlone);
  waitingForRoom_ = false;
  stalled_ = false;
  {
    const std::lock_guard lock(mutex_);
    client_ = std::move(client);
    toClient_.clear();
    sentOfPending_ = 0;
    suspended_ = false;
  }
  if (name_.protocol == NetworkProtocol::kRfc2217) {
    session_.emplace(SettingsOf(driver_.State()));
    session_->Start(*this);
    session_->SetModemState(deviceModem_, *this);
  }
  ++counters_->attaches;
}

void NetworkLine::Detach() {
  const bool hadSignals = session_ && (session_->ClientDtr() || session_->ClientRts());
  session_.reset();
  waitingForRoom_ = false;
  stalled_ = false;
  {
    const std::lock_guard lock(mutex_);
    client_.Reset();
    toClient_.clear();
    sentOfPending_ = 0;
    suspended_ = false;
  }
  if (hadSignals) driver_.SetModemStatus(0);
}

void NetworkLine::ReadClient() {
  std::array<BYTE, kChunk> buffer;
  for (int i = 0; i < kReadsPerWake; ++i) {
    // Telnet never decodes to more bytes than it read, so reading no more
    // than the room keeps every byte.
    const std::size_t room = std::min(driver_.ReceiveRoom(), buffer.size());
    if (room == 0) return;  // the rest waits in the socket
    const ssize_t got = ::recv(client_.Get(), buffer.data(), room, 0);
    if (got > 0) {
      const std::span<const BYTE> bytes(buffer.data(), static_cast<std::size_t>(got));
      if (session_) {
        session_->Decode(bytes, *this);
      } else {
        driver_.Receive(bytes);
      }
      if (static_cast<std::size_t>(got) < room) return;  // the socket is empty
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    Detach();  // 0: the client closed; an error: the connection broke
    return;
  }
}

void NetworkLine::DiscardQueuedOutput(std::atomic<std::uint64_t>& counter) {
  const std::size_t queued = driver_.OutputQueued();
  if (queued == 0) return;
  driver_.ConsumeOutput(queued);
  counter += queued;
}

// Sends what waits for the client; false when the connection broke.
bool NetworkLine::Flush() {
  const std::lock_guard lock(mutex_);
  while (sentOfPending_ < toClient_.size()) {
    const ssize_t sent = ::send(client_.Get(), toClient_.data() + sentOfPending_,
                                toClient_.size() - sentOfPending_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      sentOfPending_ += static_cast<std::size_t>(sent);
      stalled_ = false;  // it reads again
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      waitingForRoom_ = true;
      return true;
    }
    return false;
  }
  toClient_.clear();
  sentOfPending_ = 0;
  return true;
}

void NetworkLine::Drain() {
  bool attached = false;
  {
    const std::lock_guard lock(mutex_);
    attached = client_.Valid();
  }
  if (!attached) {
    DiscardQueuedOutput(counters_->writtenAlone);
    return;
  }
  std::array<BYTE, kChunk> chunk;
  while (true) {
    if (!Flush()) {
      Detach();
      return;
    }
    bool suspended = false;
    {
      const std::lock_guard lock(mutex_);
      suspended = suspended_;
    }
    if (waitingForRoom_ || suspended) {
      // A client that has taken nothing for a while loses what it cannot
      // take, also what pending writes move into the queue meanwhile.
      if (!stalled_ || !dropWhenFull_) return;
      while (driver_.OutputQueued() > 0)
        DiscardQueuedOutput(counters_->dropped);
      return;
    }
    const std::size_t queued = driver_.PeekOutput(chunk);
    if (queued == 0) return;
    {
      const std::lock_guard lock(mutex_);
      const std::span<const BYTE> data(chunk.data(), queued);
      if (session_) {
        Rfc2217Session::Escape(data, toClient_);
      } else {
        toClient_.insert(toClient_.end(), data.begin(), data.end());
      }
    }
    driver_.ConsumeOutput(queued);
  }
}

std::size_t NetworkLine::WriteNow(std::span<const BYTE> bytes) {
  const std::lock_guard lock(mutex_);
  if (!client_.Valid() || !toClient_.empty() || suspended_) return 0;
  const std::span<const BYTE> taken = bytes.first(std::min(bytes.size(), kChunk));
  std::vector<BYTE> escaped;
  std::span<const BYTE> wire = taken;
  if (name_.protocol == NetworkProtocol::kRfc2217) {
    Rfc2217Session::Escape(taken, escaped);
    wire = escaped;
  }
  ssize_t sent = 0;
  do {
    sent = ::send(client_.Get(), wire.data(), wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  if (sent <= 0) return 0;  // full, or broken: the I/O thread finds out which
  if (static_cast<std::size_t>(sent) == wire.size()) return taken.size();
  if (wire.data() == taken.data()) return static_cast<std::size_t>(sent);
  // Escaped bytes cannot be handed back in part: the rest waits for the I/O
  // thread, which sends it before anything else.
  toClient_.assign(wire.begin() + sent, wire.end());
  sentOfPending_ = 0;
  Wake();
  return taken.size();
}

// --- Rfc2217Host

void NetworkLine::OnData(std::span<const std::uint8_t> bytes) {
  driver_.Receive(bytes);
}

void NetworkLine::OnSend(std::span<const std::uint8_t> bytes) {
  const std::lock_guard lock(mutex_);
  toClient_.insert(toClient_.end(), bytes.begin(), bytes.end());
}

void NetworkLine::OnSettingsRequested(const ComPortSettings& settings) {
  Notice("rfc2217 client asks for " + DescribeSettings(settings));
}

void NetworkLine::OnClientSignals(bool dtr, bool rts) {
  driver_.SetModemStatus((dtr ? device::MS_DSR_ON : 0) | (rts ? device::MS_CTS_ON : 0));
}

void NetworkLine::OnBreak() {
  driver_.Break();
}

void NetworkLine::OnPurge(std::uint8_t what) {
  // What the device wrote and the client has not been sent yet.
  if (what == comport::kPurgeReceive || what == comport::kPurgeBoth) {
    const std::size_t queued = driver_.OutputQueued();
    driver_.ConsumeOutput(queued);
  }
}

void NetworkLine::OnFlowSuspended(bool suspended) {
  const std::lock_guard lock(mutex_);
  suspended_ = suspended;
  if (!suspended) stalled_ = false;
}

// --- Opening

device::DeviceError OpenNetworkDevice(const std::string& name,
                                      std::unique_ptr<device::SerialDevice>& device,
                                      std::shared_ptr<NetworkLineCounters>& counters) {
  const std::optional<NetworkPortName> parsed = ParseNetworkPortName(name);
  if (!parsed) return device::ERROR_FILE_NOT_FOUND;
  auto shared = std::make_shared<NetworkLineCounters>();
  auto driver = std::make_unique<SerialDriver>();
  std::unique_ptr<NetworkLine> line;
  if (const device::DeviceError result = NetworkLine::Create(*driver, *parsed, shared, line);
      result != ERROR_SUCCESS) {
    return result;
  }
  NetworkLine& started = *line;
  driver->AttachWire(std::move(line));
  started.Start();
  counters = std::move(shared);
  device = std::move(driver);
  return ERROR_SUCCESS;
}

device::DeviceError OpenNetworkDevice(const std::string& name,
                                      std::unique_ptr<device::SerialDevice>& device) {
  std::shared_ptr<NetworkLineCounters> counters;
  return OpenNetworkDevice(name, device, counters);
}

}  // namespace cport::detail
