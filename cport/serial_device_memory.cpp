// The memory line's far end and the device that opens on it.
#include "cport/serial_device_memory.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <span>
#include <stdexcept>
#include <utility>

#include "cport/detail/device_openers.h"
#include "cport/detail/serial_driver.h"

namespace cport::device {

// Lock order: Shared::mutex before the driver's lock. The driver never calls
// its wire while holding its own lock, so the wire may take Shared::mutex.
struct MemoryLine::Shared {
  std::string name;
  std::shared_ptr<detail::ManualClock> clock;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  detail::SerialDriver* driver = nullptr;  // the open device's
  std::vector<DeviceCall> calls;
  std::map<std::string, DeviceError, std::less<>> failNext;
  std::map<std::string, DeviceError, std::less<>> failAlways;
  std::string written;
  bool hold = false;
  std::optional<DWORD> limit;
  DWORD modem = 0;
  DCB state = detail::DefaultDcb();

  std::optional<DeviceError> TakeFailure(std::string_view call) {
    if (auto it = failNext.find(call); it != failNext.end()) {
      const DeviceError error = it->second;
      failNext.erase(it);
      return error;
    }
    if (auto it = failAlways.find(call); it != failAlways.end()) return it->second;
    return std::nullopt;
  }

  void Log(DeviceCall call) {
    calls.push_back(std::move(call));
    changed.notify_all();
  }

  // The far end takes everything queued, unless it holds writes.
  void Drain() {
    if (!driver || hold) return;
    std::array<BYTE, 256> chunk{};
    while (const std::size_t n = driver->PeekOutput(chunk)) {
      written.append(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
      driver->ConsumeOutput(n);
    }
    changed.notify_all();
  }
};

namespace {

using Shared = MemoryLine::Shared;
using Lock = std::unique_lock<std::mutex>;

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<Shared>, std::less<>> lines;
};

Registry& Lines() {
  static Registry registry;
  return registry;
}

std::shared_ptr<Shared> FindLine(std::string_view name) {
  Registry& registry = Lines();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.lines.find(name);
  return it == registry.lines.end() ? nullptr : it->second.lock();
}

class MemoryWire final : public detail::Wire {
 public:
  MemoryWire(std::shared_ptr<Shared> shared, detail::SerialDriver* driver)
      : shared_(std::move(shared)), driver_(driver) {}

  DeviceError ApplyState(const DCB& dcb) override {
    Lock lock(shared_->mutex);
    shared_->state = dcb;
    return ERROR_SUCCESS;
  }
  void OutputReady() override {
    Lock lock(shared_->mutex);
    if (shared_->driver == driver_) shared_->Drain();
  }
  DeviceError Close() override {
    Lock lock(shared_->mutex);
    if (shared_->driver == driver_) shared_->driver = nullptr;
    shared_->changed.notify_all();
    return ERROR_SUCCESS;
  }

 private:
  std::shared_ptr<Shared> shared_;
  detail::SerialDriver* driver_;
};

// Logs every call and fails the ones the test asked to fail; the rest goes
// to the driver.
class MemoryDevice final : public SerialDevice {
 public:
  explicit MemoryDevice(std::shared_ptr<Shared> shared)
      : shared_(std::move(shared)),
        driver_(std::make_unique<detail::SerialDriver>(shared_->clock)) {
    driver_->AttachWire(std::make_unique<MemoryWire>(shared_, driver_.get()));
  }

  detail::SerialDriver& Driver() { return *driver_; }

