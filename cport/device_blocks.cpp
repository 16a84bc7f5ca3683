// Settings -> device records, and device status words -> component sets.
#include "cport/device_blocks.h"

#include <array>

namespace cport {

namespace {

using device::BYTE;
using device::DWORD;
using device::WORD;

constexpr std::array<DWORD, 16> kBaudRates = {0,     110,    300,    600,   1200,  2400,
                                              4800,  9600,   14400,  19200, 38400, 56000,
                                              57600, 115200, 128000, 256000};

DWORD Flag(bool on, DWORD bit) {
  return on ? bit : 0;
}

DWORD FlagsWord(bool discardNull, const TComParity& parity, const TComFlowControl& flow) {
  return device::DCB_fBinary | Flag(parity.Check(), device::DCB_fParity) |
         Flag(flow.OutCTSFlow(), device::DCB_fOutxCtsFlow) |
         Flag(flow.OutDSRFlow(), device::DCB_fOutxDsrFlow) |
         (DWORD{flow.ControlDTR()} << device::DCB_fDtrControlShift) |
         Flag(flow.DSRSensitivity(), device::DCB_fDsrSensitivity) |
         Flag(flow.TxContinueOnXoff(), device::DCB_fTXContinueOnXoff) |
         Flag(flow.XonXoffOut(), device::DCB_fOutX) | Flag(flow.XonXoffIn(), device::DCB_fInX) |
         Flag(parity.Check() && parity.Replace(), device::DCB_fErrorChar) |
         Flag(discardNull, device::DCB_fNull) |
         (DWORD{flow.ControlRTS()} << device::DCB_fRtsControlShift);
}

}  // namespace

DWORD BaudRateValue(TBaudRate baudRate, std::int32_t customBaudRate) {
  if (baudRate == brCustom) return static_cast<DWORD>(customBaudRate);
  return kBaudRates.at(baudRate);
}

device::DCB BuildDCB(TBaudRate baudRate, std::int32_t customBaudRate, TStopBits stopBits,
                     TDataBits dataBits, bool discardNull, char eventChar, const TComParity& parity,
                     const TComFlowControl& flowControl, const TComBuffer& buffer) {
  device::DCB dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = BaudRateValue(baudRate, customBaudRate);
  dcb.Flags = FlagsWord(discardNull, parity, flowControl);
  dcb.XonLim = static_cast<WORD>(buffer.InputSize() / 4);
  dcb.XoffLim = dcb.XonLim;
  dcb.ByteSize = static_cast<BYTE>(5 + dataBits);
  dcb.Parity = static_cast<BYTE>(parity.Bits());
  dcb.StopBits = static_cast<BYTE>(stopBits);
  dcb.XonChar = flowControl.XonChar();
  dcb.XoffChar = flowControl.XoffChar();
  dcb.ErrorChar = (dcb.Flags & device::DCB_fErrorChar) != 0 ? parity.ReplaceChar() : '\0';
  dcb.EofChar = 0;
  dcb.EvtChar = eventChar;
  return dcb;
}

device::COMMTIMEOUTS BuildTimeouts(const TComTimeouts& timeouts) {
  device::COMMTIMEOUTS record;
  record.ReadIntervalTimeout = static_cast<DWORD>(timeouts.ReadInterval());
  record.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.ReadTotalMultiplier());
  record.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.ReadTotalConstant());
  record.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.WriteTotalMultiplier());
  record.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.WriteTotalConstant());
  return record;
}

TModemSignals ModemSignalsFromStatus(DWORD status) {
  TModemSignals signals;
  if ((status & device::MS_CTS_ON) != 0) signals.Include(msCTS);
  if ((status & device::MS_DSR_ON) != 0) signals.Include(msDSR);
  if ((status & device::MS_RING_ON) != 0) signals.Include(msRing);
  if ((status & device::MS_RLSD_ON) != 0) signals.Include(msRLSD);
  return signals;
}

TComErrors LineErrorsFromWord(DWORD errors, bool parityCheck) {
  struct Mapping {
    DWORD bit;
    TComLineError error;
  };
  constexpr std::array<Mapping, 8> kMap = {{{device::CE_FRAME, lnFraming},
                                            {device::CE_RXPARITY, lnParity},
                                            {device::CE_OVERRUN, lnOverrun},
                                            {device::CE_BREAK, lnBreak},
                                            {device::CE_IOE, lnIOError},
                                            {device::CE_MODE, lnModeError},
                                            {device::CE_RXOVER, lnRxOverflow},
                                            {device::CE_TXFULL, lnTxFull}}};
  TComErrors result;
  for (const Mapping& m : kMap) {
    if ((errors & m.bit) == 0) continue;
    if (m.error == lnParity && !parityCheck) continue;
    result.Include(m.error);
  }
  return result;
}

}  // namespace cport
