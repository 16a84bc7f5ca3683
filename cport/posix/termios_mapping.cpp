#include "cport/posix/termios_mapping.h"

#include <array>
#include <cstdlib>
#include <utility>

namespace cport::detail {

using device::BYTE;
using device::DCB;
using device::DWORD;
using device::ERROR_INVALID_PARAMETER;
using device::ERROR_SUCCESS;

namespace {

constexpr std::array<std::pair<DWORD, speed_t>, 31> kStandardSpeeds{{
    {50, B50},
    {75, B75},
    {110, B110},
    {134, B134},
    {150, B150},
    {200, B200},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
    {1152000, B1152000},
    {1500000, B1500000},
    {2000000, B2000000},
    {2500000, B2500000},
    {3000000, B3000000},
    {3500000, B3500000},
    {4000000, B4000000},
    {0, B0},
}};

DWORD DtrControl(const DCB& dcb) {
  return (dcb.Flags >> device::DCB_fDtrControlShift) & 3u;
}
DWORD RtsControl(const DCB& dcb) {
  return (dcb.Flags >> device::DCB_fRtsControlShift) & 3u;
}
bool Has(const DCB& dcb, DWORD flag) {
  return (dcb.Flags & flag) != 0;
}

// Windows takes 1.5 stop bits only with 5 data bits and 2 only with 6 to 8.
bool FramingValid(const DCB& dcb) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > device::SPACEPARITY) return false;
  switch (dcb.StopBits) {
    case device::ONESTOPBIT:
      return true;
    case device::ONE5STOPBITS:
      return dcb.ByteSize == 5;
    case device::TWOSTOPBITS:
      return dcb.ByteSize >= 6;
    default:
      return false;
  }
}

// The tty layer has no DTR/DSR handshake, no DSR sensitivity, no RTS toggle
// and no abort-on-error; pretending to run them would lose data silently.
bool FlowControlSupported(const DCB& dcb) {
  if (Has(dcb, device::DCB_fOutxDsrFlow) || Has(dcb, device::DCB_fDsrSensitivity) ||
      Has(dcb, device::DCB_fAbortOnError)) {
    return false;
  }
  if (DtrControl(dcb) == device::DTR_CONTROL_HANDSHAKE) return false;
  if (RtsControl(dcb) == device::RTS_CONTROL_TOGGLE) return false;
  const bool softwareFlow = Has(dcb, device::DCB_fOutX) || Has(dcb, device::DCB_fInX);
  return !(softwareFlow && dcb.XonChar == dcb.XoffChar);
}

tcflag_t DataBitsFlag(BYTE byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t ParityFlags(BYTE parity) {
  switch (parity) {
    case device::ODDPARITY:
      return PARENB | PARODD;
    case device::EVENPARITY:
      return PARENB;
    case device::MARKPARITY:
      return PARENB | CMSPAR | PARODD;
    case device::SPACEPARITY:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

tcflag_t ControlFlags(const DCB& dcb) {
  // HUPCL lowers DTR and RTS when the device is closed, as a Windows driver does.
  tcflag_t cflag = CREAD | CLOCAL | HUPCL | DataBitsFlag(dcb.ByteSize) | ParityFlags(dcb.Parity);
  if (dcb.StopBits != device::ONESTOPBIT) cflag |= CSTOPB;  // 1.5 with CS5, else 2
  // The tty layer ties both directions of the RTS/CTS handshake together.
  if (Has(dcb, device::DCB_fOutxCtsFlow) || RtsControl(dcb) == device::RTS_CONTROL_HANDSHAKE) {
    cflag |= CRTSCTS;
  }
  return cflag;
}

tcflag_t InputFlags(const DCB& dcb) {
  // IGNBRK, BRKINT and IGNPAR stay off: breaks and bad bytes must reach us.
  tcflag_t iflag = 0;
  if (Has(dcb, device::DCB_fParity)) iflag |= INPCK | PARMRK;
  if (Has(dcb, device::DCB_fOutX)) iflag |= IXON;
  if (Has(dcb, device::DCB_fInX)) iflag |= IXOFF;
  return iflag;
}

constexpr tcflag_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;
constexpr tcflag_t kControlBits = kFramingBits | CSTOPB | CRTSCTS | CLOCAL | CREAD | HUPCL;

}  // namespace

speed_t StandardSpeed(DWORD baud) {
  for (const auto& [rate, speed] : kStandardSpeeds) {
    if (rate == baud) return speed;
  }
  return B0;
}

DWORD MapDcbToTermios(const DCB& dcb, termios& tio) {
  if (dcb.BaudRate == 0 || !FramingValid(dcb) || !FlowControlSupported(dcb)) {
    return ERROR_INVALID_PARAMETER;
  }
  // The rate bits are copied raw: a custom rate reads as BOTHER, which
  // cfsetspeed refuses, and losing it would set B0 and drop DTR.
  const tcflag_t rateBits = tio.c_cflag & (CBAUD | CIBAUD);
  tio.c_iflag = InputFlags(dcb);
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag = ControlFlags(dcb) | rateBits;
  for (cc_t& c : tio.c_cc)
    c = 0;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  if (const speed_t speed = StandardSpeed(dcb.BaudRate); speed != B0) cfsetspeed(&tio, speed);
  return ERROR_SUCCESS;
}

ModemLevels ModemLevelsFor(const DCB& dcb) {
  const DWORD rts = RtsControl(dcb);
  return {.dtr = DtrControl(dcb) == device::DTR_CONTROL_ENABLE,
          .rts = rts == device::RTS_CONTROL_ENABLE || rts == device::RTS_CONTROL_HANDSHAKE};
}

bool TermiosTook(const termios& wanted, const termios& actual, bool pseudoTerminal) {
  const tcflag_t controlMask = pseudoTerminal ? (kControlBits & ~kFramingBits) : kControlBits;
  if ((wanted.c_cflag & controlMask) != (actual.c_cflag & controlMask)) return false;
  if (wanted.c_iflag != actual.c_iflag || wanted.c_oflag != actual.c_oflag ||
      wanted.c_lflag != actual.c_lflag) {
    return false;
  }
  for (const int index : {VMIN, VTIME, VSTART, VSTOP}) {
    if (wanted.c_cc[index] != actual.c_cc[index]) return false;
  }
  return true;
}

bool RateTook(DWORD wanted, DWORD actual) {
  const long long difference = std::llabs(static_cast<long long>(wanted) - actual);
  return difference * 50 <= static_cast<long long>(wanted);
}

}  // namespace cport::detail
