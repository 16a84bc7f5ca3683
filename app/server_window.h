// TfrmSerialServer: the simulated device's window logic, toolkit independent.
//
// It owns the serial port ComPort1, the parameter table, the line protocol
// and the simulation counters, and drives a ServerView (the Qt window, the
// console, or a test's recording view). The front end reports user actions
// through the ServerViewHandlers it implements; FormCreate installs the
// simulation as the application's idle handler; FormClose closes the port.
//
// User-interface thread only (the application's). Errors the handlers do not
// catch (EComPort from the port, a baud text that is no rate) propagate to
// the caller, which hands them to the application's error handling; a failure
// while a received line is carried out is reported there by the protocol.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/command_protocol.h"
#include "app/fault_option.h"
#include "app/parameter_table.h"
#include "app/port_faults.h"
#include "app/server_view.h"
#include "cport/CPort.h"

namespace platform {
class Application;
}

namespace app {

inline constexpr std::string_view kSelectPortText = "select port";
inline constexpr std::string_view kSelectBaudRateText = "select baud rate";

// The window's port settings: named ComPort1, 9600 8N1, no flow control,
// every event watched and delivered in the user-interface thread, only the
// basic group stored.
void ApplyFixedPortSettings(cport::TComPort& port);

// The log line for output the device dropped because its client took
// nothing (a virtual port's client that stopped reading).
std::string OutputLostLine(std::uint64_t bytes);

class TfrmSerialServer : public ServerViewHandlers, private ProtocolHost {
 public:
  // `view` and `application` must outlive the window; the parameter table
  // lives in `parameterFile`.
  TfrmSerialServer(ServerView& view, platform::Application& application,
                   std::filesystem::path parameterFile);
  ~TfrmSerialServer() override;
  TfrmSerialServer(const TfrmSerialServer&) = delete;
  TfrmSerialServer& operator=(const TfrmSerialServer&) = delete;

  // Resets the window, loads (or creates) the parameter file and installs
  // the idle handler; a parameter error is shown and start-up goes on.
  void FormCreate();
  // Closes the port, swallowing any error.
  void FormClose();
  // The nothing-chosen state: log empty, no port or rate chosen, counter 0.
  void ResetWindowState();

  // An entry index selects "COM<index + 1>"; typed text (index -1) is used
  // as the port name as typed, and empty text un-chooses the port.
  void cbComPortNrChange(int index, const std::string& text) override;
  // The text must be a positive rate (see ChooseBaudRate); anything else
  // throws std::invalid_argument and changes nothing.
  void cbBaudRateChange(int index, const std::string& text) override;
  void btOpenPortClick() override;
  // Asked while a received chunk is being handled (the user clicked during
  // its message handling), the click is carried out once that handler has
  // returned: the port cannot close while its event thread waits for us.
  void btClosePortClick() override;

  // From now on every reply and reading passes the line faults the options
  // ask for, and the port moves its bytes at the baud rate with
  // --line-timing; with none asked for, nothing changes. Logs the seed it
  // picked.
  void UseLineFaults(const LineFaultOptions& options);
  // Called when a hangup fault moved the virtual port's client side to a new
  // path, before "virtual port PATH" is logged. An exception reaches the
  // application's error handling.
  void SetOnClientPathMoved(std::function<void(const std::string& path)> handler) {
    onClientPathMoved_ = std::move(handler);
  }

  // OnRxChar: reads what is waiting and hands it to the protocol.
  void ComPort1RxChar(cport::TCustomComPort& Sender, std::int32_t Count);
  // The idle handler: one reading per call while ticked and open, paced to
  // one per second. A tick whose port was closed (or closed and opened
  // again) during the wait does nothing: its reading would never go out.
  void SimulationTick(bool& Done);

  const ParameterTable& Parameters() const { return parameterTable_; }
  const CommandProtocol& Protocol() const { return protocol_; }

  std::uint8_t RawCounter = 0;
  std::int32_t RawStep = 0;

 private:
  // ProtocolHost
  void SendText(std::string_view bytes) override;
  void AddLogLine(std::string_view line) override;
  void ProcessMessages() override;
  void ReportError(std::exception_ptr error) override;

  void ReceiveWaiting(std::int32_t count);
  void ClientPathMoved(const std::string& path);
  void SendReading(const std::string& reading);
  void UpdateOpenPortEnabled();
  // The close's visible end: the window reset, then the error box or the log line.
  void ShowCloseResult(bool stillConnected);
  void ComPort1AfterClose();

  ServerView& view_;
  platform::Application& application_;
  std::filesystem::path parameterFile_;
  ParameterTable parameterTable_{};
  CommandProtocol protocol_;
  bool portChosen_ = false;
  bool baudRateChosen_ = false;
  bool closeClickPending_ = false;  // a click's close waits for a delivery to return
  std::uint64_t portOpenings_ = 0;  // OnAfterOpen calls, to tell a reopened port
  // Queued device notices run only while the window still exists.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::unique_ptr<PortFaults> lineFaults_;  // none: output goes straight to the port
  std::function<void(const std::string&)> onClientPathMoved_;

 public:
  // Declared last so it is destroyed first: closing the port ends event
  // deliveries before the protocol and the table go.
  cport::TComPort ComPort1;
};

}  // namespace app
