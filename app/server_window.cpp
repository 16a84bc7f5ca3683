#include "app/server_window.h"

#include <stdexcept>
#include <utility>

#include "app/baud_rate_choice.h"
#include "cport/network_port_name.h"
#include "platform/application.h"
#include "platform/decimal_separator.h"

namespace app {

namespace {

// A port failure as the program reports it: the component's error, its
// message followed by the device path and the system's reason.
class PortFailure final : public cport::EComPort {
 public:
  explicit PortFailure(const cport::EComPort& failure)
      : cport::EComPort(failure), text_(cport::DescribeFailure(failure)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

std::string NoticeLine(const cport::device::DeviceNotice& notice) {
  if (notice.kind == cport::device::DeviceNotice::Kind::Text) return notice.text;
  return OutputLostLine(notice.bytes);
}

}  // namespace

std::string OutputLostLine(std::uint64_t bytes) {
  return "output lost: " + std::to_string(bytes) + " bytes the client did not read";
}

void ApplyFixedPortSettings(cport::TComPort& port) {
  port.SetName("ComPort1");
  port.SetBaudRate(cport::br9600);
  port.SetPort("COM1");
  port.Parity().SetBits(cport::prNone);
  port.SetStopBits(cport::sbOneStopBit);
  port.SetDataBits(cport::dbEight);
  port.SetEvents(cport::AllComEvents);
  auto& flow = port.FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(cport::dtrDisable);
  flow.SetControlRTS(cport::rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  port.SetStoredProps(cport::TStoredProps{cport::spBasic});
  port.SetTriggersOnRxChar(true);
}

TfrmSerialServer::TfrmSerialServer(ServerView& view, platform::Application& application,
                                   std::filesystem::path parameterFile)
    : view_(view),
      application_(application),
      parameterFile_(std::move(parameterFile)),
      protocol_(parameterTable_, *this, parameterFile_, platform::DecimalSeparator()) {
  ApplyFixedPortSettings(ComPort1);
  ComPort1.SetOnRxChar(
      [this](cport::TCustomComPort& sender, std::int32_t count) { ComPort1RxChar(sender, count); });
  ComPort1.SetOnAfterOpen([this](cport::TCustomComPort&) { ++portOpenings_; });
  ComPort1.SetOnAfterClose([this](cport::TCustomComPort&) { ComPort1AfterClose(); });
  // Runs on the device's thread: the log line is written in the UI thread.
  ComPort1.SetOnDeviceNotice(
      [this, alive = std::weak_ptr<int>(alive_)](cport::TCustomComPort&,
                                                 const cport::device::DeviceNotice& notice) {
        application_.QueueCall([this, alive, line = NoticeLine(notice)] {
          if (alive.lock()) view_.AddLogLine(line);
        });
      });
}

TfrmSerialServer::~TfrmSerialServer() {
  application_.SetOnIdle(nullptr);
}

void TfrmSerialServer::FormCreate() {
  ResetWindowState();
  try {
    for (const std::string& warning :
         LoadOrCreateParameters(parameterTable_, parameterFile_, platform::DecimalSeparator())) {
      view_.AddLogLine(warning);
    }
  } catch (...) {
    // Shown, and start-up goes on: without the idle handler the simulation
    // would silently never run.
    application_.HandleException(std::current_exception());
  }
  application_.SetOnIdle([this](bool& done) { SimulationTick(done); });
}

void TfrmSerialServer::FormClose() {
  try {
    ComPort1.ClosePort();
  } catch (...) {
    // Closing the window never fails because of the port.
  }
}

void TfrmSerialServer::ResetWindowState() {
  protocol_.ClearLineAccumulator();
  view_.ClearLog();
  view_.ShowPortText(std::string(kSelectPortText));
  view_.ShowBaudRateText(std::string(kSelectBaudRateText));
  view_.SetOpenPortEnabled(false);
  portChosen_ = false;
  baudRateChosen_ = false;
  RawCounter = 0;
}

void TfrmSerialServer::cbComPortNrChange(int index, const std::string& text) {
  if (index >= 0) {
    ComPort1.SetPort("COM" + std::to_string(index + 1));
    portChosen_ = true;
  } else {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
      portChosen_ = false;
    } else {
      ComPort1.SetPort(text.substr(first, text.find_last_not_of(" \t") - first + 1));
      portChosen_ = true;
    }
  }
  UpdateOpenPortEnabled();
}

void TfrmSerialServer::cbBaudRateChange(int /*index*/, const std::string& text) {
  const auto choice = ChooseBaudRate(text);
  if (!choice) throw std::invalid_argument("'" + text + "' is not a valid baud rate");
  ApplyBaudRate(ComPort1, *choice);
  baudRateChosen_ = true;
  UpdateOpenPortEnabled();
}

void TfrmSerialServer::btOpenPortClick() {
  try {
    ComPort1.OpenPort();
  } catch (const cport::EComPort& failure) {
    if (failure.Detail().empty()) throw;
    throw PortFailure(failure);
  }
  if (!ComPort1.Connected()) {
    view_.ShowErrorBox("error open port");
    return;
  }
  view_.AddLogLine("com port open");
  const std::string clientPath = ComPort1.ClientPath();
  if (clientPath.empty()) return;
  const auto network = cport::ParseNetworkPortName(ComPort1.Port());
  if (!network) {
    view_.AddLogLine("virtual port " + clientPath);
    return;
  }
  view_.AddLogLine("network port " + clientPath);
  if (!cport::IsLoopbackHost(network->host)) {
    view_.AddLogLine("warning: anyone who can reach " + clientPath + " can talk to the device");
  }
}

void TfrmSerialServer::btClosePortClick() {
  ComPort1.ClosePort();
  // Clicked while a received chunk is handled: the port closes once the
  // handler has returned, and the window follows then.
  if (ComPort1.ClosePending()) {
    closeClickPending_ = true;
    return;
  }
  ShowCloseResult(ComPort1.Connected());
}

void TfrmSerialServer::ComPort1AfterClose() {
  if (lineFaults_) lineFaults_->Discard();
  if (!std::exchange(closeClickPending_, false)) return;
  ShowCloseResult(false);
}

void TfrmSerialServer::ShowCloseResult(bool stillConnected) {
  ResetWindowState();
  application_.ProcessMessages();
  if (stillConnected) {
    view_.ShowErrorBox("error close port");
  } else {
    view_.AddLogLine("com port close");
  }
}

void TfrmSerialServer::ComPort1RxChar(cport::TCustomComPort& /*Sender*/, std::int32_t Count) {
  if (lineFaults_) {
    lineFaults_->Receive(Count);  // a stall may hold the bytes on the line
    return;
  }
  ReceiveWaiting(Count);
}

void TfrmSerialServer::ReceiveWaiting(std::int32_t Count) {
  std::string chunk;
  ComPort1.ReceiveText(chunk, Count);
  protocol_.ReceiveChunk(chunk);
}

void TfrmSerialServer::UpdateOpenPortEnabled() {
  view_.SetOpenPortEnabled(portChosen_ && baudRateChosen_);
}

void TfrmSerialServer::SendText(std::string_view bytes) {
  if (lineFaults_) {
    lineFaults_->SendReplies(bytes);
    return;
  }
  ComPort1.SendText(std::string(bytes));
}

void TfrmSerialServer::AddLogLine(std::string_view line) {
  view_.AddLogLine(line);
}

void TfrmSerialServer::ProcessMessages() {
  application_.ProcessMessages();
}

void TfrmSerialServer::ReportError(std::exception_ptr error) {
  application_.HandleException(std::move(error));
}

}  // namespace app
