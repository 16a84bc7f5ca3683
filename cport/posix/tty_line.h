// What the real-tty line and the virtual line have in common: a tty
// descriptor worked by a PosixIoThread, the driver's wake-ups forwarded to
// it, raw mode, and turning a failed POSIX call into a device result.
//
// A derived line passes its LineHooks (or none) and starts the I/O thread
// with StartIo once the driver holds the line; StopIo ends it for good.
#pragma once

#include <memory>

#include "cport/detail/serial_driver.h"
#include "cport/posix/posix_fd.h"
#include "cport/posix/posix_io_thread.h"

namespace cport::detail {

// The result of a POSIX call that failed with `err` (see ErrorFromErrno).
device::DeviceError Failure(int err);
// The same for open(), flock() and the set-up that follows them: "no such
// device" and "in use" are told apart, everything else is a device failure.
device::DeviceError OpenFailure(int err);
// Raw mode at the current rate: nothing is echoed or translated before the
// first SetCommState.
device::DeviceError MakeRaw(int fd);

class TtyLine : public Wire {
 public:
  void OutputReady() override { io_.Wake(); }
  void InputRoom() override { io_.Wake(); }
  std::size_t WriteNow(std::span<const BYTE> bytes) override { return io_.WriteNow(bytes); }

 protected:
  TtyLine(UniqueFd fd, SerialDriver& driver, PosixIoThread::Options options);

  int Fd() const { return fd_.Get(); }
  bool Open() const { return fd_.Valid(); }
  SerialDriver& Driver() const { return driver_; }
  PosixIoThread& Io() { return io_; }

  void StartIo() { io_.Start(); }
  // Ends the I/O thread, then releases the descriptor.
  void StopIoAndRelease();

 private:
  UniqueFd fd_;
  SerialDriver& driver_;
  PosixIoThread io_;
};

}  // namespace cport::detail
