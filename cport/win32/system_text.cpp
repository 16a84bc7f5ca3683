// The system's own descriptions of its error numbers, and of the POSIX
// numbers its C run-time knows.
#include "cport/win32/windows_serial_headers.h"

#include <array>
#include <cstring>

#include "cport/detail/device_openers.h"

namespace cport::detail {

std::string SystemText(device::DWORD code) {
  std::array<char, 512> text{};
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  text.data(), static_cast<DWORD>(text.size()), nullptr);
  // The text ends in a line break.
  while (length > 0 &&
         (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) {
    --length;
  }
  return std::string(text.data(), length);
}

std::string PosixReason(int posixErrno) {
  std::array<char, 256> text{};
  if (::strerror_s(text.data(), text.size(), posixErrno) != 0) {
    return "error " + std::to_string(posixErrno);
  }
  return text.data();
}

}  // namespace cport::detail
