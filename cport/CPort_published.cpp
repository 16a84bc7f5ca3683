// TComPort's published settings and their default markers: design-time
// streaming writes a setting only when it differs from its declared default;
// settings without a declared default are always written, events when bound,
// and the derived flow-control summary never.
#include "cport/CPort.h"
#include "cport/com_thread.h"

namespace cport {

TComPort::~TComPort() {
  TComThread::RefuseDestructionInDelivery(*this);
  try {
    ClosePort();
  } catch (...) {
    // Destruction cannot report; the base class releases what is left.
  }
}

void TComPort::DescribePublished(std::vector<PublishedSetting>& out) const {
  TComponent::DescribePublished(out);
  const auto add = [&out](std::string name, bool streamed) {
    out.push_back({std::move(name), streamed});
  };
  const TComParity& parity = Parity();
  const TComBuffer& buffer = Buffer();
  const TComFlowControl& flow = FlowControl();
  const TComTimeouts& timeouts = Timeouts();

  add("Connected", Connected());
  add("BaudRate", true);
  add("Port", true);
  add("Parity.Bits", true);
  add("Parity.Check", parity.Check());
  add("Parity.Replace", parity.Replace());
  add("Parity.ReplaceChar", parity.ReplaceChar() != 0);
  add("StopBits", true);
  add("DataBits", true);
  add("DiscardNull", DiscardNull());
  add("EventChar", EventChar() != 0);
  add("Events", true);
  add("Buffer.InputSize", buffer.InputSize() != 1024);
  add("Buffer.OutputSize", buffer.OutputSize() != 1024);
  add("FlowControl.OutCTSFlow", true);
  add("FlowControl.OutDSRFlow", true);
  add("FlowControl.ControlDTR", true);
  add("FlowControl.ControlRTS", true);
  add("FlowControl.XonXoffOut", true);
  add("FlowControl.XonXoffIn", true);
  add("FlowControl.DSRSensitivity", flow.DSRSensitivity());
  add("FlowControl.TxContinueOnXoff", flow.TxContinueOnXoff());
  add("FlowControl.XonChar", flow.XonChar() != 17);
  add("FlowControl.XoffChar", flow.XoffChar() != 19);
  add("FlowControl.FlowControl", false);
  add("Timeouts.ReadInterval", timeouts.ReadInterval() != -1);
  add("Timeouts.ReadTotalMultiplier", timeouts.ReadTotalMultiplier() != 0);
  add("Timeouts.ReadTotalConstant", timeouts.ReadTotalConstant() != 0);
  add("Timeouts.WriteTotalMultiplier", timeouts.WriteTotalMultiplier() != 100);
  add("Timeouts.WriteTotalConstant", timeouts.WriteTotalConstant() != 1000);
  add("StoredProps", true);
  add("TriggersOnRxChar", true);
  add("SyncMethod", SyncMethod() != smThreadSync);
  add("OnAfterOpen", static_cast<bool>(OnAfterOpen()));
  add("OnAfterClose", static_cast<bool>(OnAfterClose()));
  add("OnBeforeOpen", static_cast<bool>(OnBeforeOpen()));
  add("OnBeforeClose", static_cast<bool>(OnBeforeClose()));
  add("OnRxChar", static_cast<bool>(OnRxChar()));
  add("OnRxBuf", static_cast<bool>(OnRxBuf()));
  add("OnTxEmpty", static_cast<bool>(OnTxEmpty()));
  add("OnBreak", static_cast<bool>(OnBreak()));
  add("OnRing", static_cast<bool>(OnRing()));
  add("OnCTSChange", static_cast<bool>(OnCTSChange()));
  add("OnDSRChange", static_cast<bool>(OnDSRChange()));
  add("OnRLSDChange", static_cast<bool>(OnRLSDChange()));
  add("OnRxFlag", static_cast<bool>(OnRxFlag()));
  add("OnError", static_cast<bool>(OnError()));
  add("OnRx80Full", static_cast<bool>(OnRx80Full()));
  add("OnException", static_cast<bool>(OnException()));
  add("CodePage", CodePage() != 0);
}

}  // namespace cport
