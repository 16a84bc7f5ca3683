// The modem-line dispatch steps and the signal announcement that the open
// and close sequences make: handlers learn the lines' levels after an open,
// and see them all off before a close.
#include "cport/CPort.h"

namespace cport {

void TCustomComPort::DispatchCTSChange() {
  const bool on = ReadModemSignals().Contains(msCTS);
  NotifyLinks(&PortLink::CTS, on);
  HandleCTSChange(on);
}

void TCustomComPort::DispatchDSRChange() {
  const bool on = ReadModemSignals().Contains(msDSR);
  NotifyLinks(&PortLink::DSR, on);
  HandleDSRChange(on);
}

void TCustomComPort::DispatchRLSDChange() {
  const bool on = ReadModemSignals().Contains(msRLSD);
  NotifyLinks(&PortLink::RLSD, on);
  HandleRLSDChange(on);
}

void TCustomComPort::AnnounceSignals(bool Opening) {
  if (Opening) {
    DispatchCTSChange();
    DispatchDSRChange();
    DispatchRLSDChange();
    return;
  }
  NotifyLinks(&PortLink::CTS, false);
  NotifyLinks(&PortLink::DSR, false);
  NotifyLinks(&PortLink::RLSD, false);
  HandleCTSChange(false);
  HandleDSRChange(false);
  HandleRLSDChange(false);
}

}  // namespace cport
