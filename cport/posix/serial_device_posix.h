// The POSIX tty backend: a real port, a USB adapter or a pseudo-terminal
// slave, opened by path (OpenPosixDevice in detail/device_openers.h).
//
// The line is held for exclusive use (flock, which also stops root, plus
// TIOCEXCL) and runs raw. SetCommState maps the DCB onto termios, applies it
// and reads it back: tcsetattr reports success even when a driver drops a
// setting, and one that did not take fails with ERROR_INVALID_PARAMETER
// (87) and the previous settings are put back. A pseudo-terminal carries
// whole bytes without framing: its driver forces 8 data bits without parity,
// which is accepted there (the rate, stop bits and flow control are still
// checked). Modem lines come from TIOCMGET, with changes through TIOCMIWAIT
// on a helper thread; a line whose driver has none (a pseudo-terminal)
// reports all of them off.
//
// All functions are called by the serial driver (see detail/serial_driver.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cport/posix/tty_line.h"

namespace cport::detail {

// True for the slave side of a pseudo-terminal.
bool IsPseudoTerminalSlave(int fd);

class PosixLine final : public TtyLine {
 public:
  // Takes an open, locked tty. Start once the driver holds the line.
  PosixLine(UniqueFd fd, SerialDriver& driver, std::shared_ptr<IoStats> stats);
  ~PosixLine() override;

  void Start();

  device::DeviceError ApplyState(const device::DCB& dcb) override;
  device::DeviceError Purge(DWORD flags) override;
  device::DeviceError RefreshModemStatus() override;
  device::DeviceError Close() override;
  // A UART keeps its rate; a pseudo-terminal slave moves bytes at once.
  LinePacing Pacing() const override {
    return pseudoTerminal_ ? LinePacing::kBothWays : LinePacing::kByTheLine;
  }

 private:
  device::DeviceError ApplyTermios(const device::DCB& dcb);
  void SetModemLevels(const device::DCB& dcb);
  bool ReadModemStatus(DWORD& status) const;
  void WatchModemLines();
  void StopModemWatch();

  const bool pseudoTerminal_;
  bool hasModemLines_ = false;
  std::thread modemWatch_;
  std::atomic<bool> stopModemWatch_{false};
  std::mutex watchMutex_;
  std::condition_variable watchEndedChanged_;
  bool watchEnded_ = false;  // guarded by watchMutex_
};

// Opens a tty as OpenPosixDevice does and hands back its I/O counters too.
device::DeviceError OpenPosixDevice(const std::string& path,
                                    std::unique_ptr<device::SerialDevice>& device,
                                    std::shared_ptr<IoStats>& stats);

}  // namespace cport::detail
