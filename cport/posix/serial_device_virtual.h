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
// happen. These rules are the virtual line's own: it adds them to the shared
// tty I/O thread through LineHooks. Output dropped for a stalled client is
// told once per stall through the driver's notices (DeviceNotice::OutputLost)
// when the client reads again (the line has room again, or takes output) or
// goes away. The line has no modem lines, parity or rate of its own;
// SetCommState checks that the DCB is valid and keeps the flow-control
// choice, and line timing is the driver's, both ways.
//
// DropClient pulls the cable: a pseudo-terminal slave hangs up only when
// its master closes (TIOCVHANGUP on the slave would keep the path, but
// needs CAP_SYS_ADMIN), so the pair is replaced by a new one. The client's
// side hangs up; the port goes on at a new ClientPath, and what waited for
// the old client is gone with it.
//
// All Wire functions are called by the serial driver (detail/serial_driver.h).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "cport/posix/tty_line.h"

namespace cport::detail {

// What a virtual line has done, for tests and logging. Readable from any
// thread while the line runs and after it closed; WaitFor sleeps until the
// line has done something that makes `done` true.
struct VirtualLineCounters : IoStats {
  std::atomic<std::uint64_t> dropped{0};         // bytes the client's side could not take
  std::atomic<std::uint64_t> attaches{0};        // a client opened the slave
  std::atomic<std::uint64_t> staleFlushed{0};    // bytes nobody took before a client attached
  std::atomic<std::uint64_t> clientsDropped{0};  // DropClient calls that pulled the cable

  // False when `timeout` passed first.
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Called by the line after it changed a counter.
  void Changed();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

class VirtualLine final : private LineHooks, public TtyLine {
 public:
  // Creates the pseudo-terminal pair; returns the system error, or
  // ERROR_SUCCESS and sets `line`.
  static device::DeviceError Create(SerialDriver& driver,
                                    std::shared_ptr<VirtualLineCounters> counters,
                                    std::unique_ptr<VirtualLine>& line);
  ~VirtualLine() override;

  void Start();

  device::DeviceError ApplyState(const device::DCB& dcb) override;
  std::size_t WriteNow(std::span<const BYTE> bytes) override;
  device::DeviceError Purge(DWORD flags) override;
  device::DeviceError Close() override;
  std::string ClientPath() const override;
  device::DeviceError DropClient() override;

 private:
  struct Passkey {};

 public:
  // Use Create.
  VirtualLine(Passkey, UniqueFd master, UniqueFd ownSlave, UniqueFd watch, std::string slavePath,
              SerialDriver& driver, std::shared_ptr<VirtualLineCounters> counters);

 private:
  // --- LineHooks: the client attaching and leaving, and a stalled client ---
  int SideFd() const override { return watch_.Get(); }
  void OnSideReadable() override;
  int NoRoomLimitMs() const override;
  void OnNoRoomFor() override;
  bool DropUnsent(std::size_t count) override;
  void OnOutputTaken() override;
  bool WatchForRoom() const override { return stalled_; }
  void OnRoom() override;

  void FlushStaleOutput();
  void EndStall();
  std::uint64_t DiscardUnreadByClient();

  std::mutex lifeMutex_;  // DropClient and Close, one at a time
  UniqueFd ownSlave_;
  UniqueFd watch_;  // inotify on the slave path; the I/O thread's while it runs
  mutable std::mutex pathMutex_;
  std::string slavePath_;  // guarded by pathMutex_
  std::shared_ptr<VirtualLineCounters> counters_;
  // Without output flow control, a client that takes nothing for a while
  // loses what does not fit (as on a wire); with it, writes wait.
  std::atomic<bool> dropWhenStalled_{true};
  // The client took nothing for the limit; writes bypass the direct path
  // so that the I/O thread sees when it reads again. Written by the I/O
  // thread only.
  std::atomic<bool> stalled_{false};
  std::uint64_t lostThisStall_ = 0;  // I/O thread only
  int clientsOpen_ = 0;              // I/O thread only
};

// Opens a virtual port and hands back its counters as well.
device::DeviceError OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device,
                                      std::shared_ptr<VirtualLineCounters>& counters);

}  // namespace cport::detail
