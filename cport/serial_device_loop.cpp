// "loop": an in-memory loopback plug. What is written is received again, and
// the plug ties the outputs to the inputs as a loopback connector does: DTR
// drives DSR and RLSD, RTS drives CTS. With line timing a byte is received
// as its last bit is sent.
#include <array>
#include <mutex>

#include "cport/detail/device_openers.h"
#include "cport/detail/serial_driver.h"

namespace cport::detail {

namespace {

bool LineOn(DWORD control) {
  return control != 0;
}  // enable, handshake or toggle

class LoopWire final : public Wire {
 public:
  explicit LoopWire(SerialDriver& driver) : driver_(driver) {}

  device::DeviceError ApplyState(const device::DCB& dcb) override {
    const DWORD dtr = (dcb.Flags >> device::DCB_fDtrControlShift) & 3;
    const DWORD rts = (dcb.Flags >> device::DCB_fRtsControlShift) & 3;
    DWORD status = 0;
    if (LineOn(dtr)) status |= device::MS_DSR_ON | device::MS_RLSD_ON;
    if (LineOn(rts)) status |= device::MS_CTS_ON;
    std::lock_guard lock(mutex_);
    if (!closed_) driver_.SetModemStatus(status);
    return device::ERROR_SUCCESS;
  }

  // Runs in the writer's thread; the mutex keeps two writers from handing
  // the same bytes back twice.
  void OutputReady() override {
    std::lock_guard lock(mutex_);
    std::array<BYTE, 256> chunk{};
    while (!closed_) {
      const std::size_t n = driver_.PeekOutput(chunk);
      if (n == 0) break;
      driver_.Receive(std::span<const BYTE>(chunk.data(), n));
      driver_.ConsumeOutput(n);
    }
  }

  // What comes back is the driver's own output, which took its line time.
  LinePacing Pacing() const override { return LinePacing::kOutputOnly; }

  device::DeviceError Close() override {
    std::lock_guard lock(mutex_);
    closed_ = true;
    return device::ERROR_SUCCESS;
  }

 private:
  SerialDriver& driver_;
  std::mutex mutex_;
  bool closed_ = false;
};

}  // namespace

device::DeviceError OpenLoopDevice(std::unique_ptr<device::SerialDevice>& device) {
  auto driver = std::make_unique<SerialDriver>();
  driver->AttachWire(std::make_unique<LoopWire>(*driver));
  device = std::move(driver);
  return device::ERROR_SUCCESS;
}

}  // namespace cport::detail
