// The virtual port: a new pseudo-terminal pair whose slave path a client
// opens (ClientPath), while the device works the master.
//
// We keep our own slave descriptor open for the whole life of the port, so
// a client that closes the slave never makes the master hang up (which
// would give EIO and a level-triggered POLLHUP that spins). The slave is
// made raw at creation. A client that stops reading never stalls the
// device: without output flow control (CTS or XON/XOFF output), once the
// client's side is full and has taken nothing for a moment, the line behaves
// like a wire and what it cannot take is dropped and counted until the
// client reads again; a client that reads, however far behind, loses
// nothing. With flow control, writes wait for the client as they would for
// CTS.
// Output left unread while no client was attached is flushed when a client
// attaches. Attaching and detaching are seen through inotify on the slave
// path (IN_OPEN, IN_CLOSE), which wakes the I/O thread only when they
// happen. The line has no modem lines, parity or rate; SetCommState checks
// that the DCB is valid and keeps the flow-control choice.
//
// All Wire functions are called by the serial driver (detail/serial_driver.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "cport/detail/posix_fd.h"
#include "cport/detail/posix_io_thread.h"
#include "cport/detail/serial_driver.h"

namespace cport::detail {

// What a virtual line has done, for tests and logging. Readable from any
// thread while the line runs and after it closed.
// `dropped` counts the bytes the client's side could not take.
struct VirtualLineCounters : IoStats {
  std::atomic<std::uint64_t> attaches{0};      // a client opened the slave
  std::atomic<std::uint64_t> staleFlushed{0};  // bytes nobody took before a client attached
};

class VirtualLine final : public Wire {
 public:
  // Creates the pseudo-terminal pair; returns the system error, or
  // ERROR_SUCCESS and sets `line`.
  static DWORD Create(SerialDriver& driver, std::shared_ptr<VirtualLineCounters> counters,
                      std::unique_ptr<VirtualLine>& line);
  ~VirtualLine() override;

  void Start();

  DWORD ApplyState(const device::DCB& dcb) override;
  void OutputReady() override { io_.Wake(); }
  void InputRoom() override { io_.Wake(); }
  std::size_t WriteNow(std::span<const BYTE> bytes) override { return io_.WriteNow(bytes); }
  DWORD Purge(DWORD flags) override;
  DWORD Close() override;
  std::string ClientPath() const override { return slavePath_; }

 private:
  struct Passkey {};

 public:
  // Use Create.
  VirtualLine(Passkey, UniqueFd master, UniqueFd ownSlave, UniqueFd watch, std::string slavePath,
              SerialDriver& driver, std::shared_ptr<VirtualLineCounters> counters);

 private:
  void OnSlaveOpenedOrClosed();
  void FlushStaleOutput();
  std::uint64_t DiscardUnreadByClient();

  UniqueFd master_;
  UniqueFd ownSlave_;
  UniqueFd watch_;  // inotify on the slave path
  const std::string slavePath_;
  SerialDriver& driver_;
  std::shared_ptr<VirtualLineCounters> counters_;
  int clientsOpen_ = 0;  // I/O thread only
  PosixIoThread io_;
};

// Opens a virtual port and hands back its counters as well.
DWORD OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device,
                        std::shared_ptr<VirtualLineCounters>& counters);

}  // namespace cport::detail