  DeviceError SetupComm(DWORD inQueue, DWORD outQueue) override {
    return Run({.name = "SetupComm", .args = {inQueue, outQueue}}, nullptr,
               [&] { return driver_->SetupComm(inQueue, outQueue); });
  }
  DeviceError SetCommState(const DCB& dcb) override {
    return Run({.name = "SetCommState", .dcb = dcb}, nullptr,
               [&] { return driver_->SetCommState(dcb); });
  }
  DeviceError GetCommState(DCB& dcb) override {
    return Run({.name = "GetCommState"}, nullptr, [&] { return driver_->GetCommState(dcb); });
  }
  DeviceError SetCommTimeouts(const COMMTIMEOUTS& t) override {
    return Run(
        {.name = "SetCommTimeouts",
         .args = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                  t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant},
         .timeouts = t},
        nullptr, [&] { return driver_->SetCommTimeouts(t); });
  }
  DeviceError SetCommMask(DWORD mask) override {
    return Run({.name = "SetCommMask", .args = {mask}}, nullptr,
               [&] { return driver_->SetCommMask(mask); });
  }
  DeviceError WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) override {
    return Run({.name = "WaitCommEvent"}, overlapped,
               [&] { return driver_->WaitCommEvent(mask, overlapped); });
  }
  DeviceError ReadFile(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) override {
    return Run({.name = "ReadFile", .args = {count}}, overlapped,
               [&] { return driver_->ReadFile(buffer, count, read, overlapped); });
  }
  DeviceError WriteFile(const void* buffer, DWORD count, DWORD* written,
                        OVERLAPPED* overlapped) override {
    const auto* bytes = static_cast<const char*>(buffer);
    DWORD passed = count;
    {
      Lock lock(shared_->mutex);
      if (shared_->limit) passed = std::min(count, *shared_->limit);
    }
    return Run({.name = "WriteFile",
                .args = {count},
                .data = bytes ? std::string(bytes, count) : std::string()},
               overlapped, [&] { return driver_->WriteFile(buffer, passed, written, overlapped); });
  }
  DeviceError GetOverlappedResult(OVERLAPPED* overlapped, DWORD* transferred, bool wait) override {
    return Run({.name = "GetOverlappedResult", .args = {wait ? 1u : 0u}}, nullptr,
               [&] { return driver_->GetOverlappedResult(overlapped, transferred, wait); });
  }
  DeviceError PurgeComm(DWORD flags) override {
    return Run({.name = "PurgeComm", .args = {flags}}, nullptr,
               [&] { return driver_->PurgeComm(flags); });
  }
  DeviceError ClearCommError(DWORD* errors, COMSTAT* stat) override {
    return Run({.name = "ClearCommError"}, nullptr,
               [&] { return driver_->ClearCommError(errors, stat); });
  }
  DeviceError GetCommModemStatus(DWORD* status) override {
    return Run({.name = "GetCommModemStatus"}, nullptr,
               [&] { return driver_->GetCommModemStatus(status); });
  }
  DeviceError CloseHandle() override {
    return Run({.name = "CloseHandle"}, nullptr, [&] { return driver_->CloseHandle(); });
  }
  void SetNoticeHandler(NoticeHandler handler) override {
    driver_->SetNoticeHandler(std::move(handler));
  }
  DeviceError SetLineTiming(bool on) override {
    return Run({.name = "SetLineTiming", .args = {on ? 1u : 0u}}, nullptr,
               [&] { return driver_->SetLineTiming(on); });
  }

 private:
  // An injected failure of an overlapped call starts nothing: the block
  // carries the error and its event stays unsignalled, as the driver does.
  template <typename Action>
  DeviceError Run(DeviceCall call, OVERLAPPED* overlapped, Action action) {
    std::optional<DeviceError> failure;
    {
      Lock lock(shared_->mutex);
      failure = shared_->TakeFailure(call.name);
    }
    if (failure && overlapped) {
      overlapped->Internal = *failure;
      overlapped->InternalHigh = 0;
      if (overlapped->hEvent) platform::ResetEvent(overlapped->hEvent);
    }
    const DeviceError result = failure ? *failure : action();
    call.result = result.code;
    Lock lock(shared_->mutex);
    shared_->Log(std::move(call));
    return result;
  }

  std::shared_ptr<Shared> shared_;
  std::unique_ptr<detail::SerialDriver> driver_;
};

std::string Hex(DWORD value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string DescribeDcb(const DCB& d) {
  auto n = [](auto v) { return std::to_string(static_cast<long long>(v)); };
  return "BaudRate=" + n(d.BaudRate) + ", Flags=" + Hex(d.Flags) + ", XonLim=" + n(d.XonLim) +
         ", XoffLim=" + n(d.XoffLim) + ", ByteSize=" + n(d.ByteSize) + ", Parity=" + n(d.Parity) +
         ", StopBits=" + n(d.StopBits) + ", XonChar=" + n(d.XonChar) +
         ", XoffChar=" + n(d.XoffChar) + ", ErrorChar=" + n(d.ErrorChar) +
         ", EofChar=" + n(d.EofChar) + ", EvtChar=" + n(d.EvtChar);
}

}  // namespace

std::string DeviceCall::ToString() const {
  std::string inner;
  if (name == "CreateFileA") {
    inner = path;
  } else if (dcb) {
    inner = DescribeDcb(*dcb);
  } else {
    for (std::uint64_t arg : args)
      inner += (inner.empty() ? "" : ", ") + std::to_string(arg);
  }
  return name + "(" + inner + ")";
}

// --- MemoryLine ---

MemoryLine::MemoryLine(std::string name, std::shared_ptr<detail::ManualClock> clock)
    : shared_(std::make_shared<Shared>()) {
  shared_->name = std::move(name);
  shared_->clock = std::move(clock);
  Registry& registry = Lines();
  std::lock_guard lock(registry.mutex);
  auto& slot = registry.lines[shared_->name];
  if (!slot.expired()) throw std::logic_error("memory line already registered: " + shared_->name);
  slot = shared_;
}

MemoryLine::~MemoryLine() {
  Registry& registry = Lines();
  std::lock_guard lock(registry.mutex);
  registry.lines.erase(shared_->name);
}

const std::string& MemoryLine::Name() const {
  return shared_->name;
}
std::string MemoryLine::Path() const {
  return "\\\\.\\" + shared_->name;
}

bool MemoryLine::IsOpen() const {
  Lock lock(shared_->mutex);
  return shared_->driver != nullptr;
}

