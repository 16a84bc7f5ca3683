#include <cctype>
#include <charconv>

#include "app/port_description.h"

namespace app {

// The same names the device layer opens: COMn is the system's \\.\COMn, a
// name that begins with \\.\ is that device.
std::string PortDevicePath(std::string_view portName) {
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (portName.starts_with(kDevicePrefix)) return std::string(portName);
  if (portName.size() < 4) return {};
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(portName[i])) != "COM"[i]) return {};
  }
  const std::string_view digits = portName.substr(3);
  unsigned number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size() || number == 0 || number > 255 ||
      digits.front() == '0') {
    return {};
  }
  return std::string(kDevicePrefix) + "COM" + std::to_string(number);
}

}  // namespace app
