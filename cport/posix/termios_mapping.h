// Translation between a device control block and a tty's termios settings.
//
// Pure functions on plain structures, so the mapping is tested without a
// device. MapDcbToTermios builds the complete raw-mode settings a DCB asks
// for; TermiosTook checks settings read back from the kernel, because
// tcsetattr reports success even when a driver silently drops a flag.
// Rates outside the standard table go through termios2_rate.h, and the DTR
// and RTS levels through ModemLevelsFor.
//
// Errors: ERROR_INVALID_PARAMETER (87) for a DCB the tty layer cannot carry
// out, exactly where SetCommState would refuse it.
#pragma once

#include <termios.h>

#include "cport/serial_device.h"

namespace cport::detail {

// The cfsetspeed constant for a rate of the standard table, or B0 when the
// rate has none (it then goes through termios2; 0 baud is refused earlier).
speed_t StandardSpeed(device::DWORD baud);

// Fills `tio` with the raw-mode settings `dcb` asks for: no echo, no
// canonical input, no signals, no CR/LF translation, no output processing,
// VMIN 1 and VTIME 0, CLOCAL and CREAD, data bits, parity (mark and space
// through CMSPAR), stop bits, RTS/CTS and XON/XOFF flow control. Parity
// checking turns on INPCK and PARMRK, so errors and breaks arrive as marks.
// A rate of the standard table is set here; any other keeps the rate `tio`
// had, for termios2 to change after it has been applied. Returns ERROR_SUCCESS or
// ERROR_INVALID_PARAMETER.
device::DWORD MapDcbToTermios(const device::DCB& dcb, termios& tio);

// The DTR and RTS levels a DCB holds (true: high).
struct ModemLevels {
  bool dtr = false;
  bool rts = false;
  friend bool operator==(const ModemLevels&, const ModemLevels&) = default;
};
ModemLevels ModemLevelsFor(const device::DCB& dcb);

// True when `actual`, read back from the kernel, runs the line as `wanted`
// asks (the rate is not compared). A pseudo-terminal carries whole bytes
// with no framing: its driver forces CS8 without parity, so on one the data
// bits and parity are not compared.
bool TermiosTook(const termios& wanted, const termios& actual, bool pseudoTerminal);

// True when the rate read back is close enough to the one asked for that
// the far end decodes the line: UART clocks divide to the nearest rate they
// can make, and a serial line tolerates about 2 % of difference.
bool RateTook(device::DWORD wanted, device::DWORD actual);

}  // namespace cport::detail
