// The network line: a listening TCP socket as the wire of a serial device,
// opened by the port names "tcp:[HOST:]PORT" (raw bytes) and
// "rfc2217:[HOST:]PORT" (telnet with the COM-PORT-OPTION, see
// detail/rfc2217_session.h).
//
// One client at a time. A connection that arrives while one is attached is
// closed at once and reported as a notice. A client that goes away is like
// a virtual port's client closing the line: the device sees no hang-up, keeps
// listening, and the next connection attaches. What the device writes while
// no client is attached is written for nobody and dropped (a virtual port
// drops it when the next client attaches); a new client starts from a clean
// line. A client that sends but stops reading is treated as a virtual port's:
// without output flow control in the DCB, once its socket is full (or it
// suspended the flow) and it has taken nothing for 500 ms, the output it
// cannot take is dropped and counted until it reads again; with flow control
// the device's writes wait for it.
//
// Input is lossless: the client's socket is read only while the driver's
// input queue has room, and never for more than that room, so a client that
// sends faster than the device reads is held back by TCP. Telnet answers for
// an rfc2217 client wait in a buffer of bounded size; while it is full the
// client is not read.
//
// One I/O thread sleeps in poll() on the listening socket, the client's
// socket and a wake-up eventfd, with a timeout only while output waits for
// a client that takes nothing (the 500 ms above): an idle line never wakes.
// The device's DTR and RTS reach an rfc2217 client as its DSR and CTS; the
// client's DTR and RTS are the device's DSR and CTS. Break from the client is
// a break on the device's line. There is no line rate of its own: SET-BAUDRATE
// and the other settings are answered as taken, and logged through the
// notice sink; line timing is the driver's, both ways, at the DCB's rate.
// DropClient shuts the client's connection down, both ways, as a pulled
// cable would: the client reads the end of the stream, and the I/O thread
// detaches it as when it leaves.
//
// All Wire functions are called by the serial driver (detail/serial_driver.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cport/detail/rfc2217_session.h"
#include "cport/detail/serial_driver.h"
#include "cport/network_port_name.h"
#include "cport/posix/posix_fd.h"

namespace cport::detail {

// What a network line has done, for tests and benchmarks. Readable from any
// thread while the line runs and after it closed.
struct NetworkLineCounters {
  std::atomic<std::uint64_t> attaches{0};      // clients that attached
  std::atomic<std::uint64_t> refused{0};       // connections closed because one was attached
  std::atomic<std::uint64_t> dropped{0};       // bytes a stalled client could not take
  std::atomic<std::uint64_t> writtenAlone{0};  // bytes written while no client was attached
  std::atomic<std::uint64_t> wakeups{0};       // times poll() returned: none while idle
};

class NetworkLine final : public Wire, private Rfc2217Host {
 public:
  // Binds and listens; returns the system error (2 for a host that names no
  // local address, 5 for an address in use), or ERROR_SUCCESS and sets `line`.
  static device::DeviceError Create(SerialDriver& driver, const NetworkPortName& name,
                                    std::shared_ptr<NetworkLineCounters> counters,
                                    std::unique_ptr<NetworkLine>& line);
  ~NetworkLine() override;

  void Start();

  device::DeviceError ApplyState(const device::DCB& dcb) override;
  void OutputReady() override { Wake(); }
  void InputRoom() override { Wake(); }
  std::size_t WriteNow(std::span<const BYTE> bytes) override;
  device::DeviceError Purge(DWORD flags) override;
  device::DeviceError Close() override;
  device::DeviceError DropClient() override;
  // The client's URL: "socket://HOST:PORT" or "rfc2217://HOST:PORT", with
  // the port the system picked for port 0.
  std::string ClientPath() const override { return url_; }

 private:
  struct Passkey {};

 public:
  // Use Create.
  NetworkLine(Passkey, UniqueFd listener, NetworkPortName name, SerialDriver& driver,
              std::shared_ptr<NetworkLineCounters> counters);

 private:
  void Wake();
  void Run();
  void AcceptConnections();
  void Attach(UniqueFd client);
  void Detach();
  void ReadClient();
  void Drain();
  bool Flush();  // false: the client is gone
  void DiscardQueuedOutput(std::atomic<std::uint64_t>& counter);
  void Notice(const std::string& text);
  bool SendBlocked() const;

  // Rfc2217Host, on the I/O thread while a session decodes.
  void OnData(std::span<const std::uint8_t> bytes) override;
  void OnSend(std::span<const std::uint8_t> bytes) override;
  void OnSettingsRequested(const ComPortSettings& settings) override;
  void OnClientSignals(bool dtr, bool rts) override;
  void OnBreak() override;
  void OnPurge(std::uint8_t what) override;
  void OnFlowSuspended(bool suspended) override;

  UniqueFd listener_;
  UniqueFd wake_;
  const NetworkPortName name_;
  const std::string url_;
  SerialDriver& driver_;
  std::shared_ptr<NetworkLineCounters> counters_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> dropWhenFull_{true};
  std::atomic<std::uint8_t> deviceModem_{0};  // the device's DTR/RTS as the client's DSR/CTS

  // Shared with WriteNow (the writer's thread, under the driver's lock):
  // the client's socket and what waits to be sent to it, whole telnet
  // commands and escaped data in order. Never held while calling the driver.
  mutable std::mutex mutex_;
  UniqueFd client_;
  std::vector<BYTE> toClient_;
  std::size_t sentOfPending_ = 0;
  bool suspended_ = false;  // the client asked us to hold its data

  // I/O thread only.
  std::optional<Rfc2217Session> session_;
  bool waitingForRoom_ = false;  // the client's socket was full
  bool stalled_ = false;         // it has taken nothing for a while
};

// Opens a network port by its port name and hands back its counters too.
device::DeviceError OpenNetworkDevice(const std::string& name,
                                      std::unique_ptr<device::SerialDevice>& device,
                                      std::shared_ptr<NetworkLineCounters>& counters);

}  // namespace cport::detail
