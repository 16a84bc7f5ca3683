#include "platform/win32/windows_headers.h"

#include <array>

#include "platform/win32/system_message.h"

namespace platform {

std::string SystemMessage(std::uint32_t code) {
  std::array<char, 512> text{};
  DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       text.data(), static_cast<DWORD>(text.size()), nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "system error " + std::to_string(code);
  return std::string(text.data(), length);
}

}  // namespace platform