bool MemoryLine::Inject(std::string_view bytes) {
  Lock lock(shared_->mutex);
  if (!shared_->driver) return false;
  shared_->driver->Receive(std::span(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
  return true;
}

bool MemoryLine::InjectFaulty(BYTE byte, DWORD errors) {
  Lock lock(shared_->mutex);
  if (!shared_->driver) return false;
  shared_->driver->ReceiveFaulty(byte, errors);
  return true;
}

bool MemoryLine::InjectLineError(DWORD errors) {
  Lock lock(shared_->mutex);
  if (!shared_->driver) return false;
  shared_->driver->LineError(errors);
  return true;
}

bool MemoryLine::InjectBreak() {
  Lock lock(shared_->mutex);
  if (!shared_->driver) return false;
  shared_->driver->Break();
  return true;
}

void MemoryLine::SetModemLines(DWORD status) {
  Lock lock(shared_->mutex);
  shared_->modem = status;
  if (shared_->driver) shared_->driver->SetModemStatus(status);
}

void MemoryLine::HoldWrites(bool hold) {
  Lock lock(shared_->mutex);
  shared_->hold = hold;
  shared_->Drain();
}

void MemoryLine::LimitWrites(std::optional<DWORD> limit) {
  Lock lock(shared_->mutex);
  shared_->limit = limit;
}

std::string MemoryLine::Written() const {
  Lock lock(shared_->mutex);
  return shared_->written;
}

std::string MemoryLine::TakeWritten() {
  Lock lock(shared_->mutex);
  return std::exchange(shared_->written, {});
}

bool MemoryLine::WaitForWritten(std::size_t count, std::chrono::milliseconds timeout) const {
  Lock lock(shared_->mutex);
  return shared_->changed.wait_for(lock, timeout, [&] { return shared_->written.size() >= count; });
}

std::size_t MemoryLine::OutputQueued() const {
  Lock lock(shared_->mutex);
  return shared_->driver ? shared_->driver->OutputQueued() : 0;
}

void MemoryLine::HangUp() {
  Lock lock(shared_->mutex);
  if (shared_->driver) shared_->driver->HangUp();
}

void MemoryLine::Reconnect() {
  Lock lock(shared_->mutex);
  if (shared_->driver) shared_->driver->Reconnect();
}

void MemoryLine::FailNext(std::string_view call, DeviceError error) {
  Lock lock(shared_->mutex);
  shared_->failNext[std::string(call)] = error;
}

void MemoryLine::FailAlways(std::string_view call, DeviceError error) {
  Lock lock(shared_->mutex);
  shared_->failAlways[std::string(call)] = error;
}

void MemoryLine::ClearFailures() {
  Lock lock(shared_->mutex);
  shared_->failNext.clear();
  shared_->failAlways.clear();
}

std::vector<DeviceCall> MemoryLine::Calls() const {
  Lock lock(shared_->mutex);
  return shared_->calls;
}

std::vector<std::string> MemoryLine::CallNames(const std::vector<std::string>& except) const {
  Lock lock(shared_->mutex);
  std::vector<std::string> names;
  for (const DeviceCall& call : shared_->calls) {
    if (std::find(except.begin(), except.end(), call.name) == except.end()) {
      names.push_back(call.name);
    }
  }
  return names;
}

void MemoryLine::ClearCalls() {
  Lock lock(shared_->mutex);
  shared_->calls.clear();
}

bool MemoryLine::WaitForCall(std::string_view call, std::size_t count,
                             std::chrono::milliseconds timeout) const {
  Lock lock(shared_->mutex);
  return shared_->changed.wait_for(lock, timeout, [&] {
    return static_cast<std::size_t>(
               std::count_if(shared_->calls.begin(), shared_->calls.end(),
                             [&](const DeviceCall& c) { return c.name == call; })) >= count;
  });
}

DCB MemoryLine::State() const {
  Lock lock(shared_->mutex);
  return shared_->state;
}

}  // namespace cport::device

namespace cport::detail {

bool OpenMemoryDevice(const std::string& name, std::unique_ptr<device::SerialDevice>& device,
                      device::DeviceError& result) {
  const std::shared_ptr<device::MemoryLine::Shared> shared = device::FindLine(name);
  if (!shared) return false;
  device::DeviceCall call{.name = "CreateFileA", .path = "\\\\.\\" + name};
  device::Lock lock(shared->mutex);
  if (const auto failure = shared->TakeFailure(call.name)) {
    result = *failure;
  } else if (shared->driver) {
    result = device::ERROR_ACCESS_DENIED;
  } else {
    auto opened = std::make_unique<device::MemoryDevice>(shared);
    shared->driver = &opened->Driver();
    shared->driver->SetModemStatus(shared->modem);
    device = std::move(opened);
    result = device::ERROR_SUCCESS;
  }
  call.result = result.code;
  shared->Log(std::move(call));
  return true;
}

}  // namespace cport::detail
