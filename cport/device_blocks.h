// Pure translations between the port's settings and the device's records:
// the device control block, the timeouts record, the modem status word and
// the line-error word. No device is touched; any thread may call them.
#pragma once

#include <cstdint>

#include "cport/CPort.h"
#include "cport/serial_device.h"

namespace cport {

// The line rate a setting asks for: the number in the value's name, or the
// custom rate unchanged for brCustom.
device::DWORD BaudRateValue(TBaudRate baudRate, std::int32_t customBaudRate);

// The device control block for the given line settings. Error-character
// replacement needs both Parity.Check and Parity.Replace; the XON/XOFF limits
// are a quarter of the input queue size.
device::DCB BuildDCB(TBaudRate baudRate, std::int32_t customBaudRate, TStopBits stopBits,
                     TDataBits dataBits, bool discardNull, char eventChar, const TComParity& parity,
                     const TComFlowControl& flowControl, const TComBuffer& buffer);

// The five timeouts in record order, each 32-bit pattern passed on unchanged
// (-1 becomes MAXDWORD).
device::COMMTIMEOUTS BuildTimeouts(const TComTimeouts& timeouts);

// GetCommModemStatus bits -> modem signals.
TModemSignals ModemSignalsFromStatus(device::DWORD status);

// ClearCommError word -> line errors; the parity error counts only while
// parity is checked.
TComErrors LineErrorsFromWord(device::DWORD errors, bool parityCheck);

}  // namespace cport
